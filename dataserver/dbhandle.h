#pragma once

#include <map>
#include <memory>
#include <thread>

#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

namespace lumbrio {

/// Where and how to open the store database.
struct OpenParams
{
    bool postgres = false;
    QString sqlitePath; // SQLite: the store file
    QString host;       // PostgreSQL: empty fields follow libpq's own conventions
    QString database;
    QString user;
    QString password;
    int port = -1;
    QString extraOptions; // further libpq keywords, "key=value" separated by ';'
    bool readOnly = true;
    bool mustExist = true; // SQLite: a missing file is an error, never a new store
};

/// One named Qt SQL connection on the store, used only from the thread that created it.
/// The connection is fetched by name for each use; prepared statements are cached here and
/// dropped before the connection is closed and removed.
class DbHandle
{
public:
    explicit DbHandle(OpenParams params);
    ~DbHandle();
    DbHandle(const DbHandle &) = delete;
    DbHandle &operator=(const DbHandle &) = delete;

    /// Opens the connection; throws DataServerError when it cannot.
    void open();
    /// Closes and removes the connection. Operations afterwards throw DataServerError.
    void close();
    /// Marks the connection lost: operations afterwards throw ConnectionLost until open().
    void markLost();
    bool isOpen() const { return m_state == State::Open; }
    const OpenParams &params() const { return m_params; }
    const QString &name() const { return m_name; }

    /// Throws std::logic_error when called from another thread than the creator's.
    void checkThread() const;
    /// Checks that the handle is usable: open, on its thread, and (SQLite) the store file is
    /// still the one that was opened. Throws ConnectionLost or DataServerError.
    void checkUsable();

    /// A statement prepared once per opened connection.
    QSqlQuery &prepared(const QString &sql);
    /// A new query on this connection (for one-off statements).
    QSqlQuery newQuery();

    /// Throws for a failed statement: ConnectionLost when the database went away, otherwise
    /// DataServerError. The text joins the context and the database's own message.
    [[noreturn]] void fail(const QSqlError &error, const QString &context);

    /// Runs a statement with positional bound values (prepared), or without any (as it is);
    /// throws on failure. For writers and tests: the fixed statements of the schema.
    void exec(const QString &sql, const QVariantList &values = {});

private:
    enum class State
    {
        Closed,
        Open,
        Lost
    };
    bool isLost(const QSqlError &error);
    void closeConnection();
    void rememberFileIdentity();

    OpenParams m_params;
    QString m_name;
    State m_state = State::Closed;
    std::thread::id m_thread;
    std::map<QString, std::unique_ptr<QSqlQuery>> m_prepared;
    unsigned long long m_fileDev = 0;
    unsigned long long m_fileIno = 0;
};

/// Converts a column value to a number: null reads 0, a text must be a number.
/// Throws DataServerError naming the column otherwise.
double columnNumber(const QVariant &value, const QString &column);

} // namespace lumbrio
