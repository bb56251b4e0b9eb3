#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>

#include "dataserver/dbhandle.h"
#include "dataserver/drelconnection.h"
#include "dataserver/store.h"

namespace lumbrio::test {

enum class Backend
{
    Sqlite,
    Postgres
};

inline std::string backendName(const ::testing::TestParamInfo<Backend> &info)
{
    return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
}

inline QString env(const char *name)
{
    const char *value = std::getenv(name);
    return value ? QString::fromLocal8Bit(value) : QString();
}

/// Where the throw-away PostgreSQL server of scripts/pg-test.sh listens; empty when the tests
/// were not started through it.
inline bool postgresAvailable()
{
    return !env("LUMBRIO_PG_PORT").isEmpty();
}

inline QString postgresUri()
{
    return QStringLiteral("postgresql://%1:%2@%3:%4/%5")
        .arg(env("LUMBRIO_PG_USER"), env("LUMBRIO_PG_PASSWORD"), env("LUMBRIO_PG_HOST"),
             env("LUMBRIO_PG_PORT"), env("LUMBRIO_PG_DATABASE"));
}

/// A fresh, empty store on one backend, a writable handle on it for filling it, and the
/// settings that point a TDrelConnection at it.
class StoreFixture
{
public:
    explicit StoreFixture(Backend backend) : m_backend(backend) {}

    /// Creates the store; returns false (with a failure recorded) when it cannot.
    bool create()
    {
        if (m_backend == Backend::Postgres && !postgresAvailable()) {
            ADD_FAILURE() << "no PostgreSQL server: run these tests through scripts/pg-test.sh";
            return false;
        }
        if (!m_dir.isValid()) {
            ADD_FAILURE() << "no temporary folder";
            return false;
        }
        const QString destination = m_backend == Backend::Sqlite
                                        ? m_dir.filePath(QStringLiteral("store.db"))
                                        : postgresUri();
        writer = createStore(parseStoreDestination(destination), true);
        return true;
    }

    /// Points a connection at the store.
    void configure(TDrelConnection &conn) const
    {
        if (m_backend == Backend::Sqlite) {
            conn.ComputerName.clear();
            conn.Settings = DrelSettings{QStringLiteral("store.db"), {}, {}, {}, m_dir.path()};
        } else {
            conn.ComputerName = env("LUMBRIO_PG_HOST");
            conn.Settings =
                DrelSettings{env("LUMBRIO_PG_DATABASE"), env("LUMBRIO_PG_USER"),
                             env("LUMBRIO_PG_PASSWORD"), env("LUMBRIO_PG_PORT"), QString()};
        }
    }

    Backend backend() const { return m_backend; }
    QString dir() const { return m_dir.path(); }

    std::unique_ptr<DbHandle> writer;

private:
    Backend m_backend;
    QTemporaryDir m_dir;
};

/// A plain item with the given code, description and first price.
inline StoreItem item(qint64 codigo, const QString &descrip, double precio)
{
    StoreItem row;
    row.Codigo = codigo;
    row.Descrip = descrip;
    row.Precio[0] = precio;
    return row;
}

/// The outputs of one BuscaPrecio call, with the inputs the request handler gives.
struct Lookup
{
    double Codigo = 0;
    double Precio = -1;
    QString Descrip;
    std::int8_t Ban_imps = -1;
    std::int8_t Tiene_Ofer = -1;
    double Fec_ini_ofer = -1;
    double Fec_fin_ofer = -1;
    double Pct_ofer = -1;
    std::int16_t Imps_Act = -1;
    double Mult = 1;
    std::int32_t Bans_Art = -1;
    double Precio_Sug = -1;
    std::int32_t Depto = -1;
    QString UnidadVta = QStringLiteral("x");
    QString Unidad = QStringLiteral("x");
    std::int8_t result = -1;

    /// Fills the inputs as the request handler does for a scanned text.
    static Lookup scanned(const QString &text)
    {
        Lookup l;
        l.Descrip = text;
        bool ok = false;
        const double number = text.toDouble(&ok);
        if (ok) {
            l.Codigo = number;
        } else {
            l.Mult = -1;
        }
        return l;
    }

    Lookup &run(IData_Srv_Drel &server)
    {
        result = server.BuscaPrecio(Codigo, 1, Precio, Descrip, Ban_imps, Tiene_Ofer, Fec_ini_ofer,
                                    Fec_fin_ofer, Pct_ofer, Imps_Act, Mult, Bans_Art, Precio_Sug,
                                    Depto, UnidadVta, Unidad);
        return *this;
    }
};

} // namespace lumbrio::test
