// Prices one five-tier item end to end, as the request handler does for a found item: the tiers
// from the price row, then per tier the offer, the taxes, the fixed-point amount, the rounding to
// the smallest coin and the price form. One iteration is one item.

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include <benchmark/benchmark.h>

#include "pricing/row.h"
#include "pricing/taxes.h"
#include "pricing/tiers.h"
#include "service/regional.h"
#include "service/textforms.h"

namespace {

using namespace lumbrio;

// A price row held in memory, looked up by name like a query's current row.
class ItemRow final : public RowView
{
public:
    double number(std::string_view column) const override
    {
        for (const auto &[name, value] : m_columns) {
            if (name == column)
                return value;
        }
        throw MissingColumn(column);
    }

private:
    // Breaks out of column order, so the sort has work to do.
    std::array<std::pair<std::string_view, double>, 10> m_columns{{
        {"Precio", 10.99},
        {"Precio2", 10.49},
        {"Precio3", 9.99},
        {"Precio4", 9.49},
        {"Precio5", 8.99},
        {"Rup_P1", 1},
        {"Rup_P2", 12},
        {"Rup_P3", 6},
        {"Rup_P4", 48},
        {"Rup_P5", 24.5},
    }};
};

constexpr TTasasImpuesto Rates{0.16, 0.08, 0.05, 0, 0, 0, 0, 0, 0};
constexpr double Mult = 1;
constexpr double PctOfer = 0.15;
constexpr std::int16_t ImpsAct = 7; // taxes 1 to 3
constexpr std::uint8_t BanImps = 1; // tax 2 compound
constexpr double MonedaMinima = 0.01;
constexpr double PuntoRedondeo = 0.005;

void BM_PriceItem(benchmark::State &state)
{
    const ItemRow row;
    const RegionalSettings settings;
    TRupturas tiers{};
    std::array<std::string, 5> fields;
    for (auto _ : state) {
        const std::uint8_t count = CalculaRupturas(row, tiers, Mult);
        for (std::uint8_t t = 0; t < count; ++t) {
            const double offered = AplicaOferta(tiers[t].Precio, PctOfer);
            const double taxed = AplicaImpuestos(BanImps, Rates, offered, ImpsAct);
            const double rounded = RedondeaMoneda(ImporteFijo(taxed), MonedaMinima, PuntoRedondeo);
            fields[t] = formatPrice(rounded, settings);
        }
        benchmark::DoNotOptimize(fields);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PriceItem);

// The same without the price form: the arithmetic alone.
void BM_PriceItemArithmetic(benchmark::State &state)
{
    const ItemRow row;
    TRupturas tiers{};
    std::array<double, 5> prices{};
    for (auto _ : state) {
        const std::uint8_t count = CalculaRupturas(row, tiers, Mult);
        for (std::uint8_t t = 0; t < count; ++t) {
            const double offered = AplicaOferta(tiers[t].Precio, PctOfer);
            const double taxed = AplicaImpuestos(BanImps, Rates, offered, ImpsAct);
            prices[t] = RedondeaMoneda(ImporteFijo(taxed), MonedaMinima, PuntoRedondeo);
        }
        benchmark::DoNotOptimize(prices);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PriceItemArithmetic);

} // namespace

BENCHMARK_MAIN();
