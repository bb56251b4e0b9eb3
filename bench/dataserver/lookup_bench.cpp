// One price check's database work against a SQLite store of 100 000 items: BuscaPrecio on the
// DataSrv handle, then the price query and CalculaRupturas on its row.
#include <cstdint>
#include <memory>

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>

#include "dataserver/drelconnection.h"
#include "dataserver/store.h"
#include "pricing/tiers.h"

namespace {

using namespace lumbrio;

constexpr int StoreItems = 100'000;
constexpr qint64 FirstGeneratedCode = 3000000000000; // the tool's generated items

const QString PriceQuery = QStringLiteral(
    "Select Precio,Precio2,Precio3,Precio4,Precio5,Rup_P1,Rup_P2,Rup_P3,Rup_P4,Rup_P5 "
    "From Mnlus Where Codigo=");

struct Store
{
    QTemporaryDir dir;
    TDrelConnection conn;
    std::unique_ptr<IData_Srv_Drel> dataSrv;

    Store()
    {
        {
            auto writer = createStore(
                parseStoreDestination(dir.filePath(QStringLiteral("Srv_Drel.db"))), false);
            writeDemoCatalogue(*writer, StoreItems, QDateTime::currentDateTime());
        }
        conn.Settings.ConfDir = dir.path();
        conn.SetConnected(true);
        dataSrv = conn.CreateDataSrv();
    }
};

Store &store()
{
    static Store s;
    return s;
}

qint64 codeFor(std::int64_t i)
{
    return FirstGeneratedCode + (i * 7919) % StoreItems; // spread over the whole table
}

// One BuscaPrecio as the request handler calls it; Codigo and Mult come back as it returns them.
std::int8_t lookUp(Store &s, qint64 code, double &Codigo, double &Mult)
{
    Codigo = static_cast<double>(code);
    Mult = 1;
    double Precio = 0, Fec_ini = 0, Fec_fin = 0, Pct = 0, Precio_Sug = 0;
    QString Descrip = QString::number(code), UnidadVta, Unidad;
    std::int8_t Ban_imps = 0, Tiene_Ofer = 0;
    std::int16_t Imps_Act = 0;
    std::int32_t Bans_Art = 0, Depto = 0;
    return s.dataSrv->BuscaPrecio(Codigo, 1, Precio, Descrip, Ban_imps, Tiene_Ofer, Fec_ini,
                                  Fec_fin, Pct, Imps_Act, Mult, Bans_Art, Precio_Sug, Depto,
                                  UnidadVta, Unidad);
}

void BM_BuscaPrecioAndPriceQuery(benchmark::State &state)
{
    Store &s = store();
    std::int64_t i = 0;
    for (auto _ : state) {
        double Codigo = 0;
        double Mult = 1;
        if (lookUp(s, codeFor(i++), Codigo, Mult) != 1) {
            state.SkipWithError("item not found");
            break;
        }
        TClientDataSet ds(s.conn, QueryMultiaProvider,
                          PriceQuery + QString::number(static_cast<qint64>(Codigo)));
        ds.Open();
        TRupturas tiers{};
        benchmark::DoNotOptimize(CalculaRupturas(ds, tiers, Mult));
        benchmark::DoNotOptimize(tiers);
        ds.Close();
    }
}
BENCHMARK(BM_BuscaPrecioAndPriceQuery)->Unit(benchmark::kMicrosecond);

void BM_BuscaPrecioOnly(benchmark::State &state)
{
    Store &s = store();
    std::int64_t i = 0;
    for (auto _ : state) {
        double Codigo = 0;
        double Mult = 1;
        benchmark::DoNotOptimize(lookUp(s, codeFor(i++), Codigo, Mult));
    }
}
BENCHMARK(BM_BuscaPrecioOnly)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    store(); // build the store before any timing
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
