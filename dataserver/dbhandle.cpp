#include "dataserver/dbhandle.h"

#include <atomic>
#include <stdexcept>
#include <utility>

#include <sys/stat.h>

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>

#include "dataserver/errors.h"

namespace lumbrio {

namespace {

// Primary SQLite result codes that mean the file under the handle is gone or no longer the
// store it was: I/O error, corrupt image, cannot open, not a database.
constexpr int SqliteIoErr = 10;
constexpr int SqliteCorrupt = 11;
constexpr int SqliteCantOpen = 14;
constexpr int SqliteNotADb = 26;

QString nextConnectionName()
{
    static std::atomic<unsigned> counter{0};
    return QStringLiteral("lumbrio-store-%1").arg(++counter);
}

std::string text(const QString &s)
{
    return s.toStdString();
}

bool fileIdentity(const QString &path, unsigned long long &dev, unsigned long long &ino)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    dev = static_cast<unsigned long long>(st.st_dev);
    ino = static_cast<unsigned long long>(st.st_ino);
    return true;
}

QString postgresOptions(const OpenParams &p)
{
    // Time-outs keep an unreachable or stuck server from hanging the caller; DateStyle fixes
    // the text form of timestamps read as text.
    QString serverOptions = QStringLiteral("-c statement_timeout=5000 -c DateStyle=ISO");
    if (p.readOnly)
        serverOptions += QStringLiteral(" -c default_transaction_read_only=on");
    QString options = QStringLiteral("connect_timeout=5;application_name=lumbrio;options='") +
                      serverOptions + QStringLiteral("'");
    if (!p.extraOptions.isEmpty())
        options += QLatin1Char(';') + p.extraOptions;
    return options;
}

} // namespace

DbHandle::DbHandle(OpenParams params)
    : m_params(std::move(params)), m_thread(std::this_thread::get_id())
{
}

DbHandle::~DbHandle()
{
    closeConnection();
}

void DbHandle::checkThread() const
{
    if (std::this_thread::get_id() != m_thread)
        throw std::logic_error("store connection used from a thread other than its own");
}

void DbHandle::open()
{
    checkThread();
    if (m_state == State::Open)
        return;
    closeConnection();

    const QString driver = m_params.postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver))
        throw DataServerError("the Qt SQL driver " + text(driver) + " is not installed");

    if (!m_params.postgres && m_params.mustExist) {
        const QFileInfo info(m_params.sqlitePath);
        if (!info.exists())
            throw DataServerError("store file '" + text(m_params.sqlitePath) + "' not found");
        if (!info.isFile())
            throw DataServerError("store path '" + text(m_params.sqlitePath) + "' is not a file");
    }

    m_name = nextConnectionName();
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver, m_name);
        if (m_params.postgres) {
            db.setHostName(m_params.host);
            db.setDatabaseName(m_params.database);
            db.setUserName(m_params.user);
            db.setPassword(m_params.password);
            db.setPort(m_params.port);
            db.setConnectOptions(postgresOptions(m_params));
        } else {
            db.setDatabaseName(m_params.sqlitePath);
            db.setConnectOptions(
                m_params.readOnly
                    ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000")
                    : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        }
        if (!db.open()) {
            failure = db.lastError().text();
        } else if (!m_params.postgres) {
            // SQLite opens lazily: read the schema now so that a file that is no database
            // fails here rather than on the first request.
            QSqlQuery probe(db);
            if (!probe.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master")) ||
                !probe.exec())
                failure = probe.lastError().text();
            // Pages are read through a memory map and kept in a larger cache: every lookup
            // otherwise costs a read system call per page.
            QSqlQuery tuning(db);
            if (failure.isEmpty() &&
                (!tuning.exec(QStringLiteral("PRAGMA mmap_size = 268435456")) ||
                 !tuning.exec(QStringLiteral("PRAGMA cache_size = -32768"))))
                failure = tuning.lastError().text();
        }
        if (!failure.isEmpty())
            db.close();
    }
    if (!failure.isEmpty()) {
        QSqlDatabase::removeDatabase(m_name);
        m_name.clear();
        const QString where = m_params.postgres
                                  ? QStringLiteral("PostgreSQL database '%1' on '%2'")
                                        .arg(m_params.database, m_params.host)
                                  : QStringLiteral("store file '%1'").arg(m_params.sqlitePath);
        throw DataServerError("Couldn't open " + text(where) + ": " + text(failure));
    }
    if (!m_params.postgres)
        rememberFileIdentity();
    m_state = State::Open;
}

void DbHandle::rememberFileIdentity()
{
    m_fileDev = m_fileIno = 0;
    fileIdentity(m_params.sqlitePath, m_fileDev, m_fileIno);
}

void DbHandle::close()
{
    closeConnection();
    m_state = State::Closed;
}

void DbHandle::markLost()
{
    // The connection itself is released by the next open() or close(): a statement of it may
    // still be on the caller's stack while the failure unwinds.
    m_state = State::Lost;
}

void DbHandle::closeConnection()
{
    // Statements first: they must not outlive the connection they were prepared on.
    m_prepared.clear();
    if (m_name.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
    m_name.clear();
}

void DbHandle::checkUsable()
{
    checkThread();
    if (m_state == State::Lost)
        throw ConnectionLost("the store connection was lost and has not been reopened");
    if (m_state == State::Closed)
        throw DataServerError("the store connection is not open");
    if (!m_params.postgres) {
        // An open SQLite handle keeps reading a file that was replaced or removed; the
        // replacement is only seen through a new handle.
        unsigned long long dev = 0;
        unsigned long long ino = 0;
        if (!fileIdentity(m_params.sqlitePath, dev, ino) || dev != m_fileDev || ino != m_fileIno) {
            markLost();
            throw ConnectionLost("store file '" + text(m_params.sqlitePath) +
                                 "' was replaced or removed");
        }
    }
}

QSqlQuery &DbHandle::prepared(const QString &sql)
{
    checkUsable();
    auto it = m_prepared.find(sql);
    if (it != m_prepared.end())
        return *it->second;
    auto query = std::make_unique<QSqlQuery>(QSqlDatabase::database(m_name, false));
    query->setForwardOnly(true);
    if (!query->prepare(sql))
        fail(query->lastError(), QStringLiteral("Couldn't prepare \"%1\"").arg(sql));
    return *m_prepared.emplace(sql, std::move(query)).first->second;
}

QSqlQuery DbHandle::newQuery()
{
    checkUsable();
    QSqlQuery query(QSqlDatabase::database(m_name, false));
    query.setForwardOnly(true);
    return query;
}

bool DbHandle::isLost(const QSqlError &error)
{
    if (m_state != State::Open)
        return m_state == State::Lost;
    // The error's type says little: Qt's SQLite driver files every failed step under
    // ConnectionError. The file and SQLite's own result code tell instead.
    if (!m_params.postgres) {
        unsigned long long dev = 0;
        unsigned long long ino = 0;
        if (!fileIdentity(m_params.sqlitePath, dev, ino) || dev != m_fileDev || ino != m_fileIno)
            return true;
        bool ok = false;
        const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
        return ok && (code == SqliteIoErr || code == SqliteCorrupt || code == SqliteCantOpen ||
                      code == SqliteNotADb);
    }
    // A statement can fail for its own reasons (a time-out, a missing table); the session is
    // only lost when a trivial statement fails as well.
    QSqlQuery probe(QSqlDatabase::database(m_name, false));
    return !probe.prepare(QStringLiteral("SELECT 1")) || !probe.exec();
}

void DbHandle::fail(const QSqlError &error, const QString &context)
{
    const std::string message = text(context) + ": " + text(error.text());
    if (isLost(error)) {
        markLost();
        throw ConnectionLost(message);
    }
    throw DataServerError(message);
}

void DbHandle::exec(const QString &sql, const QVariantList &values)
{
    QSqlError error;
    {
        QSqlQuery query = newQuery();
        // PostgreSQL prepares only queries and data changes, so a statement without values
        // (the schema's) runs as it is.
        if (values.isEmpty()) {
            if (query.exec(sql))
                return;
        } else if (query.prepare(sql)) {
            for (const QVariant &value : values)
                query.addBindValue(value);
            if (query.exec())
                return;
        }
        error = query.lastError();
    }
    fail(error, QStringLiteral("Couldn't run \"%1\"").arg(sql));
}

double columnNumber(const QVariant &value, const QString &column)
{
    if (!value.isValid() || value.isNull())
        return 0;
    bool ok = false;
    double number = 0;
    if (value.typeId() == QMetaType::QString)
        number = value.toString().trimmed().toDouble(&ok);
    else
        number = value.toDouble(&ok);
    if (!ok)
        throw DataServerError("column " + text(column) + " holds no number: '" +
                              text(value.toString()) + "'");
    return number;
}

} // namespace lumbrio
