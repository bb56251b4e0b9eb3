#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <QDateTime>
#include <QString>
#include <QVariant>

#include "dataserver/Srv_Drel_TLB.h"
#include "dataserver/errors.h"
#include "pricing/row.h"
#include "pricing/taxes.h"

namespace lumbrio {

class DbHandle;
struct OpenParams;

/// The SRV_DREL keys of Conf.ini that locate the store, as raw texts (empty = absent), and the
/// folder of Conf.ini.
///   SQLite (no host): Base is the store file, relative to ConfDir; default "Srv_Drel.db".
///   PostgreSQL (a host): Base is the database, default "drel"; Usuario, Clave and PuertoBd
///   are passed on when given, otherwise libpq's conventions apply (PGUSER, PGPASSWORD, the
///   password file, PGPORT).
struct DrelSettings
{
    QString Base;
    QString Usuario;
    QString Clave;
    QString PuertoBd;
    QString ConfDir;
};

/// How ComputerName and the settings locate the store. Throws DataServerError for a port
/// that is not a number from 1 to 65535.
OpenParams storeOpenParams(const QString &computerName, const DrelSettings &settings);

/// The connection with the store database. Everything runs on the thread that created it;
/// a call from another thread throws std::logic_error.
///
/// SetConnected(true) opens the store read-only (a missing SQLite file is a failure, never a
/// new store; a PostgreSQL session is read-only with connect and statement time-outs) and
/// then raises AfterConnect inside the same call: if the handler throws, the connection is
/// closed again and the exception leaves SetConnected. SetConnected(false) closes the
/// connection and every DataSrv handle created from it (their calls throw DataServerError
/// afterwards); the handle objects themselves may be released later.
///
/// Reopen() is the remedy for ConnectionLost: it closes and reopens, once, the connection and
/// every DataSrv handle created from it that is still alive, keeping the same objects, so the
/// caller keeps its DataSrv and simply retries the failed request. It does not raise
/// AfterConnect again: setting 13 and the tax rates stay as read at the start. It throws
/// DataServerError when the store cannot be opened again (the handles then stay lost and a
/// later Reopen may try again) and when the connection is not connected.
class TDrelConnection
{
public:
    TDrelConnection();
    ~TDrelConnection();
    TDrelConnection(const TDrelConnection &) = delete;
    TDrelConnection &operator=(const TDrelConnection &) = delete;

    QString ComputerName; ///< empty: the SQLite store file; otherwise the PostgreSQL host
    DrelSettings Settings;
    std::function<void()> AfterConnect;
    /// The present local time, for the offer windows of DataSrv handles created afterwards.
    std::function<QDateTime()> Clock = [] { return QDateTime::currentDateTime(); };

    void SetConnected(bool on);
    bool Connected() const;
    /// A second handle on the same store (the DataSrv); needs the connection connected.
    std::unique_ptr<IData_Srv_Drel> CreateDataSrv();
    void Reopen();

    /// The connection's own database handle; throws DataServerError when not connected.
    DbHandle &handle();

private:
    void checkThread() const;

    std::thread::id m_thread;
    std::shared_ptr<DbHandle> m_handle;
    std::vector<std::weak_ptr<DbHandle>> m_dataHandles;
};

/// A client dataset on the store: the provider "QueryMultiaProvider" runs the command text (a
/// single statement, no bound values) and the rows are fetched on Open. Columns are found by
/// name without regard to case; a null reads 0. Next on the last row stays there and sets
/// Eof. Any other provider name fails on Open.
class TClientDataSet : public RowView
{
public:
    TClientDataSet(TDrelConnection &conn, QString providerName, QString commandText);

    void Open();
    bool IsEmpty() const;
    /// True for an empty result, and once Next was called on the last row.
    bool Eof() const;
    /// The current row's column as a number (0 for null, and in an empty result); throws
    /// MissingColumn when the result has no such column.
    double number(std::string_view column) const override;
    void Next();
    void Close();
    bool Active() const { return m_active; }

private:
    TDrelConnection &m_conn;
    QString m_providerName;
    QString m_commandText;
    bool m_active = false;
    bool m_eof = true;
    std::size_t m_row = 0;
    std::vector<std::string> m_columns; // lower-case names
    std::vector<QString> m_columnNames; // as the database gave them
    std::vector<std::vector<QVariant>> m_rows;
};

/// The provider every client dataset of the system names.
inline const QString QueryMultiaProvider = QStringLiteral("QueryMultiaProvider");

/// What the after-connect handler prepares for request handling.
struct DatosConexion
{
    std::unique_ptr<IData_Srv_Drel> DataSrv;
    bool PreciosNetos = false;
    TTasasImpuesto TasasImpuesto{};
};

/// Steps 1 to 3 of the after-connect handler: creates DataSrv, reads setting 13 (bit 1 of its
/// value truncated to a whole number: net prices) and, unless prices are net, loads the tax
/// rates as fractions from the first nine rows of Impuestos by tax number. Rates past the last
/// row are 0, and a null PCT reads 0. Any failure throws.
DatosConexion PreparaDatos(TDrelConnection &conn);

/// Days since 30 December 1899 plus the time of day as a fraction (OLE Automation date) of a
/// date and time taken as it is, without time zone.
double oleDate(const QDateTime &dateTime);

} // namespace lumbrio
