#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "pricing/row.h"

namespace lumbrio {

/// One quantity tier: the quantity in the item's units (may be fractional) and its price in
/// currency units, before offer, taxes and rounding.
struct TRuptura
{
    double Cantidad;
    double Precio;
};

/// Tiers 1 to 5; tier t is index t - 1.
using TRupturas = std::array<TRuptura, 5>;

/// Price column of each price number; price 1 carries no digit.
inline constexpr std::array<std::string_view, 5> NombresPrecio{"Precio", "Precio2", "Precio3",
                                                               "Precio4", "Precio5"};

/// Break column of each break number; break k belongs to price k.
inline constexpr std::array<std::string_view, 5> NombresRuptura{"Rup_P1", "Rup_P2", "Rup_P3",
                                                                "Rup_P4", "Rup_P5"};

/// Builds an item's tiers from its price row and the multiplier of the scanned code, writing
/// tiers 1 to n (n returned, 1 to 5) and leaving the others untouched.
/// Throws MissingColumn for a column it needs and the row lacks, and ArithmeticError when a
/// column it reads holds inf or NaN or a product overflows.
std::uint8_t CalculaRupturas(const RowView &row, TRupturas &tiers, double Mult);

} // namespace lumbrio
