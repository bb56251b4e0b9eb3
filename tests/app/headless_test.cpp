// srv_lumbrio run as a process without a display: single instance, start failures, signals.
#include "app/instanceguard.h"
#include "app/messages.h"

#include "apptestutil.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace lumbrio {
namespace {

using testing::StoreFolder;

constexpr int WaitMs = 20000; // generous: a guard against hanging, not a speed goal

/// A srv_lumbrio process in headless mode, killed at the end of the test if still running.
class Server
{
public:
    Server(const QString &confPath, QStringList args = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LUMBRIO_CONF"), confPath);
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("LUMBRIO_HEADLESS"));
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral(SRV_LUMBRIO), args);
    }
    ~Server()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(WaitMs);
        }
    }

    bool finish() { return m_process.waitForFinished(WaitMs); }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    QString standardError() { return QString::fromUtf8(m_process.readAllStandardError()); }
    QString standardOutput() { return QString::fromUtf8(m_process.readAllStandardOutput()); }
    bool running() const { return m_process.state() == QProcess::Running; }
    void signal(int sig) const { ::kill(static_cast<pid_t>(m_process.processId()), sig); }

    /// Waits until a connection to the port succeeds, or the process ends.
    bool waitListening(quint16 port)
    {
        if (!m_process.waitForStarted(WaitMs))
            return false;
        for (int attempt = 0; attempt < 400 && running(); ++attempt) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(WaitMs))
                return true;
            m_process.waitForFinished(50);
        }
        return false;
    }

private:
    QProcess m_process;
};

const QString secondInstanceText =
    QStringLiteral("srv_lumbrio: No se permite ejecutar más de una vez en una máquina\n"
                   "srv_lumbrio:       el Servidor lumbrio de precios\n");

class Headless : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The lock is machine-wide: any other srv_lumbrio on this machine (a demo left running)
        // would refuse every server these tests start.
        ASSERT_NE(InstanceGuard(NombreMutex).estado(), InstanceGuard::Estado::YaExiste)
            << "another srv_lumbrio runs on this machine; stop it first";
        ASSERT_TRUE(m_store.storeReady()) << m_store.storeMessages().toStdString();
        m_port = testing::freePort();
        ASSERT_NE(m_port, 0);
        m_store.writeConf(QStringLiteral("[TCP]\nPUERTO=%1\n").arg(m_port));
    }

    void expectSecondRefused()
    {
        Server second(m_store.confPath());
        ASSERT_TRUE(second.finish());
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_EQ(second.standardError(), secondInstanceText);
    }

    StoreFolder m_store;
    quint16 m_port = 0;
};

TEST_F(Headless, SecondInstanceIsRefusedWhileTheFirstServes)
{
    Server first(m_store.confPath());
    ASSERT_TRUE(first.waitListening(m_port)) << first.standardError().toStdString();
    expectSecondRefused();
    // The first is undisturbed.
    EXPECT_TRUE(first.waitListening(m_port));
}

TEST_F(Headless, SecondInstanceIsRefusedWhileTheFirstIsStillStarting)
{
    // A database server that accepts and never answers keeps the first inside its start-up.
    QTcpServer silentDatabase;
    ASSERT_TRUE(silentDatabase.listen(QHostAddress::LocalHost, 0));
    m_store.writeConf(QStringLiteral("[SRV_DREL]\nIP=127.0.0.1\nPUERTO_BD=%1\n[TCP]\nPUERTO=%2\n")
                          .arg(silentDatabase.serverPort())
                          .arg(m_port));
    Server first(m_store.confPath());
    ASSERT_TRUE(silentDatabase.waitForNewConnection(WaitMs));
    std::unique_ptr<QTcpSocket> held(silentDatabase.nextPendingConnection());

    expectSecondRefused();

    // Now let the first one's start fail: it reports it and ends with a failure status.
    held->abort();
    silentDatabase.close();
    ASSERT_TRUE(first.finish());
    EXPECT_NE(first.exitCode(), 0);
    EXPECT_TRUE(first.standardError().startsWith(QStringLiteral("srv_lumbrio: ") +
                                                 QString::fromUtf8(mensajes::SinServidorDatos)));
}

TEST_F(Headless, NewStartSucceedsAfterTheFirstWasKilled)
{
    {
        Server first(m_store.confPath());
        ASSERT_TRUE(first.waitListening(m_port));
        first.signal(SIGKILL);
        ASSERT_TRUE(first.finish());
        EXPECT_EQ(first.exitStatus(), QProcess::CrashExit);
    }
    Server again(m_store.confPath());
    EXPECT_TRUE(again.waitListening(m_port)) << again.standardError().toStdString();
}

class StopSignal : public Headless, public ::testing::WithParamInterface<int>
{
};

TEST_P(StopSignal, StopsCleanlyClosingTerminalConnections)
{
    Server server(m_store.confPath(), {QStringLiteral("DEBUG")});
    ASSERT_TRUE(server.waitListening(m_port));

    QTcpSocket terminals[3];
    for (QTcpSocket &t : terminals) {
        t.connectToHost(QHostAddress::LocalHost, m_port);
        ASSERT_TRUE(t.waitForConnected(WaitMs));
    }
    server.signal(GetParam());
    ASSERT_TRUE(server.finish());
    EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(server.exitCode(), 0);
    EXPECT_EQ(server.standardError(), QString());

    for (QTcpSocket &t : terminals) {
        if (t.state() != QAbstractSocket::UnconnectedState) {
            EXPECT_TRUE(t.waitForDisconnected(WaitMs));
        }
    }
    // And the lock went with it.
    Server next(m_store.confPath());
    EXPECT_TRUE(next.waitListening(m_port));
}

INSTANTIATE_TEST_SUITE_P(Headless, StopSignal, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto &info) {
                             return info.param == SIGTERM ? "SIGTERM" : "SIGINT";
                         });

struct FailureCase
{
    const char *name;
    const char *conf; // %1: the port
    bool occupyPort;
    const char *firstLine; // %1: the port
};

class StartFailure : public Headless, public ::testing::WithParamInterface<FailureCase>
{
};

TEST_P(StartFailure, PrintsTheMessageAndExitsWithFailure)
{
    const FailureCase &c = GetParam();
    QTcpServer occupant;
    if (c.occupyPort) {
        ASSERT_TRUE(occupant.listen(QHostAddress::Any, m_port));
    }
    m_store.writeConf(QString::fromUtf8(c.conf).arg(m_port));
    Server server(m_store.confPath());
    ASSERT_TRUE(server.finish());
    EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(server.exitCode(), 1);
    const QString err = server.standardError();
    QString expected = QString::fromUtf8(c.firstLine);
    if (expected.contains(QLatin1String("%1")))
        expected = expected.arg(m_port);
    EXPECT_TRUE(err.startsWith(QStringLiteral("srv_lumbrio: ") + expected)) << err.toStdString();
}

const FailureCase failureCases[] = {
    {"NoStoreFile", "[SRV_DREL]\nBASE=missing.db\n[TCP]\nPUERTO=%1\n", false,
     "No se encontro Srv_Drel.exe en ejecución\nsrv_lumbrio: "},
    {"PortInUse", "[TCP]\nPUERTO=%1\n", true, "No se pudo abrir el puerto %1: "},
};

INSTANTIATE_TEST_SUITE_P(Headless, StartFailure, ::testing::ValuesIn(failureCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace lumbrio
