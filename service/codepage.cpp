#include "service/codepage.h"

#include <QStringEncoder>

namespace lumbrio {

std::optional<CodePageEncoder> CodePageEncoder::forName(const QString &name)
{
    const QByteArray encodingName = name.toLatin1();
    QStringEncoder probe(encodingName.constData());
    if (!probe.isValid())
        return std::nullopt;

    auto bytes = std::make_shared<std::array<char, 0x10000>>();
    bytes->fill('?');
    for (char32_t u = 0; u < 0x10000; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF)
            continue; // surrogates are no characters of their own
        QStringEncoder encoder(encodingName.constData());
        const QChar c(static_cast<char16_t>(u));
        const QByteArray encoded = encoder.encode(QStringView(&c, 1));
        if (encoder.hasError() || encoded.size() != 1) {
            // Several bytes for one character: not a single-byte code page at all.
            if (!encoder.hasError() && encoded.size() > 1)
                return std::nullopt;
            continue;
        }
        (*bytes)[u] = encoded.front();
    }
    CodePageEncoder result;
    result.m_bytes = std::move(bytes);
    return result;
}

std::string CodePageEncoder::encode(QStringView text) const
{
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += '?'; // beyond the Basic Multilingual Plane: no 8-bit code page has it
            ++i;
        } else {
            out += (*m_bytes)[c.unicode()];
        }
    }
    return out;
}

} // namespace lumbrio
