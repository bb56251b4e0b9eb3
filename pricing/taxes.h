#pragma once

#include <array>
#include <cstdint>

namespace lumbrio {

/// Rates of taxes 1 to 9 as fractions (16 % is 0.16); tax k is index k - 1.
using TTasasImpuesto = std::array<double, 9>;

/// The price with the item's taxes. Bit k - 1 of Imps_Act set: tax k applies (bits 9 to 15 are
/// ignored). Bit k - 2 of Ban_imps set: tax k (2 to 9) is compound, levied on the price together
/// with the lower-numbered taxes; otherwise it is levied on the bare price.
/// Throws ArithmeticError on an inf or NaN price or rate, or an overflow.
double AplicaImpuestos(std::uint8_t Ban_imps, const TTasasImpuesto &rates, double price,
                       std::int16_t Imps_Act);

/// A taxed price as a fixed-point amount: the raw count price x 10 000 (formed in
/// double-extended precision), rounded to the nearest integer, ties to even.
/// Throws ArithmeticError (invalid operation) when it lies outside the int64 range.
std::int64_t ImporteFijo(double taxedPrice);

/// A fixed-point amount (raw count) rounded to a multiple of the coin MonedaMinima, one coin
/// more being added when the leftover reaches PuntoRedondeo. The sign of the amount is kept,
/// a negative zero included.
/// Throws ArithmeticError on a zero coin, an inf or NaN setting, or a coin count too large for a
/// fixed-point amount.
double RedondeaMoneda(std::int64_t amount, double MonedaMinima, double PuntoRedondeo);

/// The intermediate values of RedondeaMoneda, for checking its steps.
struct CoinRounding
{
    std::int64_t coins; ///< n: whole coins in the magnitude, truncated toward zero
    double base;        ///< b: the value of those coins
    double remainder;   ///< rem: the magnitude less the base
    bool coinAdded;     ///< whether the value is one coin more than the base
    double result;      ///< the rounded amount with the sign put back
};

/// RedondeaMoneda with its intermediate values.
CoinRounding roundToCoin(std::int64_t amount, double MonedaMinima, double PuntoRedondeo);

/// The price after an offer of the fraction Pct_ofer: (1 - Pct_ofer) x price, formed in
/// double-extended precision and stored as a double.
double AplicaOferta(double price, double Pct_ofer);

} // namespace lumbrio
