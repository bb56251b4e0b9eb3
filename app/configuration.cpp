#include "app/configuration.h"

#include "app/inifile.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace lumbrio {
namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexDigit(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

std::optional<std::int32_t> convierteEntero(std::string_view s)
{
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (!s.empty() && s.front() == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty())
        return std::nullopt;

    // Accumulate the magnitude in 64 bits and stop as soon as it leaves the 32-bit range.
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (char c : s) {
        const int d = base == 16 ? hexDigit(c) : (isDigit(c) ? c - '0' : -1);
        if (d < 0)
            return std::nullopt;
        magnitude = magnitude * base + d;
        if (magnitude > limit)
            return std::nullopt;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max() ||
        value < std::numeric_limits<std::int32_t>::min())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<double> convierteDecimal(std::string_view s, char decimalSeparator)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);

    // Validate the whole text first, building a copy with a point for from_chars, which reads
    // no locale (strtod would follow the locale that the application object sets).
    std::string normal;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-')
            normal += '-';
        ++i;
    }
    int mantissaDigits = 0;
    bool separatorSeen = false;
    for (; i < s.size(); ++i) {
        if (isDigit(s[i])) {
            ++mantissaDigits;
            normal += s[i];
        } else if (s[i] == decimalSeparator && !separatorSeen) {
            separatorSeen = true;
            normal += '.';
        } else {
            break;
        }
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
        normal += 'e';
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            normal += s[i++];
        int exponentDigits = 0;
        for (; i < s.size() && isDigit(s[i]); ++i, ++exponentDigits)
            normal += s[i];
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != s.size())
        return std::nullopt;

    double value = 0;
    const char *end = normal.data() + normal.size();
    const auto [stop, ec] = std::from_chars(normal.data(), end, value);
    if (ec != std::errc() || stop != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

Configuracion leeConfiguracion(const IniFile &ini, char decimalSeparator)
{
    Configuracion conf;
    conf.IPServidor = ini.readString("SRV_DREL", "IP", "");
    conf.Base = ini.readString("SRV_DREL", "BASE", "");
    conf.Usuario = ini.readString("SRV_DREL", "USUARIO", "");
    conf.Clave = ini.readString("SRV_DREL", "CLAVE", "");
    conf.PuertoBd = ini.readString("SRV_DREL", "PUERTO_BD", "");

    conf.Codificacion = ini.readString("TCP", "CODIFICACION", conf.Codificacion);
    conf.Terminales = ini.readString("TCP", "TERMINALES", "");
    const auto bound = [&ini](const char *key, std::int32_t fallback) {
        const auto value = convierteEntero(ini.readString("TCP", key, ""));
        return value && *value > 0 ? *value : fallback;
    };
    conf.MaxLectura = bound("MAX_LECTURA", conf.MaxLectura);
    conf.MaxPendiente = bound("MAX_PENDIENTE", conf.MaxPendiente);
    conf.MaxConexiones = bound("MAX_CONEXIONES", conf.MaxConexiones);

    // The three converted values stand or fall together: one value that does not convert
    // replaces all three with the fallbacks, whatever the others hold.
    const auto puerto = convierteEntero(ini.readString("TCP", "PUERTO", "6001"));
    const auto moneda =
        convierteDecimal(ini.readString("GENERAL", "MONEDA_MINIMA", "0.01"), decimalSeparator);
    const auto punto =
        convierteDecimal(ini.readString("GENERAL", "PUNTO_REDONDEO", "0.005"), decimalSeparator);
    if (puerto && moneda && punto) {
        conf.Puerto = *puerto;
        conf.MonedaMinima = *moneda;
        conf.PuntoRedondeo = *punto;
    } else {
        conf.Puerto = PuertoFallback;
        conf.MonedaMinima = MonedaMinimaFallback;
        conf.PuntoRedondeo = PuntoRedondeoFallback;
        conf.usedFallback = true;
    }
    return conf;
}

Configuracion leeConfiguracion(const std::filesystem::path &path, char decimalSeparator)
{
    return leeConfiguracion(IniFile::fromFile(path), decimalSeparator);
}

std::filesystem::path rutaConfiguracion(const std::filesystem::path &executableDir,
                                        const char *lumbrioConfEnv)
{
    if (lumbrioConfEnv != nullptr && *lumbrioConfEnv != '\0')
        return std::filesystem::path(lumbrioConfEnv);
    return executableDir / "Conf.ini";
}

} // namespace lumbrio
