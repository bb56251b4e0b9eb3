#pragma once

// Serving terminals end to end: a TFMain in this process, in debug mode, on a store the test
// fills, and terminals on real loopback sockets. Everything runs on the test's thread; waits
// run the event loop until a condition holds.

#include "app/UMain.h"
#include "dataserver/store.h"
#include "tests/dataserver/storefixture.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>

#include <memory>
#include <vector>

namespace lumbrio::testing {

/// A guard against hanging, not a speed goal.
inline constexpr int WaitMs = 20000;

/// Runs the event loop until done() holds or WaitMs pass; true when it holds. Objects whose
/// deletion was deferred are deleted on the way, as a running event loop would.
template <typename Predicate>
bool waitUntil(Predicate done, int ms = WaitMs)
{
    const QDeadlineTimer deadline(ms);
    QTimer heartbeat; // wakes the loop so that the deadline is seen even when nothing happens
    heartbeat.start(20);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

/// A reply record with the given 13 fields: STX, each field and a bar, ETX, EOT.
QByteArray replyOf(const QByteArrayList &fields);

/// An item reply: the code, the description, the tiers' quantities and prices (1 to 5 each;
/// the rest " ") and the offer line.
QByteArray itemReply(const QByteArray &code, const QByteArray &descrip,
                     const QByteArrayList &quantities, const QByteArrayList &prices,
                     const QByteArray &offer = " ");

/// The 50 bytes of every not-found reply, written out byte by byte.
QByteArray notFoundReply();

/// Five tiers of one unit each: the quantities of an item without breaks.
QByteArrayList oneUnitEach();
/// Item 750 of the test catalogue, five tiers without taxes.
QByteArray jabonReply();
/// Item 751 of the test catalogue, three tiers from the breaks 5, 11 and 23.
QByteArray aceiteReply();

/// "R" followed by the data, as the debug log shows a read.
QString readLine(const QByteArray &data);
/// "SE ENVIÓ:" followed directly by the reply, as the debug log shows a reply sent.
QString sentLine(const QByteArray &reply);

/// The test catalogue: items, alternate codes and the tax rates 16 %, 8 % and 5 %. Prices are
/// net when net is set (setting 13 with bit 1 set), otherwise taxed and rounded.
void fillCatalogue(DbHandle &store, bool net);

/// How the server is started: the lines of [TCP] and [GENERAL] besides the port, the regional
/// settings and the present time the data server sees (offers are judged against it).
struct ServerOptions
{
    QStringList tcp;
    QStringList general;
    RegionalSettings regional;
    QDateTime now = QDateTime(QDate(2020, 6, 15), QTime(12, 0));
};

/// A store on one backend and the TFMain serving it, with every debug line recorded.
class ServedStore
{
public:
    explicit ServedStore(test::Backend backend = test::Backend::Sqlite);
    ~ServedStore();

    /// Creates the empty store (false, with a failure recorded, when it cannot).
    bool create() { return m_store.create(); }
    /// The writable handle for filling the store.
    DbHandle &writer() { return *m_store.writer; }
    /// Closes the writable handle (a store file can then be moved whole).
    void closeWriter() { m_store.writer.reset(); }
    /// The SQLite store file the server reads.
    QString storeFile() const;
    QString dir() const { return m_store.dir(); }

    /// Writes Conf.ini and starts the server on a free port; throws StartFailure as TFMain does.
    void start(const ServerOptions &options = {});
    /// Stops the server: every terminal connection is closed.
    void stop() { m_form.reset(); }

    TFMain &form() { return *m_form; }
    quint16 port() const { return m_port; }
    /// Every debug line so far, in order.
    const QStringList &lines() const { return m_lines; }
    /// Waits until the debug log holds line, counting from the line with index from.
    bool waitForLine(const QString &line, qsizetype from = 0);

private:
    test::StoreFixture m_store;
    std::unique_ptr<TFMain> m_form;
    quint16 m_port = 0;
    QStringList m_lines;
};

/// A price-checker terminal on a loopback socket that collects every byte the server sends.
class Terminal
{
public:
    /// Connects to the port from the given local address (any loopback address works on Linux);
    /// check connected().
    explicit Terminal(quint16 port, const QHostAddress &from = QHostAddress::LocalHost);

    bool connected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    /// Writes the bytes in one write and hands them to the system at once.
    void send(const QByteArray &bytes);
    /// Everything received so far.
    const QByteArray &received() const { return m_received; }
    /// The complete replies received so far (each ending in ETX EOT), in order.
    QByteArrayList replies() const;
    /// Waits until count complete replies have arrived in all.
    bool waitForReplies(qsizetype count);
    /// Sends the bytes and waits for one more reply; returns it, or nothing after WaitMs.
    QByteArray exchange(const QByteArray &bytes);
    /// Waits until the server has closed the connection.
    bool waitClosed();
    void close() { m_socket.abort(); }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
};

} // namespace lumbrio::testing
