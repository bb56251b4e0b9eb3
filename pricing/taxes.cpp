#include "pricing/taxes.h"

#include "pricing/arith.h"

namespace lumbrio {

namespace {

// The largest coin count whose fixed-point amount (n x 10 000) fits an int64.
constexpr std::int64_t MaxCoins = 922'337'203'685'477;

} // namespace

double AplicaImpuestos(std::uint8_t Ban_imps, const TTasasImpuesto &rates, double price,
                       std::int16_t Imps_Act)
{
    const auto mask = static_cast<std::uint16_t>(Imps_Act);
    double factor = 1.0;
    // Only taxes 1 to 9 have a rate; higher mask bits name nothing and are ignored.
    for (unsigned k = 1; k <= rates.size(); ++k) {
        if ((mask & (1u << (k - 1))) == 0)
            continue;
        const long double rate = rates[k - 1];
        const bool compound = k >= 2 && (Ban_imps & (1u << (k - 2))) != 0;
        factor = compound ? arith::store(arith::add(factor, arith::mul(factor, rate)))
                          : arith::store(arith::add(factor, rate));
    }
    return arith::store(arith::mul(price, factor));
}

std::int64_t ImporteFijo(double taxedPrice)
{
    // The product is not rounded to a double first: 115.99999999999999 gives exactly 1 160 000.
    return arith::roundToInt64(arith::mul(taxedPrice, 10000.0L));
}

CoinRounding roundToCoin(std::int64_t amount, double MonedaMinima, double PuntoRedondeo)
{
    const long double c = MonedaMinima;
    const double t = PuntoRedondeo;
    arith::operand(t);

    // Every int64 magnitude, 2^63 included, is exact in double-extended.
    const bool negative = amount < 0;
    const long double a =
        negative ? -static_cast<long double>(amount) : static_cast<long double>(amount);

    const long double q = arith::div(arith::div(a, c), 10000.0L);
    const std::int64_t n = arith::truncToInt64(q);
    if (n > MaxCoins || n < -MaxCoins) {
        arith::fail(ArithmeticError::Kind::InvalidOperation,
                    "coin count too large for a fixed-point amount");
    }

    const double b =
        arith::store(arith::div(arith::mul(c, static_cast<long double>(n * 10000)), 10000.0L));
    const double rem = arith::store(arith::div(arith::sub(a, arith::mul(b, 10000.0L)), 10000.0L));

    // A threshold of 0 or below reverses the test: the coin is added below it.
    const bool reached = rem >= t;
    const bool addCoin = t > 0.0 ? reached : !reached;
    const double v = addCoin ? arith::store(arith::add(b, c)) : b;

    return CoinRounding{n, b, rem, addCoin, negative ? -v : v};
}

double RedondeaMoneda(std::int64_t amount, double MonedaMinima, double PuntoRedondeo)
{
    return roundToCoin(amount, MonedaMinima, PuntoRedondeo).result;
}

double AplicaOferta(double price, double Pct_ofer)
{
    return arith::store(arith::mul(arith::sub(1.0L, Pct_ofer), price));
}

} // namespace lumbrio
