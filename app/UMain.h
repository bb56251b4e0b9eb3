#pragma once

#include "dataserver/Srv_Drel_TLB.h"
#include "dataserver/drelconnection.h"
#include "pricing/taxes.h"
#include "pricing/tiers.h"
#include "service/codepage.h"
#include "service/framing.h"
#include "service/protocol.h"
#include "service/regional.h"
#include "service/terminalfilter.h"
#include "service/terminalserver.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

namespace lumbrio {

class AppIcon;

/// A start that cannot go on: the text for the user and, for a console, the cause behind it.
class StartFailure : public std::runtime_error
{
public:
    StartFailure(const QString &message, const QString &detail)
        : std::runtime_error(message.toStdString()), m_message(message), m_detail(detail)
    {
    }
    const QString &message() const { return m_message; }
    const QString &detail() const { return m_detail; }

private:
    QString m_message;
    QString m_detail;
};

/// What FormCreate needs from outside: the command line (without the program name), the
/// path of Conf.ini and the regional settings (numbers in Conf.ini and every text form).
struct OpcionesArranque
{
    QStringList argumentos;
    QString rutaConfiguracion;
    RegionalSettings regional;
};

/// The server: owns the data-server connection, the listener for the terminals and the state
/// every request shares. It has no widget; the desktop shell shows its icon, its window and its
/// debug memo by connecting to its signals, and headless mode prints them instead.
/// Everything runs on the thread that created it.
class TFMain final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFMain)

public:
    explicit TFMain(QObject *parent = nullptr);
    /// The shutdown: listener off (every terminal connection closed), then the data-server
    /// connection; DataSrv goes last, with the object.
    ~TFMain() override;

    /// The start-up: debug decision, DataSrv cleared, configuration, data-server connection
    /// (which ends with the icon visible and the listener active). Throws StartFailure.
    void FormCreate(const OpcionesArranque &opciones);

    /// Whether the debug log is kept (the single argument "DEBUG").
    bool debugMode() const { return m_debug; }
    /// Appends a line to the debug log when debug mode is on.
    void debugLog(const QString &line);

    /// The listener's port as configured.
    std::int32_t puerto() const { return m_puerto; }
    /// The icon the connection shows once the data are ready; null in headless mode.
    void setIcon(AppIcon *icon) { ctIcon = icon; }

    /// Requests that got no reply because serving them failed (steps after the lookup began).
    std::uint64_t solicitudesDescartadas() const { return m_descartadas; }
    /// Terminal connections open now.
    int terminalesAbiertas() const { return static_cast<int>(ssSocket->connectionCount()); }

    // State shared by request handling.
    AppIcon *ctIcon = nullptr;
    TDrelConnection DCOMDrel;
    TerminalServer *ssSocket = nullptr;
    TCampos Campos;
    TTasasImpuesto TasasImpuesto{};
    double MonedaMinima = 0;
    double PuntoRedondeo = 0;
    QString IPServidor;
    std::unique_ptr<IData_Srv_Drel> DataSrv;
    bool PreciosNetos = false;

signals:
    /// The wait cursor is to be shown (true) or the normal cursor restored (false).
    void waitCursorChanged(bool on);
    /// Debug mode was decided; when off, the debug memo is to be removed.
    void debugModeDecided(bool on);
    /// A line of the debug log, as received or sent (control characters unchanged).
    void debugLine(const QString &line);

private:
    void DCOMDrelAfterConnect();
    void FormDestroy();

    void leeConfiguracion(const OpcionesArranque &opciones);
    void activaListener();
    void desactivaListener();
    using Terminal = TerminalServer::ConnectionId;
    void ssSocketClientRead(Terminal Socket, std::string_view recibido);
    void ssSocketClientError(Terminal Socket, int ErrorCode);

    void atiendeSolicitud(Terminal Socket, std::string_view solicitud);
    bool consultaPrecio(const std::string &codigo);

    std::uint8_t CalculaRupturas(const RowView &row, TRupturas &tiers, double Mult) const;
    double AplicaImpuestos(std::uint8_t Ban_imps, const TTasasImpuesto &rates, double price,
                           std::int16_t Imps_Act) const;
    double RedondeaMoneda(std::int64_t amount) const;
    std::string EnmarcaRespuesta(std::string_view body) const;

    bool m_debug = false;
    std::int32_t m_puerto = 0;

    // Serving terminals.
    RegionalSettings m_regional;
    std::optional<CodePageEncoder> m_codificacion;
    int m_maxConexiones = 0;
    /// What each open terminal connection keeps between reads.
    std::unordered_map<Terminal, RequestAssembler> m_terminales;
    std::uint64_t m_descartadas = 0;
};

} // namespace lumbrio
