#include "service/framing.h"

#include "service/protocol.h"

namespace lumbrio {

std::vector<std::string_view> splitBeforeStx(std::string_view data)
{
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start < data.size()) {
        const std::size_t next = data.find(STX, start + 1);
        const std::size_t end = next == std::string_view::npos ? data.size() : next;
        pieces.push_back(data.substr(start, end - start));
        start = end;
    }
    return pieces;
}

std::vector<std::string> RequestAssembler::feed(std::string_view data)
{
    std::string joined;
    if (!m_pending.empty() && (data.empty() || data.front() != STX)) {
        joined = std::move(m_pending);
        joined.append(data);
        data = joined;
    }
    m_pending.clear();

    const std::vector<std::string_view> pieces = splitBeforeStx(data);
    std::vector<std::string> requests(pieces.begin(), pieces.end());
    if (!requests.empty()) {
        const std::string &last = requests.back();
        const bool beginningOnly = last.front() == STX && last.find(Bar) == std::string::npos;
        if (beginningOnly) {
            if (last.size() <= kMaxPending)
                m_pending = last;
            requests.pop_back();
        }
    }
    return requests;
}

} // namespace lumbrio
