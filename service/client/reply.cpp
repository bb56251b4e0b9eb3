#include "service/client/reply.h"

#include <vector>

namespace lumbrio {
namespace {

constexpr std::size_t kMaxCodeLength = 20;

bool isBlankField(const std::string &field)
{
    return field.empty() || field == " ";
}

std::string padRight(std::string text, std::size_t width)
{
    // Width counts UTF-8 characters, not bytes, so accented descriptions line up.
    std::size_t chars = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++chars;
    }
    if (chars < width)
        text.append(width - chars, ' ');
    return text;
}

} // namespace

std::string terminalRequest(std::string_view terminalId, std::string_view code)
{
    std::string request;
    request.reserve(terminalId.size() + code.size() + 3);
    request += kStx;
    request += terminalId;
    request += kBar;
    request += code;
    request += kEtx;
    return request;
}

std::string filteredCode(std::string_view codeArea)
{
    std::string code;
    for (char c : codeArea) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b <= 0x7F && code.size() < kMaxCodeLength)
            code += c;
    }
    return code;
}

ReplyScan scanReply(std::string_view received)
{
    if (received.empty())
        return {};
    if (received.front() != kStx) {
        const std::size_t stx = received.find(kStx);
        return {ReplyScan::Status::Invalid, stx == std::string_view::npos ? received.size() : stx};
    }
    // The end is the first ETX EOT that follows a bar; a field may hold ETX or EOT alone.
    for (std::size_t pos = received.find(kEot, 1); pos != std::string_view::npos;
         pos = received.find(kEot, pos + 1)) {
        if (pos >= 3 && received[pos - 1] == kEtx && received[pos - 2] == kBar)
            return {ReplyScan::Status::Complete, pos + 1};
    }
    return {};
}

std::optional<ReplyFields> splitReply(std::string_view reply, std::string_view sentCode)
{
    if (reply.size() < 4 + kReplyFieldCount || reply.front() != kStx)
        return std::nullopt;
    // Body without STX and the last bar, ETX, EOT: the fields joined by bars.
    const std::string_view body = reply.substr(1, reply.size() - 4);
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = body.find(kBar, start);
        if (bar == std::string_view::npos) {
            pieces.push_back(body.substr(start));
            break;
        }
        pieces.push_back(body.substr(start, bar - start));
        start = bar + 1;
    }
    if (pieces.size() < kReplyFieldCount)
        return std::nullopt;

    ReplyFields fields;
    const std::size_t lead = pieces.size() - (kReplyFieldCount - 2);
    for (std::size_t i = 0; i < kReplyFieldCount - 2; ++i)
        fields[2 + i] = std::string(pieces[lead + i]);

    // Pieces [0, lead) hold fields 1 and 2, joined by a bar.
    const std::size_t leadEnd =
        static_cast<std::size_t>(pieces[lead - 1].data() - body.data()) + pieces[lead - 1].size();
    const std::string_view front = body.substr(0, leadEnd);
    const std::string code = filteredCode(sentCode);
    std::size_t split = pieces[0].size();
    if (front.size() > code.size() && front.substr(0, code.size()) == code &&
        front[code.size()] == kBar)
        split = code.size();
    fields[0] = std::string(front.substr(0, split));
    fields[1] = std::string(front.substr(split + 1));
    return fields;
}

std::string formatReply(const ReplyFields &fields, CodePage page)
{
    std::string out;
    out += "Code:        " + decodeForConsole(fields[0], page) + '\n';
    out += "Description: " + decodeForConsole(fields[1], page) + '\n';
    bool header = false;
    for (std::size_t t = 0; t < 5; ++t) {
        const std::string &quantity = fields[2 + t];
        const std::string &price = fields[7 + t];
        if (isBlankField(quantity) && isBlankField(price))
            continue;
        if (!header) {
            out += "  Quantity        Price\n";
            header = true;
        }
        out += "  " + padRight(decodeForConsole(quantity, page), 14) + "  " +
               decodeForConsole(price, page) + '\n';
    }
    if (!header)
        out += "  (no prices)\n";
    out += "Offer:       " +
           (isBlankField(fields[12]) ? std::string("(none)") : decodeForConsole(fields[12], page)) +
           '\n';
    return out;
}

} // namespace lumbrio
