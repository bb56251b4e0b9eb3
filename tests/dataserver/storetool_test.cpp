// lumbrio-db: creating stores, refusing to overwrite them, the demo catalogue.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSqlQuery>

#include "dataserver/drelconnection.h"
#include "dataserver/storetool.h"
#include "tests/dataserver/storefixture.h"

namespace lumbrio::test {
namespace {

struct ToolRun
{
    int status;
    QString out;
    QString err;
};

ToolRun runTool(const QStringList &args)
{
    ToolRun run{};
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    run.status = runStoreTool(args, out, err);
    return run;
}

class StoreTool : public ::testing::Test
{
protected:
    QString path(const char *name) const
    {
        return QDir(m_dir.path()).filePath(QString::fromUtf8(name));
    }

    /// Connects to the SQLite store at file and prepares the data as the server does.
    DatosConexion connect(TDrelConnection &conn, const char *file) const
    {
        conn.Settings = DrelSettings{QString::fromUtf8(file), {}, {}, {}, m_dir.path()};
        conn.SetConnected(true);
        return PreparaDatos(conn);
    }

    QTemporaryDir m_dir;
};

TEST_F(StoreTool, InitCreatesAnEmptyStoreAndNeverOverwritesWithoutForce)
{
    ToolRun run = runTool({QStringLiteral("init"), path("store.db")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    {
        TDrelConnection conn;
        const DatosConexion datos = connect(conn, "store.db");
        EXPECT_FALSE(datos.PreciosNetos);
        EXPECT_EQ(datos.TasasImpuesto, TTasasImpuesto{});
        Lookup l = Lookup::scanned(QStringLiteral("7501058617026"));
        EXPECT_EQ(l.run(*datos.DataSrv).result, 0);
    }

    run = runTool({QStringLiteral("demo"), path("store.db")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("--force"))) << run.err.toStdString();

    run = runTool({QStringLiteral("demo"), path("store.db"), QStringLiteral("--force")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    TDrelConnection conn;
    const DatosConexion datos = connect(conn, "store.db");
    Lookup l = Lookup::scanned(QStringLiteral("7501058617026"));
    EXPECT_EQ(l.run(*datos.DataSrv).result, 1);
}

TEST_F(StoreTool, DemoCatalogueServesTheCasesItPromises)
{
    const ToolRun run = runTool({QStringLiteral("demo"), path("demo.db"), QStringLiteral("--items"),
                                 QStringLiteral("250")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    TDrelConnection conn;
    const DatosConexion datos = connect(conn, "demo.db");
    EXPECT_FALSE(datos.PreciosNetos);
    EXPECT_EQ(datos.TasasImpuesto, (TTasasImpuesto{0.08, 0.265, 0.16, 1.6}));
    IData_Srv_Drel &srv = *datos.DataSrv;

    struct Case
    {
        const char *scanned;
        const char *descrip;
        double mult;
        std::int8_t tieneOfer;
    };
    const Case cases[] = {
        {"7501058617026", "JABÓN DE TOCADOR 150 G", 1, 0},
        {"7501020526066", "LECHE ENTERA 1 L", 1, 1},            // active offer
        {"7501059224001", "CAFÉ SOLUBLE 200 G", 1, 0},          // expired offer
        {"17501064191012", "CERVEZA CLARA LATA 355 ML", 24, 0}, // pack barcode
        {"BOLILLO", "BOLILLO PIEZA", 1, 0},                     // alphanumeric code
        {"2000000000039", "", 1, 0},                            // empty description
        {"3000000000249", "ARTÍCULO GENÉRICO 250", 1, 0},       // the last generated item
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scanned);
        Lookup l = Lookup::scanned(QString::fromUtf8(c.scanned));
        ASSERT_EQ(l.run(srv).result, 1);
        EXPECT_EQ(l.Descrip, QString::fromUtf8(c.descrip));
        EXPECT_EQ(l.Mult, c.mult);
        EXPECT_EQ(l.Tiene_Ofer, c.tieneOfer);
    }
    Lookup beyond = Lookup::scanned(QStringLiteral("3000000000250"));
    EXPECT_EQ(beyond.run(srv).result, 0);

    // Items with and without breaks, taxes simple and compound.
    TClientDataSet ds(
        conn, QueryMultiaProvider,
        QStringLiteral("Select Count(*) As N From Mnlus Where Rup_P1 > 0 Or Rup_P2 > 0"));
    ds.Open();
    EXPECT_GE(ds.number("N"), 5.0);
    TClientDataSet compound(conn, QueryMultiaProvider,
                            QStringLiteral("Select Count(*) As N From Mnlus Where Ban_imps <> 0"));
    compound.Open();
    EXPECT_GE(compound.number("N"), 3.0);
}

TEST_F(StoreTool, BadDestinationsAndArgumentsAreClearErrors)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("folder"));
    struct Case
    {
        QStringList args;
        int status;
        const char *message;
    };
    const Case cases[] = {
        {{QStringLiteral("init"), path("missing/store.db")}, 1, "does not exist"},
        {{QStringLiteral("init"), path("folder")}, 1, "folder"},
        {{QStringLiteral("init"), QStringLiteral("mysql://host/db")}, 1, "unsupported"},
        {{QStringLiteral("init"), QStringLiteral("postgresql://[bad/db")}, 1, "URI"},
        {{}, 2, "usage"},
        {{QStringLiteral("drop"), path("x.db")}, 2, "unknown command"},
        {{QStringLiteral("init")}, 2, "no destination"},
        {{QStringLiteral("init"), path("a.db"), path("b.db")}, 2, "unexpected"},
        {{QStringLiteral("demo"), path("a.db"), QStringLiteral("--items"), QStringLiteral("-3")},
         2,
         "--items"},
        {{QStringLiteral("demo"), path("a.db"), QStringLiteral("--items")}, 2, "--items"},
        {{QStringLiteral("init"), path("a.db"), QStringLiteral("--items"), QStringLiteral("3")},
         2,
         "unexpected"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const ToolRun run = runTool(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.message))) << run.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(path("a.db")));
}

TEST(StoreToolPostgres, WritesAServerStoreOnlyOnce)
{
    if (!postgresAvailable())
        GTEST_FAIL() << "no PostgreSQL server: run these tests through scripts/pg-test.sh";
    const QString uri = postgresUri();
    ToolRun run = runTool({QStringLiteral("demo"), uri, QStringLiteral("--force")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    run = runTool({QStringLiteral("init"), uri});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("already holds a store"))) << run.err.toStdString();

    // A server that is not there: a clear failure, no hang.
    run = runTool({QStringLiteral("init"), QStringLiteral("postgresql://127.0.0.1:1/drel")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("Couldn't open"))) << run.err.toStdString();

    TDrelConnection conn;
    StoreFixture(Backend::Postgres).configure(conn);
    conn.SetConnected(true);
    const DatosConexion datos = PreparaDatos(conn);
    Lookup l = Lookup::scanned(QStringLiteral("7501020526066"));
    ASSERT_EQ(l.run(*datos.DataSrv).result, 1);
    EXPECT_EQ(l.Descrip, QStringLiteral("LECHE ENTERA 1 L"));
    EXPECT_EQ(l.Tiene_Ofer, 1);
}

} // namespace
} // namespace lumbrio::test
