#include "pricing/arith.h"

namespace lumbrio {

ArithmeticError::ArithmeticError(Kind kind, std::string_view detail)
    : std::runtime_error(detail.empty() ? std::string(kindText(kind))
                                        : std::string(kindText(kind)) + ": " + std::string(detail)),
      m_kind(kind)
{
}

std::string_view ArithmeticError::kindText(Kind kind) noexcept
{
    switch (kind) {
    case Kind::DivisionByZero:
        return "division by zero";
    case Kind::InvalidOperation:
        return "invalid floating-point operation";
    case Kind::Overflow:
        return "floating-point overflow";
    }
    return "floating-point error";
}

namespace arith {

void fail(ArithmeticError::Kind kind, std::string_view detail)
{
    throw ArithmeticError(kind, detail);
}

} // namespace arith
} // namespace lumbrio
