// The data-server link against a real store, one suite run on SQLite and on PostgreSQL.
#include <cmath>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "dataserver/drelconnection.h"
#include "pricing/tiers.h"
#include "tests/dataserver/storefixture.h"

namespace lumbrio::test {
namespace {

const QString PriceQuery = QStringLiteral(
    "Select Precio,Precio2,Precio3,Precio4,Precio5,Rup_P1,Rup_P2,Rup_P3,Rup_P4,Rup_P5 "
    "From Mnlus Where Codigo=");

class DataServerTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        if (!store.create())
            GTEST_SKIP() << "store not available";
        store.configure(conn);
    }

    /// Connects and creates the DataSrv handle.
    IData_Srv_Drel &server()
    {
        if (!conn.Connected())
            conn.SetConnected(true);
        if (!dataSrv)
            dataSrv = conn.CreateDataSrv();
        return *dataSrv;
    }

    void setSetting13(const QVariant &value)
    {
        store.writer->exec(QStringLiteral("DELETE FROM Parametros"));
        if (value.isValid())
            insertSetting(*store.writer, 13, value);
    }

    StoreFixture store{GetParam()};
    TDrelConnection conn;
    std::unique_ptr<IData_Srv_Drel> dataSrv;
};

// ---- setting 13 and the tax table -----------------------------------------------------------

struct SettingCase
{
    QVariant valor; // invalid: no row 13
    bool netas;
};

TEST_P(DataServerTest, Setting13GivesNetPricesFromBitOneOfItsTruncatedValue)
{
    const std::vector<SettingCase> cases = {
        {2.0, true},         {3.0, true},
        {6.0, true},         {2.9, true},
        {0.0, false},        {1.0, false},
        {4.0, false},        {5.0, false},
        {1.9, false},        {-1.0, true},
        {-2.0, true},        {-3.0, false},
        {-4.0, false},       {QVariant(QMetaType::fromType<double>()), false},
        {QVariant(), false},
    };
    insertTax(*store.writer, 1, 16.0);
    for (const SettingCase &c : cases) {
        SCOPED_TRACE(c.valor.isValid() ? c.valor.toString().toStdString() : "no row");
        setSetting13(c.valor);
        conn.SetConnected(true);
        const DatosConexion datos = PreparaDatos(conn);
        EXPECT_EQ(datos.PreciosNetos, c.netas);
        ASSERT_NE(datos.DataSrv, nullptr);
        EXPECT_EQ(datos.TasasImpuesto[0], c.netas ? 0.0 : 0.16);
        conn.SetConnected(false);
    }
}

TEST_P(DataServerTest, NetPricesSendNoTaxQuery)
{
    // Without the tax table the tax query would fail: net prices must not ask for it.
    setSetting13(2.0);
    store.writer->exec(QStringLiteral("DROP TABLE Impuestos"));
    conn.SetConnected(true);
    const DatosConexion datos = PreparaDatos(conn);
    EXPECT_TRUE(datos.PreciosNetos);
    EXPECT_EQ(datos.TasasImpuesto, TTasasImpuesto{});

    setSetting13(0.0);
    EXPECT_THROW(PreparaDatos(conn), DataServerError);
}

TEST_P(DataServerTest, Setting13OutOfRangeFailsTheStart)
{
    setSetting13(1e300);
    conn.SetConnected(true);
    EXPECT_THROW(PreparaDatos(conn), DataServerError);
}

struct TaxCase
{
    const char *name;
    std::vector<QVariant> percents; // in tax-number order
    TTasasImpuesto rates;
};

TEST_P(DataServerTest, TaxTableFillsTheNineRatesAndNoMore)
{
    const QVariant null(QMetaType::fromType<double>());
    const std::vector<TaxCase> cases = {
        {"empty", {}, {}},
        {"two rows", {16.0, 8.0}, {0.16, 0.08}},
        {"nine rows",
         {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 26.5},
         {0.01, 0.02, 0.03, 0.04, 0.05, 0.06, 0.07, 0.08, 0.265}},
        {"twelve rows",
         {16.0, 8.0, 3.0, 4.0, 5.0, 6.0, 7.0, 9.0, 160.0, 50.0, 60.0, 70.0},
         {0.16, 0.08, 0.03, 0.04, 0.05, 0.06, 0.07, 0.09, 1.6}},
        {"a null rate", {16.0, null, 8.0}, {0.16, 0.0, 0.08}},
    };
    setSetting13(0.0);
    for (const TaxCase &c : cases) {
        SCOPED_TRACE(c.name);
        store.writer->exec(QStringLiteral("DELETE FROM Impuestos"));
        // Inserted from the last tax number down: the rates follow the tax number, not the
        // order in which the rows were stored.
        for (int i = static_cast<int>(c.percents.size()); i >= 1; --i)
            insertTax(*store.writer, i, c.percents[static_cast<std::size_t>(i - 1)]);
        conn.SetConnected(true);
        const DatosConexion datos = PreparaDatos(conn);
        EXPECT_FALSE(datos.PreciosNetos);
        EXPECT_EQ(datos.TasasImpuesto, c.rates);
        conn.SetConnected(false);
    }
}

// ---- BuscaPrecio ----------------------------------------------------------------------------

TEST_P(DataServerTest, FoundItemReturnsItsRow)
{
    StoreItem row = item(7501058617026, QStringLiteral("JABÓN DE TOCADOR ñ"), 24.9);
    row.Ban_imps = 200; // the eight flag bits, top bit set
    row.Imps_Act = 5;
    row.Pct_ofer = 0.25;
    insertItem(*store.writer, row);

    Lookup l = Lookup::scanned(QStringLiteral("7501058617026"));
    l.run(server());
    EXPECT_EQ(l.result, 1);
    EXPECT_EQ(l.Codigo, 7501058617026.0);
    EXPECT_EQ(l.Descrip, QStringLiteral("JABÓN DE TOCADOR ñ"));
    EXPECT_EQ(l.Precio, 24.9);
    EXPECT_EQ(static_cast<std::uint8_t>(l.Ban_imps), 200);
    EXPECT_EQ(l.Imps_Act, 5);
    EXPECT_EQ(l.Pct_ofer, 0.25);
    EXPECT_EQ(l.Mult, 1.0);
    EXPECT_EQ(l.Tiene_Ofer, 0);
    EXPECT_EQ(l.Fec_ini_ofer, 0.0);
    EXPECT_EQ(l.Fec_fin_ofer, 0.0);
    EXPECT_EQ(l.Bans_Art, 0);
    EXPECT_EQ(l.Precio_Sug, 0.0);
    EXPECT_EQ(l.Depto, 0);
    EXPECT_TRUE(l.UnidadVta.isEmpty());
    EXPECT_TRUE(l.Unidad.isEmpty());
}

TEST_P(DataServerTest, EmptyDescriptionAndNullPriceReadAsEmptyAndZero)
{
    StoreItem row = item(42, QString(), 0);
    row.Precio[0] = QVariant();
    insertItem(*store.writer, row);
    Lookup l = Lookup::scanned(QStringLiteral("42"));
    l.run(server());
    EXPECT_EQ(l.result, 1);
    EXPECT_EQ(l.Descrip, QString());
    EXPECT_EQ(l.Precio, 0.0);
}

TEST_P(DataServerTest, NotFoundLeavesTheParameters)
{
    insertItem(*store.writer, item(1001, QStringLiteral("ITEM"), 10));
    insertAlternate(*store.writer, QStringLiteral("DANGLING"), 999999, 6);
    for (const char *scanned :
         {"1002", "ABC123", "", "10.5", "1001.5", "1e300", "-1001", "DANGLING"}) {
        SCOPED_TRACE(scanned);
        Lookup l = Lookup::scanned(QString::fromUtf8(scanned));
        const Lookup before = l;
        l.run(server());
        EXPECT_EQ(l.result, 0);
        EXPECT_EQ(l.Descrip, before.Descrip);
        EXPECT_EQ(l.Codigo, before.Codigo);
        EXPECT_EQ(l.Mult, before.Mult);
        EXPECT_EQ(l.Precio, before.Precio);
    }
}

// The price query writes the item code with at most 15 significant digits, so a stored code of
// 16 digits would name its rounded neighbour: the look-up fails instead, by the item's own code
// and through an alternate code alike.
TEST_P(DataServerTest, ItemCodeBeyondFifteenDigitsFailsTheLookup)
{
    insertItem(*store.writer, item(999999999999999, QStringLiteral("QUINCE"), 1));
    insertItem(*store.writer, item(1234567890123456, QStringLiteral("DIECISEIS"), 5));
    insertAlternate(*store.writer, QStringLiteral("LARGO"), 1234567890123456, 1);

    Lookup fifteen = Lookup::scanned(QStringLiteral("999999999999999"));
    fifteen.run(server());
    EXPECT_EQ(fifteen.result, 1);
    EXPECT_EQ(fifteen.Codigo, 999999999999999.0);
    for (const char *scanned : {"1234567890123456", "LARGO"}) {
        SCOPED_TRACE(scanned);
        Lookup l = Lookup::scanned(QString::fromUtf8(scanned));
        EXPECT_THROW(l.run(server()), DataServerError);
    }
}

TEST_P(DataServerTest, AlternateCodesGiveTheirItemAndMultiplier)
{
    insertItem(*store.writer, item(7501064191015, QStringLiteral("CERVEZA CLARA"), 22.5));
    insertItem(*store.writer, item(2000000000015, QStringLiteral("BOLILLO"), 3.5));
    insertAlternate(*store.writer, QStringLiteral("17501064191012"), 7501064191015, 24);
    insertAlternate(*store.writer, QStringLiteral("BOL-1"), 2000000000015, 1);
    insertAlternate(*store.writer, QStringLiteral("O'HARA; --"), 2000000000015, 2.5);
    // A code that is an alternate key wins over an item of the same number.
    insertItem(*store.writer, item(17501064191012, QStringLiteral("NOT THIS"), 1));

    struct Case
    {
        const char *scanned;
        double codigo;
        double mult;
    };
    for (const Case &c :
         {Case{"17501064191012", 7501064191015, 24}, Case{"BOL-1", 2000000000015, 1},
          Case{"O'HARA; --", 2000000000015, 2.5}, Case{"7501064191015", 7501064191015, 1}}) {
        SCOPED_TRACE(c.scanned);
        Lookup l = Lookup::scanned(QString::fromUtf8(c.scanned));
        l.run(server());
        EXPECT_EQ(l.result, 1);
        EXPECT_EQ(l.Codigo, c.codigo);
        EXPECT_EQ(l.Mult, c.mult);
    }
}

TEST_P(DataServerTest, HostileCodesFindNothingAndHarmNothing)
{
    insertItem(*store.writer, item(1001, QStringLiteral("ITEM"), 10));
    for (const char *scanned :
         {"1' OR '1'='1", "1; DROP TABLE Mnlus", "'; DELETE FROM Mnlus; --", "\\'", "%", "_",
          "1001 OR 1=1", "\"Mnlus\"", "' UNION SELECT 1,2,3 --"}) {
        SCOPED_TRACE(scanned);
        Lookup l = Lookup::scanned(QString::fromUtf8(scanned));
        l.run(server());
        EXPECT_EQ(l.result, 0);
    }
    Lookup l = Lookup::scanned(QStringLiteral("1001"));
    EXPECT_EQ(l.run(server()).result, 1);
}

struct OfferCase
{
    const char *name;
    int flag;
    QDateTime now;
    std::int8_t tieneOfer;
};

TEST_P(DataServerTest, OfferCountsOnlyInsideItsWindow)
{
    StoreItem row = item(5, QStringLiteral("LECHE"), 28.5);
    row.Tiene_Ofer = 1;
    row.Pct_ofer = 0.1;
    row.Fec_ini_ofer = QStringLiteral("2024-06-01 08:05:00");
    row.Fec_fin_ofer = QStringLiteral("2024-06-30 23:59:00");
    insertItem(*store.writer, row);
    StoreItem flagTwo = row;
    flagTwo.Codigo = 6;
    flagTwo.Tiene_Ofer = 2;
    insertItem(*store.writer, flagTwo);
    StoreItem noDates = item(7, QStringLiteral("SIN FECHAS"), 1);
    noDates.Tiene_Ofer = 1;
    noDates.Pct_ofer = 0.5;
    insertItem(*store.writer, noDates);

    const auto at = [](int d, int h, int m, int s) {
        return QDateTime(QDate(2024, 6, d), QTime(h, m, s));
    };
    const std::vector<OfferCase> cases = {
        {"before the start", 1, at(1, 8, 4, 59), 0}, {"at the start", 1, at(1, 8, 5, 0), 1},
        {"inside", 1, at(15, 12, 0, 0), 1},          {"at the end", 1, at(30, 23, 59, 0), 1},
        {"after the end", 1, at(30, 23, 59, 1), 0},  {"flag 2 inside", 2, at(15, 12, 0, 0), 0},
    };
    for (const OfferCase &c : cases) {
        SCOPED_TRACE(c.name);
        conn.Clock = [now = c.now] { return now; };
        dataSrv.reset();
        Lookup l = Lookup::scanned(QString::number(c.flag == 1 ? 5 : 6));
        l.run(server());
        ASSERT_EQ(l.result, 1);
        EXPECT_EQ(l.Tiene_Ofer, c.tieneOfer);
        // 1 June 2024 is day 45444 of the OLE Automation calendar; 08:05 is 485 minutes.
        EXPECT_DOUBLE_EQ(l.Fec_ini_ofer, 45444 + 485.0 / 1440);
        EXPECT_DOUBLE_EQ(l.Fec_fin_ofer, 45473 + 1439.0 / 1440);
        EXPECT_EQ(l.Pct_ofer, 0.1);
    }
    Lookup l = Lookup::scanned(QStringLiteral("7"));
    l.run(server());
    EXPECT_EQ(l.Tiene_Ofer, 0);
    EXPECT_EQ(l.Fec_ini_ofer, 0.0);
}

TEST_P(DataServerTest, SettingReadsZeroWithoutItsRow)
{
    insertSetting(*store.writer, 7, 12.5);
    EXPECT_EQ(server().Set_Get(7, 0), 12.5);
    EXPECT_EQ(server().Set_Get(8, 0), 0.0);
}

// ---- the client dataset ---------------------------------------------------------------------

TEST_P(DataServerTest, PriceQueryRowFeedsTheTiers)
{
    StoreItem row = item(7501071301476, QStringLiteral("ACEITE"), 10);
    row.Precio[1] = 9.5;
    row.Precio[2] = 9.0;
    row.Rup_P[0] = 5.0;
    row.Rup_P[1] = 11.0;
    row.Rup_P[2] = 23.0;
    row.Rup_P[3] = QVariant(); // null reads 0
    insertItem(*store.writer, row);
    conn.SetConnected(true);

    TClientDataSet ds(conn, QueryMultiaProvider, PriceQuery + QStringLiteral("7501071301476"));
    ds.Open();
    ASSERT_FALSE(ds.IsEmpty());
    EXPECT_EQ(ds.number("Rup_P4"), 0.0);
    EXPECT_EQ(ds.number("rup_p2"), 11.0); // names are found without regard to case
    TRupturas tiers{};
    ASSERT_EQ(CalculaRupturas(ds, tiers, 1.0), 3);
    EXPECT_EQ(tiers[0].Cantidad, 0.0);
    EXPECT_EQ(tiers[0].Precio, 10.0);
    EXPECT_EQ(tiers[1].Cantidad, 6.0);
    EXPECT_EQ(tiers[1].Precio, 57.0);
    EXPECT_EQ(tiers[2].Cantidad, 12.0);
    EXPECT_EQ(tiers[2].Precio, 108.0);
    try {
        ds.number("Descrip");
        ADD_FAILURE() << "a column outside the query was read";
    } catch (const MissingColumn &e) {
        EXPECT_EQ(e.column(), "Descrip");
    }
    ds.Close();
    EXPECT_THROW(ds.number("Precio"), DataServerError);
}

TEST_P(DataServerTest, PriceQueryAcceptsTheCodeInEveryShortGeneralForm)
{
    insertItem(*store.writer, item(1234567890123, QStringLiteral("TRECE"), 1));
    conn.SetConnected(true);
    for (const char *code : {"1234567890123", "1.23456789012346E15", "12.5", "0"}) {
        SCOPED_TRACE(code);
        TClientDataSet ds(conn, QueryMultiaProvider, PriceQuery + QString::fromUtf8(code));
        ds.Open();
        EXPECT_EQ(ds.IsEmpty(), std::string(code) != "1234567890123");
        EXPECT_EQ(ds.number("Precio"), ds.IsEmpty() ? 0.0 : 1.0); // an empty result reads 0
    }
}

// The price query runs as one prepared statement with the code bound: each code in turn must
// still find its own row, and a bad statement of that shape must still fail.
TEST_P(DataServerTest, PriceQueryGivesEachCodeItsOwnRowInTurn)
{
    insertItem(*store.writer, item(750, QStringLiteral("UNO"), 1.5));
    insertItem(*store.writer, item(7501071301476, QStringLiteral("DOS"), 2.5));
    conn.SetConnected(true);
    const struct
    {
        const char *code;
        double precio; // 0: no row
    } cases[] = {{"750", 1.5}, {"7501071301476", 2.5}, {"751", 0},
                 {"750", 1.5}, {"000750", 1.5},        {"7501071301476", 2.5}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        TClientDataSet ds(conn, QueryMultiaProvider, PriceQuery + QString::fromUtf8(c.code));
        ds.Open();
        EXPECT_EQ(ds.IsEmpty(), c.precio == 0);
        EXPECT_EQ(ds.number("Precio"), c.precio);
    }
    TClientDataSet missing(conn, QueryMultiaProvider,
                           QStringLiteral("Select Precio From NoSuchTable Where Codigo=750"));
    EXPECT_THROW(missing.Open(), DataServerError);
}

TEST_P(DataServerTest, NextOnTheLastRowStaysThere)
{
    insertTax(*store.writer, 1, 16.0);
    insertTax(*store.writer, 2, 8.0);
    conn.SetConnected(true);
    TClientDataSet ds(conn, QueryMultiaProvider,
                      QStringLiteral("Select PCT From Impuestos Order By Num"));
    ds.Open();
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(ds.number("PCT"), 16.0);
    ds.Next();
    EXPECT_EQ(ds.number("PCT"), 8.0);
    EXPECT_FALSE(ds.Eof());
    ds.Next();
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.number("PCT"), 8.0);
}

TEST_P(DataServerTest, OtherProvidersAndStatementsAreRefused)
{
    insertSetting(*store.writer, 13, 0.0);
    conn.SetConnected(true);
    struct Case
    {
        QString provider;
        QString command;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("OtroProvider"), QStringLiteral("Select PCT From Impuestos")},
        {QString(), QStringLiteral("Select PCT From Impuestos")},
        {QueryMultiaProvider, QStringLiteral("Select PCT From Impuestos; Delete From Parametros")},
        {QueryMultiaProvider, QStringLiteral("Select PCT From NoSuchTable")},
        // Writes through the connection fail: the store is opened read-only.
        {QueryMultiaProvider, QStringLiteral("Insert Into Parametros (Tipo, Valor) Values (1, 2)")},
        {QueryMultiaProvider, QStringLiteral("Delete From Parametros")},
        {QueryMultiaProvider, QStringLiteral("Update Parametros Set Valor = 2")},
        {QueryMultiaProvider, QStringLiteral("Drop Table Parametros")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.provider.toStdString() + ": " + c.command.toStdString());
        TClientDataSet ds(conn, c.provider, c.command);
        try {
            ds.Open();
            ADD_FAILURE() << "opened";
        } catch (const ConnectionLost &e) {
            ADD_FAILURE() << "taken for a lost connection: " << e.what();
        } catch (const DataServerError &) {
        }
        EXPECT_FALSE(ds.Active());
    }
    // Nothing was changed, and the connection still serves.
    EXPECT_EQ(server().Set_Get(13, 0), 0.0);
    TClientDataSet ds(conn, QueryMultiaProvider, QStringLiteral("Select Tipo From Parametros"));
    ds.Open();
    EXPECT_EQ(ds.number("Tipo"), 13.0);
}

// ---- connecting -----------------------------------------------------------------------------

TEST_P(DataServerTest, AfterConnectRunsInsideTheConnectCall)
{
    insertSetting(*store.writer, 13, 0.0);
    insertTax(*store.writer, 1, 16.0);
    std::optional<DatosConexion> datos;
    bool connectedInHandler = false;
    std::thread::id handlerThread;
    conn.AfterConnect = [&] {
        connectedInHandler = conn.Connected();
        handlerThread = std::this_thread::get_id();
        datos = PreparaDatos(conn);
    };
    conn.SetConnected(true);
    EXPECT_TRUE(connectedInHandler);
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    ASSERT_TRUE(datos.has_value());
    EXPECT_EQ(datos->TasasImpuesto[0], 0.16);
    EXPECT_EQ(datos->DataSrv->Set_Get(13, 0), 0.0);

    // Disconnecting releases everything: the handle created from it stops serving.
    conn.SetConnected(false);
    EXPECT_FALSE(conn.Connected());
    EXPECT_THROW(datos->DataSrv->Set_Get(13, 0), DataServerError);
    EXPECT_THROW(conn.Reopen(), DataServerError);
}

TEST_P(DataServerTest, AFailingHandlerFailsTheConnectCall)
{
    insertSetting(*store.writer, 13, 0.0);
    int calls = 0;
    conn.AfterConnect = [&] {
        ++calls;
        throw std::runtime_error("listener port in use");
    };
    EXPECT_THROW(conn.SetConnected(true), std::runtime_error);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(conn.Connected());

    // A query on a provider the data server does not have.
    conn.AfterConnect = [&] {
        TClientDataSet ds(conn, QStringLiteral("QueryProvider"),
                          QStringLiteral("Select PCT From Impuestos"));
        ds.Open();
    };
    EXPECT_THROW(conn.SetConnected(true), DataServerError);
    EXPECT_FALSE(conn.Connected());
}

TEST_P(DataServerTest, MissingTablesFailTheConnectCall)
{
    insertSetting(*store.writer, 13, 0.0);
    conn.AfterConnect = [&] { PreparaDatos(conn); };
    for (const char *table : {"Impuestos", "Parametros", "Mnlus"}) {
        SCOPED_TRACE(table);
        ASSERT_TRUE(store.create());
        insertSetting(*store.writer, 13, 0.0);
        store.writer->exec(QStringLiteral("DROP TABLE ") + QString::fromUtf8(table));
        EXPECT_THROW(conn.SetConnected(true), DataServerError);
        EXPECT_FALSE(conn.Connected());
    }
}

TEST_P(DataServerTest, ReopenKeepsTheSameHandlesServing)
{
    insertItem(*store.writer, item(1001, QStringLiteral("ITEM"), 10));
    IData_Srv_Drel &srv = server();
    conn.Reopen();
    Lookup l = Lookup::scanned(QStringLiteral("1001"));
    EXPECT_EQ(l.run(srv).result, 1);
    TClientDataSet ds(conn, QueryMultiaProvider, PriceQuery + QStringLiteral("1001"));
    ds.Open();
    EXPECT_EQ(ds.number("Precio"), 10.0);
}

TEST_P(DataServerTest, TheStoreIsUsedFromItsOwnThreadOnly)
{
    insertItem(*store.writer, item(1001, QStringLiteral("ITEM"), 10));
    IData_Srv_Drel &srv = server();
    bool refused = false;
    std::thread other([&] {
        try {
            Lookup l = Lookup::scanned(QStringLiteral("1001"));
            l.run(srv);
        } catch (const std::logic_error &) {
            refused = true;
        }
    });
    other.join();
    EXPECT_TRUE(refused);
}

INSTANTIATE_TEST_SUITE_P(Sqlite, DataServerTest, ::testing::Values(Backend::Sqlite), backendName);
INSTANTIATE_TEST_SUITE_P(Postgres, DataServerTest, ::testing::Values(Backend::Postgres),
                         backendName);

} // namespace
} // namespace lumbrio::test
