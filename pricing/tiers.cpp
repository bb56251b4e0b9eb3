#include "pricing/tiers.h"

#include <cmath>
#include <string>

#include "pricing/arith.h"

namespace lumbrio {

namespace {

struct Break
{
    double value;
    std::uint8_t number; // 1 to 5
};

// A column holding inf or NaN is refused here, so it can reach no tier and no reply.
double readNumber(const RowView &row, std::string_view column)
{
    const double value = row.number(column);
    if (!std::isfinite(value)) {
        arith::fail(ArithmeticError::Kind::InvalidOperation,
                    "column '" + std::string(column) + "' holds no finite number");
    }
    return value;
}

} // namespace

std::uint8_t CalculaRupturas(const RowView &row, TRupturas &tiers, double Mult)
{
    // Every break is read before any price, so a missing break column fails with nothing written.
    std::array<Break, 5> breaks{};
    std::uint8_t count = 0;
    for (std::uint8_t k = 1; k <= 5; ++k) {
        const double v = readNumber(row, NombresRuptura[k - 1]);
        if (v > 0.0)
            breaks[count++] = Break{v, k};
    }

    if (count == 0) {
        for (std::size_t i = 0; i < 5; ++i)
            tiers[i] = TRuptura{1.0, readNumber(row, NombresPrecio[i])};
        return 5;
    }

    // Stable insertion sort by value: among equal values the lower break number stays first.
    for (std::uint8_t i = 1; i < count; ++i) {
        const Break taken = breaks[i];
        std::uint8_t j = i;
        while (j > 0 && breaks[j - 1].value > taken.value) {
            breaks[j] = breaks[j - 1];
            --j;
        }
        breaks[j] = taken;
    }

    tiers[0].Cantidad = 0.0;
    tiers[0].Precio = readNumber(row, NombresPrecio[breaks[0].number - 1]);

    // Each break is the base of the next tier's quantity; the largest one enters no tier.
    for (std::uint8_t t = 1; t < count; ++t) {
        const double previous = breaks[t - 1].value;
        const bool fractional = previous - std::trunc(previous) != 0.0;
        TRuptura &tier = tiers[t];
        tier.Cantidad = arith::store(arith::add(previous, fractional ? 0.001L : 1.0L));

        const double unitPrice = readNumber(row, NombresPrecio[breaks[t].number - 1]);
        const bool multApplies =
            Mult != 1.0 && Mult > tiers[t - 1].Cantidad && Mult <= tier.Cantidad;
        tier.Precio = arith::store(arith::mul(unitPrice, multApplies ? Mult : tier.Cantidad));
    }
    return count;
}

} // namespace lumbrio
