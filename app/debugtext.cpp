#include "app/debugtext.h"

#include <array>

namespace lumbrio {

QString visibleControls(QStringView text)
{
    static constexpr std::array<const char *, 32> names = {
        "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "TAB", "LF",
        "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
        "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < names.size()) {
            out += QLatin1Char('<') + QLatin1String(names[u]) + QLatin1Char('>');
        } else if (u == 0x7F) {
            out += QLatin1String("<DEL>");
        } else {
            out += c;
        }
    }
    return out;
}

void writeDebugLine(std::FILE *out, QStringView line)
{
    const QByteArray bytes = visibleControls(line).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), out);
    std::fputc('\n', out);
    std::fflush(out);
}

QString displayText(const QString &message)
{
    QString text = message;
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace lumbrio
