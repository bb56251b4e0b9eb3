#include "app/UMain.h"

#include "app/appicon.h"
#include "app/configuration.h"
#include "app/messages.h"
#include "dataserver/errors.h"
#include "service/textforms.h"

#include <QFileInfo>
#include <QtDebug>

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

TFMain::TFMain(QObject *parent) : QObject(parent), ssSocket(new TerminalServer(this))
{
    ssSocket->onRead = [this](Terminal t, std::string_view data) { ssSocketClientRead(t, data); };
    ssSocket->onError = [this](Terminal t, int error) { ssSocketClientError(t, error); };
    ssSocket->onClosed = [this](Terminal t) { m_terminales.erase(t); };
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
    const Configuracion conf =
        lumbrio::leeConfiguracion(std::filesystem::path(opciones.rutaConfiguracion.toStdString()),
                                  opciones.regional.decimalSeparator);
    IPServidor = QString::fromStdString(conf.IPServidor);
    m_puerto = conf.Puerto;
    MonedaMinima = conf.MonedaMinima;
    PuntoRedondeo = conf.PuntoRedondeo;

    m_regional = opciones.regional;
    const Configuracion defaults;
    m_codificacion = CodePageEncoder::forName(QString::fromStdString(conf.Codificacion));
    if (!m_codificacion) {
        qWarning("Conf.ini: CODIFICACION \"%s\" is no known single-byte code page; using %s",
                 conf.Codificacion.c_str(), defaults.Codificacion.c_str());
        m_codificacion = CodePageEncoder::forName(QString::fromStdString(defaults.Codificacion));
    }
    QStringList invalidas;
    ssSocket->setFilter(TerminalFilter::parse(QString::fromStdString(conf.Terminales), &invalidas));
    for (const QString &entrada : invalidas)
        qWarning("Conf.ini: TERMINALES entry \"%s\" is no address or network; it allows nobody",
                 qUtf8Printable(entrada));
    const std::size_t conexiones = ssSocket->setLimits(
        {static_cast<std::size_t>(conf.MaxLectura), static_cast<std::size_t>(conf.MaxPendiente),
         static_cast<std::size_t>(conf.MaxConexiones)});
    if (conexiones < static_cast<std::size_t>(conf.MaxConexiones))
        qWarning("MAX_CONEXIONES %d is beyond the open-files limit; at most %zu terminals at once",
                 conf.MaxConexiones, conexiones);
    m_maxConexiones = static_cast<int>(conexiones);

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
    // Terminals come back in a burst after a network or power cut; a short accept queue would
    // turn most of them away while the server is busy.
    ssSocket->setListenBacklogSize(m_maxConexiones);
    if (!ssSocket->listen(QHostAddress::Any, static_cast<quint16>(m_puerto)))
        fail(ssSocket->errorString());
}

void TFMain::desactivaListener()
{
    // Stop listening, then close every terminal connection, writing what is still unsent.
    ssSocket->close();
    ssSocket->closeAll();
    m_terminales.clear();
}

void TFMain::ssSocketClientError(Terminal Socket, int ErrorCode)
{
    // Errors on a terminal connection concern nobody: the connection is closed and the server
    // goes on.
    Q_UNUSED(Socket);
    Q_UNUSED(ErrorCode);
}

void TFMain::ssSocketClientRead(Terminal Socket, std::string_view recibido)
{
    if (m_debug) // the line is built only when somebody reads it
        debugLog(QStringLiteral("R") +
                 QString::fromLatin1(recibido.data(), static_cast<qsizetype>(recibido.size())));

    // Several requests in one read are each answered, in order.
    for (const std::string &solicitud : m_terminales[Socket].feed(recibido)) {
        atiendeSolicitud(Socket, solicitud);
        if (!ssSocket->isOpen(Socket))
            return; // closed for its unsent replies
    }
}

void TFMain::atiendeSolicitud(Terminal Socket, std::string_view solicitud)
{
    const std::optional<std::string> codigo = extractCode(solicitud);
    if (!codigo)
        return; // not a request: no reply

    if (codigo->empty()) {
        PonMensaje(Campos, kNoEncontrado);
        ssSocket->send(Socket, EnmarcaRespuesta(ArmaRespuesta(Campos)));
        return;
    }

    bool encontrado = false;
    try {
        try {
            encontrado = consultaPrecio(*codigo);
        } catch (const ConnectionLost &) {
            // The store went away (restarted, file replaced): reopen once and serve again.
            DCOMDrel.Reopen();
            encontrado = consultaPrecio(*codigo);
        }
    } catch (const std::exception &e) {
        ++m_descartadas;
        debugLog(QStringLiteral("ERROR: ") + QString::fromUtf8(e.what()));
        return;
    }

    const std::string respuesta = EnmarcaRespuesta(ArmaRespuesta(Campos));
    if (encontrado && m_debug)
        debugLog(QStringLiteral("SE ENVIÓ:") + QString::fromLatin1(respuesta));
    ssSocket->send(Socket, respuesta);
}

// The price check of one non-empty code: the lookup, the price row, the tiers with offer,
// taxes and rounding, into Campos. True when the data server found the item, whether or not
// it has a price row.
bool TFMain::consultaPrecio(const std::string &codigo)
{
    double Codigo = 0;
    double Mult = 1.0;
    if (const std::optional<double> numero = codeToNumber(codigo, m_regional))
        Codigo = *numero;
    else
        Mult = -1.0;
    QString Descrip = QString::fromLatin1(codigo); // the code holds only 0x20 to 0x7F
    double Precio = 0;
    std::int8_t Ban_imps = 0;
    std::int8_t Tiene_Ofer = 0;
    double Fec_ini_ofer = 0;
    double Fec_fin_ofer = 0;
    double Pct_ofer = 0;
    std::int16_t Imps_Act = 0;
    std::int32_t Bans_Art = 0;
    double Precio_Sug = 0;
    std::int32_t Depto = 0;
    QString UnidadVta;
    QString Unidad;

    const std::int8_t resultado = DataSrv->BuscaPrecio(
        Codigo, 1, Precio, Descrip, Ban_imps, Tiene_Ofer, Fec_ini_ofer, Fec_fin_ofer, Pct_ofer,
        Imps_Act, Mult, Bans_Art, Precio_Sug, Depto, UnidadVta, Unidad);
    if (resultado != 1) {
        PonMensaje(Campos, kNoEncontrado);
        return false;
    }

    PonMensaje(Campos, " ");
    static const QString consultaPrecios = QStringLiteral(
        "Select Precio,Precio2,Precio3,Precio4,Precio5,Rup_P1,Rup_P2,Rup_P3,Rup_P4,Rup_P5 "
        "From Mnlus Where Codigo=");
    TClientDataSet precios(DCOMDrel, QueryMultiaProvider,
                           consultaPrecios +
                               QString::fromStdString(formatShortGeneral(Codigo, m_regional)));
    precios.Open(); // it holds the fetched rows and is freed with this scope, failure or not
    if (precios.IsEmpty()) {
        PonMensaje(Campos, kNoEncontrado);
        return true;
    }

    TRupturas rupturas{};
    const std::uint8_t n = CalculaRupturas(precios, rupturas, Mult);
    for (std::uint8_t t = 0; t < n; ++t) {
        Campos[2 + t] = formatQuantity(rupturas[t].Cantidad, m_regional);
        double precio = rupturas[t].Precio;
        if (Tiene_Ofer == 1)
            precio = AplicaOferta(precio, Pct_ofer);
        if (PreciosNetos) {
            Campos[7 + t] = formatPrice(precio, m_regional);
        } else {
            const double r = AplicaImpuestos(static_cast<std::uint8_t>(Ban_imps), TasasImpuesto,
                                             precio, Imps_Act);
            Campos[7 + t] = formatPrice(RedondeaMoneda(ImporteFijo(r)), m_regional);
        }
    }
    Campos[0] = codigo;
    Campos[1] = m_codificacion->encode(Descrip);
    Campos[12] = Tiene_Ofer == 1 ? offerLine(Pct_ofer, Fec_ini_ofer, Fec_fin_ofer, m_regional)
                                 : std::string(1, Blank);
    return true;
}

std::uint8_t TFMain::CalculaRupturas(const RowView &row, TRupturas &tiers, double Mult) const
{
    return lumbrio::CalculaRupturas(row, tiers, Mult);
}

double TFMain::AplicaImpuestos(std::uint8_t Ban_imps, const TTasasImpuesto &rates, double price,
                               std::int16_t Imps_Act) const
{
    return lumbrio::AplicaImpuestos(Ban_imps, rates, price, Imps_Act);
}

double TFMain::RedondeaMoneda(std::int64_t amount) const
{
    return lumbrio::RedondeaMoneda(amount, MonedaMinima, PuntoRedondeo);
}

std::string TFMain::EnmarcaRespuesta(std::string_view body) const
{
    return lumbrio::EnmarcaRespuesta(body);
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
