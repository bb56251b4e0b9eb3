#include "app/UMain.h"
#include "app/appicon.h"
#include "app/messages.h"
#include "app/shell.h"

#include "apptestutil.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <memory>

namespace lumbrio {
namespace {

using testing::StoreFolder;

/// Records what the server did to its icon, and whether the listener was already active then.
class RecordingIcon : public AppIcon
{
public:
    explicit RecordingIcon(const TFMain *&form) : m_form(form) {}
    void setIconVisible(bool visible) override
    {
        visible_ = visible;
        ++calls;
        listenerActiveWhenShown = m_form->ssSocket->isListening();
    }
    bool visible_ = false;
    int calls = 0;
    bool listenerActiveWhenShown = false;

private:
    const TFMain *&m_form;
};

class TFMainStart : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_store.storeReady()) << m_store.storeMessages().toStdString();
        m_port = testing::freePort();
        ASSERT_NE(m_port, 0);
        m_form = std::make_unique<TFMain>();
        m_formPtr = m_form.get();
        m_form->setIcon(&m_icon);
    }

    OpcionesArranque opciones(QStringList args = {}) const
    {
        return OpcionesArranque{args, m_store.confPath(), RegionalSettings{}};
    }

    StoreFolder m_store;
    quint16 m_port = 0;
    const TFMain *m_formPtr = nullptr;
    RecordingIcon m_icon{m_formPtr};
    std::unique_ptr<TFMain> m_form;
};

TEST_F(TFMainStart, ReadyAfterStartWithIconShownBeforeListener)
{
    m_store.writeConf(QStringLiteral("[TCP]\nPUERTO=%1\n[GENERAL]\nMONEDA_MINIMA=0.5\n"
                                     "PUNTO_REDONDEO=0.25\n")
                          .arg(m_port));
    QSignalSpy cursor(m_form.get(), &TFMain::waitCursorChanged);

    m_form->FormCreate(opciones());

    EXPECT_EQ(m_form->puerto(), m_port);
    EXPECT_EQ(m_form->MonedaMinima, 0.5);
    EXPECT_EQ(m_form->PuntoRedondeo, 0.25);
    EXPECT_TRUE(m_form->IPServidor.isEmpty());
    EXPECT_TRUE(m_form->DCOMDrel.Connected());
    ASSERT_NE(m_form->DataSrv, nullptr);
    EXPECT_TRUE(m_form->ssSocket->isListening());
    EXPECT_EQ(m_form->ssSocket->serverPort(), m_port);
    EXPECT_TRUE(m_icon.visible_);
    EXPECT_EQ(m_icon.calls, 1);
    EXPECT_FALSE(m_icon.listenerActiveWhenShown);
    // The demo store charges taxes: the table was loaded.
    EXPECT_FALSE(m_form->PreciosNetos);
    EXPECT_GT(m_form->TasasImpuesto[0], 0.0);

    ASSERT_EQ(cursor.count(), 2);
    EXPECT_TRUE(cursor.at(0).at(0).toBool());
    EXPECT_FALSE(cursor.at(1).at(0).toBool());

    // The listener really accepts terminals.
    QTcpSocket terminal;
    terminal.connectToHost(QHostAddress::LocalHost, m_port);
    EXPECT_TRUE(terminal.waitForConnected(10000)) << terminal.errorString().toStdString();
}

TEST_F(TFMainStart, MissingStoreFailsWithoutIconOrListener)
{
    m_store.writeConf(
        QStringLiteral("[SRV_DREL]\nBASE=no-such-store.db\n[TCP]\nPUERTO=%1\n").arg(m_port));
    QSignalSpy cursor(m_form.get(), &TFMain::waitCursorChanged);
    try {
        m_form->FormCreate(opciones());
        FAIL() << "the start succeeded without a store";
    } catch (const StartFailure &e) {
        EXPECT_EQ(e.message(), QString::fromUtf8(mensajes::SinServidorDatos));
        EXPECT_TRUE(e.detail().contains(QStringLiteral("no-such-store.db")))
            << e.detail().toStdString();
    }
    EXPECT_EQ(m_icon.calls, 0);
    EXPECT_FALSE(m_form->ssSocket->isListening());
    EXPECT_FALSE(m_form->DCOMDrel.Connected());
    // The normal cursor is back before anyone shows the message.
    ASSERT_EQ(cursor.count(), 2);
    EXPECT_FALSE(cursor.at(1).at(0).toBool());
}

struct ListenerCase
{
    const char *name;
    bool occupy; // another listener holds the port
    int port;    // used when not occupying
    const char *reasonPart;
};

class ListenerFailure : public TFMainStart, public ::testing::WithParamInterface<ListenerCase>
{
};

TEST_P(ListenerFailure, NamesThePortAndTheCause)
{
    const ListenerCase &c = GetParam();
    QTcpServer occupant;
    int port = c.port;
    if (c.occupy) {
        ASSERT_TRUE(occupant.listen(QHostAddress::Any, m_port));
        port = m_port;
    }
    m_store.writeConf(QStringLiteral("[TCP]\nPUERTO=%1\n").arg(port));
    try {
        m_form->FormCreate(opciones());
        FAIL() << "the start succeeded on port " << port;
    } catch (const StartFailure &e) {
        const QString expected = QStringLiteral("No se pudo abrir el puerto %1: ").arg(port);
        EXPECT_TRUE(e.message().startsWith(expected)) << e.message().toStdString();
        EXPECT_TRUE(e.message().contains(QString::fromUtf8(c.reasonPart), Qt::CaseInsensitive))
            << e.message().toStdString();
    }
    // The icon came first, as the connection was open; the connection is closed again.
    EXPECT_EQ(m_icon.calls, 1);
    EXPECT_FALSE(m_form->ssSocket->isListening());
    EXPECT_FALSE(m_form->DCOMDrel.Connected());
}

const ListenerCase listenerCases[] = {
    {"PortInUse", true, 0, "in use"},
    {"PortZero", false, 0, "1 a 65535"},
    {"PortTooLarge", false, 65536, "1 a 65535"},
    {"PortNegative", false, -5, "1 a 65535"},
};

INSTANTIATE_TEST_SUITE_P(Start, ListenerFailure, ::testing::ValuesIn(listenerCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(TFMainStart, DebugModeOnlyWithTheSingleArgumentDEBUG)
{
    struct Case
    {
        QStringList args;
        bool debug;
    };
    const Case cases[] = {
        {{QStringLiteral("DEBUG")}, true},
        {{}, false},
        {{QStringLiteral("debug")}, false},
        {{QStringLiteral("DEBUG"), QStringLiteral("x")}, false},
        {{QStringLiteral("x"), QStringLiteral("DEBUG")}, false},
        {{QStringLiteral(" DEBUG")}, false},
    };
    m_store.writeConf(QStringLiteral("[TCP]\nPUERTO=%1\n").arg(m_port));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(',')).toStdString());
        TFMain form;
        QSignalSpy decided(&form, &TFMain::debugModeDecided);
        QSignalSpy lines(&form, &TFMain::debugLine);
        form.FormCreate(opciones(c.args));
        ASSERT_EQ(decided.count(), 1);
        EXPECT_EQ(decided.at(0).at(0).toBool(), c.debug);
        EXPECT_EQ(form.debugMode(), c.debug);
        form.debugLog(QStringLiteral("R\x02"
                                     "01|7501000000018"));
        EXPECT_EQ(lines.count(), c.debug ? 1 : 0);
    }
}

TEST_F(TFMainStart, ShutdownClosesTerminalConnectionsThenTheStore)
{
    m_store.writeConf(QStringLiteral("[TCP]\nPUERTO=%1\n").arg(m_port));
    m_form->FormCreate(opciones());

    QTcpSocket a, b;
    for (QTcpSocket *t : {&a, &b}) {
        t->connectToHost(QHostAddress::LocalHost, m_port);
        ASSERT_TRUE(t->waitForConnected(10000));
    }
    // Let the server take both connections before it shuts down.
    while (m_form->terminalesAbiertas() < 2)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    m_form.reset();

    for (QTcpSocket *t : {&a, &b}) {
        if (t->state() != QAbstractSocket::UnconnectedState) {
            EXPECT_TRUE(t->waitForDisconnected(10000));
        }
        EXPECT_EQ(t->state(), QAbstractSocket::UnconnectedState);
    }
    // Nobody listens on the port any more.
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, m_port);
    EXPECT_FALSE(late.waitForConnected(10000));
}

TEST(NotifyGuarded, ExceptionEscapingAHandlerIsReportedAndTheProgramGoesOn)
{
    QStringList reported;
    const auto report = [&](const QString &text) { reported << text; };
    EXPECT_FALSE(
        notifyGuarded([]() -> bool { throw std::runtime_error("división entre cero"); }, report));
    EXPECT_FALSE(notifyGuarded([]() -> bool { throw 42; }, report));
    EXPECT_TRUE(notifyGuarded([] { return true; }, report));
    EXPECT_EQ(reported, QStringList({QStringLiteral("división entre cero"),
                                     QStringLiteral("Excepción desconocida")}));
}

} // namespace
} // namespace lumbrio
