#include "dataserver/drelconnection.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <utility>

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "dataserver/datasrv.h"
#include "dataserver/dbhandle.h"

namespace lumbrio {

namespace {

// Splits "<head>=<digits>" into the head with its equals sign and the number, for up to 18
// digits (always within a 64-bit integer). False for any other text.
bool splitTrailingInteger(const QString &text, QString &head, qlonglong &value)
{
    qsizetype start = text.size();
    while (start > 0 && text[start - 1].unicode() >= '0' && text[start - 1].unicode() <= '9')
        --start;
    const qsizetype digits = text.size() - start;
    if (digits == 0 || digits > 18 || start == 0 || text[start - 1] != QLatin1Char('='))
        return false;
    bool ok = false;
    value = QStringView(text).mid(start).toLongLong(&ok);
    if (!ok)
        return false;
    head = text.left(start);
    return true;
}

const QString DefaultStoreFile = QStringLiteral("Srv_Drel.db");
const QString DefaultDatabase = QStringLiteral("drel");

// The tax rates, by tax number. The order is asked for: without it a server returns rows in
// whatever order it keeps them, which may change after an update.
const QString TaxQuery = QStringLiteral("Select PCT From Impuestos Order By Num");

std::string lowerAscii(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

} // namespace

OpenParams storeOpenParams(const QString &computerName, const DrelSettings &settings)
{
    OpenParams params;
    if (computerName.isEmpty()) {
        const QString base = settings.Base.isEmpty() ? DefaultStoreFile : settings.Base;
        const QDir confDir(settings.ConfDir.isEmpty() ? QStringLiteral(".") : settings.ConfDir);
        params.sqlitePath = QDir::cleanPath(confDir.absoluteFilePath(base));
        return params;
    }
    params.postgres = true;
    params.host = computerName;
    params.database = settings.Base.isEmpty() ? DefaultDatabase : settings.Base;
    params.user = settings.Usuario;
    params.password = settings.Clave;
    if (!settings.PuertoBd.isEmpty()) {
        bool ok = false;
        const int port = settings.PuertoBd.trimmed().toInt(&ok);
        if (!ok || port < 1 || port > 65535)
            throw DataServerError("PUERTO_BD '" + settings.PuertoBd.toStdString() +
                                  "' is no port number");
        params.port = port;
    }
    return params;
}

TDrelConnection::TDrelConnection() : m_thread(std::this_thread::get_id()) {}

TDrelConnection::~TDrelConnection()
{
    for (const auto &weak : m_dataHandles)
        if (auto handle = weak.lock())
            handle->close();
}

void TDrelConnection::checkThread() const
{
    if (std::this_thread::get_id() != m_thread)
        throw std::logic_error("store connection used from a thread other than its own");
}

bool TDrelConnection::Connected() const
{
    return m_handle != nullptr;
}

void TDrelConnection::SetConnected(bool on)
{
    checkThread();
    if (on == Connected())
        return;
    if (!on) {
        for (const auto &weak : m_dataHandles)
            if (auto handle = weak.lock())
                handle->close();
        m_dataHandles.clear();
        m_handle.reset();
        return;
    }
    auto handle = std::make_shared<DbHandle>(storeOpenParams(ComputerName, Settings));
    handle->open();
    m_handle = std::move(handle);
    if (AfterConnect) {
        try {
            AfterConnect();
        } catch (...) {
            SetConnected(false);
            throw;
        }
    }
}

DbHandle &TDrelConnection::handle()
{
    checkThread();
    if (!m_handle)
        throw DataServerError("the store connection is not connected");
    return *m_handle;
}

std::unique_ptr<IData_Srv_Drel> TDrelConnection::CreateDataSrv()
{
    auto handle = std::make_shared<DbHandle>(this->handle().params());
    handle->open();
    auto server = std::make_unique<DataSrv>(handle, Clock);
    server->prepareStatements();
    std::erase_if(m_dataHandles, [](const auto &weak) { return weak.expired(); });
    m_dataHandles.push_back(handle);
    return server;
}

void TDrelConnection::Reopen()
{
    handle(); // throws when not connected
    std::vector<std::shared_ptr<DbHandle>> handles{m_handle};
    for (const auto &weak : m_dataHandles)
        if (auto data = weak.lock())
            handles.push_back(std::move(data));
    // All are closed before any is opened: a failure part way leaves every handle lost, so
    // each later call asks for another reopen instead of using a stale session.
    for (const auto &h : handles)
        h->markLost();
    for (const auto &h : handles)
        h->open();
}

TClientDataSet::TClientDataSet(TDrelConnection &conn, QString providerName, QString commandText)
    : m_conn(conn), m_providerName(std::move(providerName)), m_commandText(std::move(commandText))
{
}

void TClientDataSet::Open()
{
    Close();
    if (m_providerName != QueryMultiaProvider)
        throw DataServerError("the data server has no provider named '" +
                              m_providerName.toStdString() + "'");
    if (m_commandText.contains(QLatin1Char(';')))
        throw DataServerError("the provider runs a single statement: \"" +
                              m_commandText.toStdString() + "\"");
    DbHandle &handle = m_conn.handle();

    QSqlError error;
    bool ok = false;
    {
        // A command ending in "=<whole number>" (the price query) runs as one statement
        // prepared once, with the number bound: parsing it anew for every code costs more
        // than the look-up itself. Any other command runs as it is.
        QString head;
        qlonglong literal = 0;
        const bool bound = splitTrailingInteger(m_commandText, head, literal);
        std::optional<QSqlQuery> oneOff;
        QSqlQuery *query = nullptr;
        if (bound) {
            query = &handle.prepared(head + QLatin1Char('?'));
            query->bindValue(0, literal);
        } else {
            query = &oneOff.emplace(handle.newQuery());
        }
        if ((bound || query->prepare(m_commandText)) && query->exec()) {
            const QSqlRecord record = query->record();
            for (int i = 0; i < record.count(); ++i) {
                m_columnNames.push_back(record.fieldName(i));
                m_columns.push_back(lowerAscii(record.fieldName(i).toStdString()));
            }
            while (query->next()) {
                std::vector<QVariant> row;
                row.reserve(m_columns.size());
                for (int i = 0; i < record.count(); ++i)
                    row.push_back(query->value(i));
                m_rows.push_back(std::move(row));
            }
            // A statement that fails while stepping through its rows ends the loop early.
            ok = !query->lastError().isValid();
        }
        if (!ok)
            error = query->lastError();
        // A prepared statement left stepping would hold its read lock until its next use.
        if (bound)
            query->finish();
    }
    if (!ok) {
        m_columns.clear();
        m_columnNames.clear();
        m_rows.clear();
        handle.fail(error, QStringLiteral("Couldn't open \"%1\"").arg(m_commandText));
    }
    m_active = true;
    m_row = 0;
    m_eof = m_rows.empty();
}

bool TClientDataSet::IsEmpty() const
{
    return m_rows.empty();
}

bool TClientDataSet::Eof() const
{
    return m_eof;
}

double TClientDataSet::number(std::string_view column) const
{
    if (!m_active)
        throw DataServerError("the dataset is not open");
    const std::string wanted = lowerAscii(column);
    const auto it = std::find(m_columns.begin(), m_columns.end(), wanted);
    if (it == m_columns.end())
        throw MissingColumn(column);
    if (m_rows.empty())
        return 0;
    const auto index = static_cast<std::size_t>(it - m_columns.begin());
    return columnNumber(m_rows[m_row][index], m_columnNames[index]);
}

void TClientDataSet::Next()
{
    if (!m_active)
        throw DataServerError("the dataset is not open");
    if (m_row + 1 < m_rows.size())
        ++m_row;
    else
        m_eof = true;
}

void TClientDataSet::Close()
{
    m_active = false;
    m_eof = true;
    m_row = 0;
    m_columns.clear();
    m_columnNames.clear();
    m_rows.clear();
}

DatosConexion PreparaDatos(TDrelConnection &conn)
{
    DatosConexion datos;
    datos.DataSrv = conn.CreateDataSrv();

    const double setting = datos.DataSrv->Set_Get(13, 0);
    // Truncation toward zero to a 64-bit integer; a value it cannot hold is an error.
    if (!(setting >= -9223372036854775808.0 && setting < 9223372036854775808.0))
        throw DataServerError("setting 13 holds " + std::to_string(setting) +
                              ", not a whole number in range");
    const auto whole = static_cast<std::int64_t>(setting);
    datos.PreciosNetos = (whole & 2) != 0;
    if (datos.PreciosNetos)
        return datos;

    TClientDataSet taxes(conn, QueryMultiaProvider, TaxQuery);
    taxes.Open();
    for (std::size_t i = 0; i < datos.TasasImpuesto.size() && !taxes.Eof(); ++i) {
        const double percent = taxes.number("PCT");
        if (!std::isfinite(percent))
            throw DataServerError("tax rate " + std::to_string(i + 1) + " is not a number");
        // Percent to fraction in double-extended precision, stored as a Double.
        datos.TasasImpuesto[i] = static_cast<double>(static_cast<long double>(percent) / 100.0L);
        taxes.Next();
    }
    taxes.Close();
    return datos;
}

} // namespace lumbrio
