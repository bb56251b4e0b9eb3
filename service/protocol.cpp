#include "service/protocol.h"

namespace lumbrio {

std::optional<std::string> extractCode(std::string_view request)
{
    if (request.empty() || request.front() != STX)
        return std::nullopt;
    const std::size_t bar = request.find(Bar, 1);
    if (bar == std::string_view::npos)
        return std::nullopt;

    // Control and 8-bit bytes are dropped wherever they stand (a terminal may end the code
    // with ETX or a line end); later bars are ordinary bytes of the code.
    std::string code;
    for (const char c : request.substr(bar + 1)) {
        if (code.size() == kMaxCodeLength)
            break;
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte <= 0x7F)
            code += c;
    }
    return code;
}

void PonMensaje(TCampos &campos, std::string_view mensaje)
{
    campos.fill(std::string(1, Blank));
    campos[1] = mensaje;
}

std::string ArmaRespuesta(const TCampos &campos)
{
    std::size_t size = campos.size();
    for (const std::string &field : campos)
        size += field.size();
    std::string body;
    body.reserve(size);
    for (const std::string &field : campos) {
        body += field;
        body += Bar;
    }
    return body;
}

std::string EnmarcaRespuesta(std::string_view body)
{
    std::string reply;
    reply.reserve(body.size() + 3);
    reply += STX;
    reply += body;
    reply += ETX;
    reply += EOT;
    return reply;
}

} // namespace lumbrio
