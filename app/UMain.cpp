#include "app/UMain.h"

#include "app/appicon.h"
#include "app/configuration.h"
#include "app/messages.h"

#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>

namespace lumbrio {
namespace {

/// Listener activation failed; the connect step turns it into a StartFailure that names the
/// port and the cause.
class ListenerFailure : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// Shows the wait cursor for its lifetime, whatever way the scope is left.
class WaitCursor
{
public:
    explicit WaitCursor(TFMain &form) : m_form(form) { emit m_form.waitCursorChanged(true); }
    ~WaitCursor() { emit m_form.waitCursorChanged(false); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;

private:
    TFMain &m_form;
};

} // namespace

TFMain::TFMain(QObject *parent) : QObject(parent), ssSocket(new QTcpServer(this))
{
    connect(ssSocket, &QTcpServer::newConnection, this, &TFMain::ssSocketNewConnection);
    DCOMDrel.AfterConnect = [this] { DCOMDrelAfterConnect(); };
}

TFMain::~TFMain()
{
    FormDestroy();
}

void TFMain::FormCreate(const OpcionesArranque &opciones)
{
    const WaitCursor wait(*this);

    m_debug = opciones.argumentos.size() == 1 &&
              opciones.argumentos.front() == QLatin1String(mensajes::ArgumentoDebug);
    emit debugModeDecided(m_debug);

    DataSrv.reset();
    leeConfiguracion(opciones);

    try {
        DCOMDrel.ComputerName = IPServidor;
        DCOMDrel.SetConnected(true);
    } catch (const ListenerFailure &e) {
        throw StartFailure(QString::fromUtf8(e.what()), QString());
    } catch (const std::exception &e) {
        throw StartFailure(QString::fromUtf8(mensajes::SinServidorDatos),
                           QString::fromUtf8(e.what()));
    }
}

void TFMain::leeConfiguracion(const OpcionesArranque &opciones)
{
    const Configuracion conf = lumbrio::leeConfiguracion(
        std::filesystem::path(opciones.rutaConfiguracion.toStdString()), opciones.separadorDecimal);
    IPServidor = QString::fromStdString(conf.IPServidor);
    m_puerto = conf.Puerto;
    MonedaMinima = conf.MonedaMinima;
    PuntoRedondeo = conf.PuntoRedondeo;

    DCOMDrel.Settings.Base = QString::fromStdString(conf.Base);
    DCOMDrel.Settings.Usuario = QString::fromStdString(conf.Usuario);
    DCOMDrel.Settings.Clave = QString::fromStdString(conf.Clave);
    DCOMDrel.Settings.PuertoBd = QString::fromStdString(conf.PuertoBd);
    DCOMDrel.Settings.ConfDir = QFileInfo(opciones.rutaConfiguracion).absolutePath();
}

void TFMain::DCOMDrelAfterConnect()
{
    DatosConexion datos = PreparaDatos(DCOMDrel);
    DataSrv = std::move(datos.DataSrv);
    PreciosNetos = datos.PreciosNetos;
    TasasImpuesto = datos.TasasImpuesto;

    // The icon comes before the listener: no terminal is served before the data are complete,
    // and the icon shows that the connection is open even if the port then fails.
    if (ctIcon != nullptr)
        ctIcon->setIconVisible(true);
    activaListener();
}

void TFMain::activaListener()
{
    const auto fail = [this](const QString &reason) {
        throw ListenerFailure(QString::fromUtf8(mensajes::PuertoNoDisponible)
                                  .arg(m_puerto)
                                  .arg(reason)
                                  .toStdString());
    };
    // Port 0 would make the system pick a port no terminal knows; negative or too large ports
    // cannot be opened at all.
    if (m_puerto < 1 || m_puerto > 65535)
        fail(QStringLiteral("fuera del intervalo 1 a 65535"));
    if (!ssSocket->listen(QHostAddress::Any, static_cast<quint16>(m_puerto)))
        fail(ssSocket->errorString());
}

void TFMain::desactivaListener()
{
    ssSocket->close();
    // Closing the listener leaves accepted connections open; the terminals' connections are
    // closed here, writing what is still pending first.
    const auto terminales = ssSocket->findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly);
    for (QTcpSocket *terminal : terminales) {
        terminal->disconnect(this);
        terminal->flush();
        terminal->close();
        delete terminal;
    }
}

void TFMain::ssSocketNewConnection()
{
    while (QTcpSocket *terminal = ssSocket->nextPendingConnection()) {
        // The connection stays a child of the listener until the peer goes away.
        connect(terminal, &QAbstractSocket::disconnected, terminal, &QObject::deleteLater);
        // Nothing answers on it yet: what the terminal sends stays buffered in the socket.
    }
}

void TFMain::FormDestroy()
{
    desactivaListener();
    try {
        if (DCOMDrel.Connected())
            DCOMDrel.SetConnected(false);
    } catch (const std::exception &) {
        // The process is ending; a failure to close cleanly changes nothing for anyone.
    }
}

void TFMain::debugLog(const QString &line)
{
    if (m_debug)
        emit debugLine(line);
}

} // namespace lumbrio
