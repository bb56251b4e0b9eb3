#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lumbrio {

class IniFile;

/// The settings read from Conf.ini at start. Defaults apply to absent keys; a value that does
/// not convert switches the three converted settings to their fallback values together.
struct Configuracion
{
    // [SRV_DREL]: raw texts, no conversion; an absent key is the empty text.
    std::string IPServidor; ///< data-server host; empty: the SQLite store on this machine
    std::string Base;       ///< BASE: SQLite path (relative to Conf.ini's folder) or database
    std::string Usuario;    ///< USUARIO
    std::string Clave;      ///< CLAVE
    std::string PuertoBd;   ///< PUERTO_BD

    // [TCP] and [GENERAL]
    std::int32_t Puerto = 6001;   ///< the listener's port
    double MonedaMinima = 0.01;   ///< smallest coin
    double PuntoRedondeo = 0.005; ///< rounding threshold

    // [TCP], serving terminals: outside the fallback rule; a bound that is not a positive
    // whole number keeps its default.
    std::string Codificacion = "Windows-1252"; ///< CODIFICACION: code page of descriptions
    std::string Terminales;                    ///< TERMINALES: allowed addresses; empty: all
    std::int32_t MaxLectura = 64 * 1024;       ///< MAX_LECTURA: bytes taken from one read
    std::int32_t MaxPendiente = 1024 * 1024;   ///< MAX_PENDIENTE: unsent reply bytes
    std::int32_t MaxConexiones = 1024;         ///< MAX_CONEXIONES: terminal connections

    /// True when a value of [TCP] or [GENERAL] did not convert and the fallbacks apply.
    bool usedFallback = false;
};

inline constexpr std::int32_t PuertoFallback = 6000;
inline constexpr double MonedaMinimaFallback = 0.005;
inline constexpr double PuntoRedondeoFallback = 0.01;

/// A 32-bit signed whole number: optional sign, then decimal digits or a hexadecimal number
/// introduced by "$" or "0x". Anything else, including a value outside the 32-bit range, is
/// nothing.
std::optional<std::int32_t> convierteEntero(std::string_view text);

/// A decimal number written with the given decimal separator: optional sign, digits with at
/// most one separator, optionally an exponent (E, optional sign, digits); no group separators.
/// Blanks around the number are allowed. A result that overflows a double is nothing.
std::optional<double> convierteDecimal(std::string_view text, char decimalSeparator);

/// Reads the settings from an already parsed file.
Configuracion leeConfiguracion(const IniFile &ini, char decimalSeparator);

/// Reads the settings from the file at path; a missing file gives every default.
Configuracion leeConfiguracion(const std::filesystem::path &path, char decimalSeparator);

/// Where Conf.ini is: the file named by the LUMBRIO_CONF environment value when it is set and
/// not empty, else Conf.ini in the executable's folder.
std::filesystem::path rutaConfiguracion(const std::filesystem::path &executableDir,
                                        const char *lumbrioConfEnv);

} // namespace lumbrio
