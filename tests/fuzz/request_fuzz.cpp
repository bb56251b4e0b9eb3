// libFuzzer target: the path of untrusted terminal bytes up to the number conversion. The input
// is cut into reads at every 0xFF byte and fed to one connection's assembler; every piece goes
// through recognition and code extraction, and every code through the number conversion and the
// short general form, with both decimal separators.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "service/framing.h"
#include "service/protocol.h"
#include "service/regional.h"
#include "service/textforms.h"

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void convert(const std::string &code, const lumbrio::RegionalSettings &settings)
{
    const auto number = lumbrio::codeToNumber(code, settings);
    if (!number)
        return;
    check(std::isfinite(*number));
    // Every converted code can be written into the price query.
    const std::string text = lumbrio::formatShortGeneral(*number, settings);
    check(!text.empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    lumbrio::RegionalSettings point;
    lumbrio::RegionalSettings comma;
    comma.decimalSeparator = ',';

    const std::string_view input(reinterpret_cast<const char *>(data), size);
    lumbrio::RequestAssembler assembler;
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find('\xFF', start);
        if (end == std::string_view::npos)
            end = input.size();
        for (const std::string &piece : assembler.feed(input.substr(start, end - start))) {
            const auto code = lumbrio::extractCode(piece);
            if (!code)
                continue;
            check(code->size() <= lumbrio::kMaxCodeLength);
            for (const char c : *code)
                check(static_cast<unsigned char>(c) >= 0x20 &&
                      static_cast<unsigned char>(c) <= 0x7F);
            convert(*code, point);
            convert(*code, comma);
        }
        start = end + 1;
    }
    return 0;
}
