// What differs between the backends: locating the store, a missing or replaced store file, a
// PostgreSQL server that is unreachable, refuses the login or restarts.
#include <cstdlib>
#include <optional>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "dataserver/drelconnection.h"
#include "tests/dataserver/storefixture.h"

namespace lumbrio::test {
namespace {

// After the store went away under the open connection, both DataSrv and a client dataset
// report a lost connection; one Reopen serves item 1001 again, with its description and price.
void expectLostThenReopened(TDrelConnection &conn, IData_Srv_Drel &srv, const QString &descrip,
                            double precio)
{
    Lookup lost = Lookup::scanned(QStringLiteral("1001"));
    EXPECT_THROW(lost.run(srv), ConnectionLost);
    TClientDataSet ds(conn, QueryMultiaProvider, QStringLiteral("Select Precio From Mnlus"));
    EXPECT_THROW(ds.Open(), ConnectionLost);

    conn.Reopen();
    Lookup retried = Lookup::scanned(QStringLiteral("1001"));
    EXPECT_EQ(retried.run(srv).result, 1);
    EXPECT_EQ(retried.Descrip, descrip);
    ds.Open();
    EXPECT_EQ(ds.number("Precio"), precio);
}

TEST(StoreLocation, SettingsGiveTheStore)
{
    struct Case
    {
        const char *name;
        QString host;
        DrelSettings settings;
        bool postgres;
        QString pathOrDatabase;
        int port;
    };
    const std::vector<Case> cases = {
        {"default file",
         {},
         {{}, {}, {}, {}, QStringLiteral("/srv/lumbrio")},
         false,
         QStringLiteral("/srv/lumbrio/Srv_Drel.db"),
         -1},
        {"relative file",
         {},
         {QStringLiteral("data/tienda.db"), {}, {}, {}, QStringLiteral("/srv/lumbrio")},
         false,
         QStringLiteral("/srv/lumbrio/data/tienda.db"),
         -1},
        {"absolute file",
         {},
         {QStringLiteral("/var/db/t.db"), {}, {}, {}, QStringLiteral("/srv/lumbrio")},
         false,
         QStringLiteral("/var/db/t.db"),
         -1},
        {"default database", QStringLiteral("db.tienda"), {}, true, QStringLiteral("drel"), -1},
        {"named database and port",
         QStringLiteral("10.0.0.5"),
         {QStringLiteral("sucursal2"),
          QStringLiteral("caja"),
          QStringLiteral("s3cr3t"),
          QStringLiteral(" 5433 "),
          {}},
         true,
         QStringLiteral("sucursal2"),
         5433},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const OpenParams p = storeOpenParams(c.host, c.settings);
        EXPECT_EQ(p.postgres, c.postgres);
        EXPECT_TRUE(p.readOnly);
        EXPECT_EQ(c.postgres ? p.database : p.sqlitePath, c.pathOrDatabase);
        EXPECT_EQ(p.port, c.port);
        if (c.postgres) {
            EXPECT_EQ(p.host, c.host);
            EXPECT_EQ(p.user, c.settings.Usuario);
            EXPECT_EQ(p.password, c.settings.Clave);
        }
    }
    for (const char *port : {"abc", "0", "65536", "-5", "54 32"}) {
        SCOPED_TRACE(port);
        EXPECT_THROW(storeOpenParams(QStringLiteral("host"),
                                     DrelSettings{{}, {}, {}, QString::fromUtf8(port), {}}),
                     DataServerError);
    }
}

// ---- SQLite ---------------------------------------------------------------------------------

class SqliteStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.create());
        insertItem(*store.writer, item(1001, QStringLiteral("ANTES"), 10));
        store.configure(conn);
    }

    StoreFixture store{Backend::Sqlite};
    TDrelConnection conn;
};

TEST_F(SqliteStore, MissingOrBrokenFileFailsTheConnectAndCreatesNothing)
{
    conn.Settings.Base = QStringLiteral("absent.db");
    EXPECT_THROW(conn.SetConnected(true), DataServerError);
    EXPECT_FALSE(conn.Connected());
    EXPECT_FALSE(QFileInfo::exists(QDir(store.dir()).filePath(QStringLiteral("absent.db"))));

    QFile junk(QDir(store.dir()).filePath(QStringLiteral("junk.db")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    conn.Settings.Base = QStringLiteral("junk.db");
    EXPECT_THROW(conn.SetConnected(true), DataServerError);

    conn.Settings.Base = QStringLiteral(".");
    EXPECT_THROW(conn.SetConnected(true), DataServerError);
    EXPECT_FALSE(conn.Connected());
}

TEST_F(SqliteStore, ReplacedFileIsALostConnectionThatReopenRecovers)
{
    conn.SetConnected(true);
    auto srv = conn.CreateDataSrv();
    Lookup first = Lookup::scanned(QStringLiteral("1001"));
    EXPECT_EQ(first.run(*srv).Descrip, QStringLiteral("ANTES"));

    // Another tool writes a new store beside it and renames it over the old one.
    const QString next = QDir(store.dir()).filePath(QStringLiteral("next.db"));
    auto writer = createStore(parseStoreDestination(next), false);
    insertItem(*writer, item(1001, QStringLiteral("DESPUES"), 11));
    writer.reset();
    ASSERT_TRUE(
        std::rename(QFile::encodeName(next).constData(),
                    QFile::encodeName(QDir(store.dir()).filePath(QStringLiteral("store.db")))
                        .constData()) == 0);

    expectLostThenReopened(conn, *srv, QStringLiteral("DESPUES"), 11.0);
}

TEST_F(SqliteStore, RemovedFileStaysLostUntilItIsBack)
{
    conn.SetConnected(true);
    auto srv = conn.CreateDataSrv();
    const QString path = QDir(store.dir()).filePath(QStringLiteral("store.db"));
    const QString aside = path + QStringLiteral(".aside");
    ASSERT_TRUE(QFile::rename(path, aside));

    EXPECT_THROW(srv->Set_Get(13, 0), ConnectionLost);
    EXPECT_THROW(conn.Reopen(), DataServerError);
    EXPECT_THROW(srv->Set_Get(13, 0), ConnectionLost); // still lost: ask for another reopen

    ASSERT_TRUE(QFile::rename(aside, path));
    conn.Reopen();
    Lookup l = Lookup::scanned(QStringLiteral("1001"));
    EXPECT_EQ(l.run(*srv).result, 1);
}

// ---- PostgreSQL -----------------------------------------------------------------------------

class PostgresStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.create());
        insertItem(*store.writer, item(1001, QStringLiteral("ITEM"), 10));
        insertSetting(*store.writer, 13, 0.0);
        store.configure(conn);
    }

    StoreFixture store{Backend::Postgres};
    TDrelConnection conn;
};

TEST_F(PostgresStore, RestartIsALostConnectionThatReopenRecovers)
{
    conn.SetConnected(true);
    auto srv = conn.CreateDataSrv();
    ASSERT_EQ(srv->Set_Get(13, 0), 0.0);

    store.writer.reset();
    ASSERT_EQ(std::system(env("LUMBRIO_PG_RESTART").toLocal8Bit().constData()), 0);

    expectLostThenReopened(conn, *srv, QStringLiteral("ITEM"), 10.0);
}

TEST_F(PostgresStore, UnreachableOrRefusingServerFailsTheConnect)
{
    struct Case
    {
        const char *name;
        void (*change)(TDrelConnection &);
    };
    const Case cases[] = {
        {"wrong password", [](TDrelConnection &c) { c.Settings.Clave = QStringLiteral("nope"); }},
        {"unknown database", [](TDrelConnection &c) { c.Settings.Base = QStringLiteral("nodb"); }},
        {"nothing listening",
         [](TDrelConnection &c) { c.Settings.PuertoBd = QStringLiteral("1"); }},
        {"bad port", [](TDrelConnection &c) { c.Settings.PuertoBd = QStringLiteral("5432x"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        store.configure(conn);
        c.change(conn);
        EXPECT_THROW(conn.SetConnected(true), DataServerError);
        EXPECT_FALSE(conn.Connected());
    }
}

TEST_F(PostgresStore, AbsentKeysFollowLibpqConventions)
{
    // No user or password in Conf.ini: libpq takes them from its environment variables.
    const QByteArray user = env("LUMBRIO_PG_USER").toLocal8Bit();
    const QByteArray password = env("LUMBRIO_PG_PASSWORD").toLocal8Bit();
    ::setenv("PGUSER", user.constData(), 1);
    ::setenv("PGPASSWORD", password.constData(), 1);
    conn.Settings.Usuario.clear();
    conn.Settings.Clave.clear();
    EXPECT_NO_THROW({
        conn.SetConnected(true);
        EXPECT_EQ(conn.CreateDataSrv()->Set_Get(13, 0), 0.0);
    });
    ::unsetenv("PGUSER");
    ::unsetenv("PGPASSWORD");
}

} // namespace
} // namespace lumbrio::test
