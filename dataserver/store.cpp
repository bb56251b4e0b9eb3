#include "dataserver/store.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

#include "dataserver/errors.h"

namespace lumbrio {

namespace {

const QStringList StoreTables = {QStringLiteral("Mnlus"), QStringLiteral("Impuestos"),
                                 QStringLiteral("CodigosAlternos"), QStringLiteral("Parametros")};

[[noreturn]] void bad(const QString &why)
{
    throw DataServerError(why.toStdString());
}

// Runs fn inside one transaction of the store; a failure rolls everything back.
template <typename Fn>
void inTransaction(DbHandle &store, Fn fn)
{
    store.checkUsable();
    {
        QSqlDatabase db = QSqlDatabase::database(store.name(), false);
        if (!db.transaction())
            store.fail(db.lastError(), QStringLiteral("Couldn't start a transaction"));
    }
    try {
        fn();
    } catch (...) {
        QSqlDatabase::database(store.name(), false).rollback();
        throw;
    }
    QSqlDatabase db = QSqlDatabase::database(store.name(), false);
    if (!db.commit()) {
        const QSqlError error = db.lastError();
        db.rollback();
        store.fail(error, QStringLiteral("Couldn't commit"));
    }
}

bool holdsStoreTable(DbHandle &store)
{
    QSqlQuery query = store.newQuery();
    const QString sql = QStringLiteral(
        "SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema() "
        "AND lower(table_name) IN ('mnlus', 'impuestos', 'codigosalternos', 'parametros')");
    if (!query.prepare(sql) || !query.exec() || !query.next())
        store.fail(query.lastError(), QStringLiteral("Couldn't look for an existing store"));
    return query.value(0).toLongLong() > 0;
}

QVariant nullDouble()
{
    return QVariant(QMetaType::fromType<double>());
}

} // namespace

QStringList storeSchemaStatements()
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(storeSchemaSql()).split(QLatin1Char('\n')))
        if (!line.trimmed().startsWith(QLatin1String("--")))
            lines << line;
    QStringList statements;
    for (const QString &statement : lines.join(QLatin1Char('\n')).split(QLatin1Char(';')))
        if (!statement.trimmed().isEmpty())
            statements << statement.trimmed();
    return statements;
}

OpenParams parseStoreDestination(const QString &destination)
{
    OpenParams params;
    params.readOnly = false;
    params.mustExist = false;
    if (destination.trimmed().isEmpty())
        bad(QStringLiteral("no destination given"));

    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://"));
    const QRegularExpressionMatch match = scheme.match(destination);
    if (match.hasMatch()) {
        const QString name = match.captured(1).toLower();
        if (name != QLatin1String("postgresql") && name != QLatin1String("postgres"))
            bad(QStringLiteral("unsupported destination '%1': give a SQLite file path or a "
                               "postgresql:// URI")
                    .arg(destination));
        const QUrl url(destination, QUrl::StrictMode);
        if (!url.isValid())
            bad(QStringLiteral("bad PostgreSQL URI '%1': %2").arg(destination, url.errorString()));
        params.postgres = true;
        params.host = url.host();
        params.port = url.port(-1);
        params.user = url.userName();
        params.password = url.password();
        params.database = url.path().mid(1);
        if (params.database.contains(QLatin1Char('/')))
            bad(QStringLiteral("bad PostgreSQL URI '%1': the path names one database")
                    .arg(destination));
        QStringList options;
        for (const auto &[key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
            if (key.isEmpty() || value.contains(QLatin1Char(';')) ||
                value.contains(QLatin1Char(' ')) || value.contains(QLatin1Char('\'')))
                bad(QStringLiteral("bad PostgreSQL URI '%1': option '%2'").arg(destination, key));
            options << key + QLatin1Char('=') + value;
        }
        params.extraOptions = options.join(QLatin1Char(';'));
        return params;
    }

    const QFileInfo info(destination);
    if (info.isDir())
        bad(QStringLiteral("'%1' is a folder, not a store file").arg(destination));
    if (!info.absoluteDir().exists())
        bad(QStringLiteral("folder '%1' does not exist").arg(info.absolutePath()));
    params.sqlitePath = info.absoluteFilePath();
    return params;
}

std::unique_ptr<DbHandle> createStore(const OpenParams &destination, bool force)
{
    OpenParams params = destination;
    params.readOnly = false;
    params.mustExist = false;
    if (!params.postgres && QFileInfo::exists(params.sqlitePath)) {
        if (!force)
            bad(QStringLiteral("'%1' already exists; --force replaces it").arg(params.sqlitePath));
        for (const QString &suffix : {QString(), QStringLiteral("-journal"), QStringLiteral("-wal"),
                                      QStringLiteral("-shm")}) {
            const QString path = params.sqlitePath + suffix;
            if (QFileInfo::exists(path) && !QFile::remove(path))
                bad(QStringLiteral("Couldn't remove '%1'").arg(path));
        }
    }
    auto store = std::make_unique<DbHandle>(params);
    store->open();
    if (params.postgres && holdsStoreTable(*store) && !force)
        bad(QStringLiteral("database '%1' already holds a store; --force replaces it")
                .arg(params.database));
    inTransaction(*store, [&] {
        if (params.postgres)
            for (const QString &table : StoreTables)
                store->exec(QStringLiteral("DROP TABLE IF EXISTS ") + table);
        for (const QString &statement : storeSchemaStatements())
            store->exec(statement);
    });
    return store;
}

void insertItem(DbHandle &store, const StoreItem &item)
{
    // A null QString binds as NULL; an empty description is an empty text.
    QVariantList values{item.Codigo, item.Descrip.isNull() ? QStringLiteral("") : item.Descrip};
    for (const QVariant &price : item.Precio)
        values << (price.isNull() ? nullDouble() : price);
    for (const QVariant &rup : item.Rup_P)
        values << (rup.isNull() ? nullDouble() : rup);
    values << item.Imps_Act << item.Ban_imps << item.Tiene_Ofer
           << (item.Fec_ini_ofer.isNull() ? QVariant(QMetaType::fromType<QString>())
                                          : item.Fec_ini_ofer)
           << (item.Fec_fin_ofer.isNull() ? QVariant(QMetaType::fromType<QString>())
                                          : item.Fec_fin_ofer)
           << item.Pct_ofer;
    store.exec(QStringLiteral("INSERT INTO Mnlus (Codigo, Descrip, Precio, Precio2, Precio3, "
                              "Precio4, Precio5, Rup_P1, Rup_P2, Rup_P3, Rup_P4, Rup_P5, "
                              "Imps_Act, Ban_imps, Tiene_Ofer, Fec_ini_ofer, Fec_fin_ofer, "
                              "Pct_ofer) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                              "?, ?, ?)"),
               values);
}

void insertTax(DbHandle &store, int num, const QVariant &pct)
{
    store.exec(QStringLiteral("INSERT INTO Impuestos (Num, PCT) VALUES (?, ?)"),
               {num, pct.isNull() ? nullDouble() : pct});
}

void insertAlternate(DbHandle &store, const QString &clave, qint64 codigo, double mult)
{
    store.exec(QStringLiteral("INSERT INTO CodigosAlternos (Clave, Codigo, Mult) VALUES (?, ?, ?)"),
               {clave, codigo, mult});
}

void insertSetting(DbHandle &store, int tipo, const QVariant &valor)
{
    store.exec(QStringLiteral("INSERT INTO Parametros (Tipo, Valor) VALUES (?, ?)"),
               {tipo, valor.isNull() ? nullDouble() : valor});
}

QString storeTimestampText(const QDateTime &local)
{
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

namespace {

struct DemoItem
{
    qint64 codigo;
    const char *descrip;
    double precios[5];
    double rupturas[5];
    int impsAct;
    int banImps;
};

// Taxes of the demo store: 1 IEPS 8 % (high-calorie food), 2 IEPS 26.5 % (beer), 3 IVA 16 %,
// 4 IEPS 160 % (tobacco). IVA is levied on the price with the IEPS (compound, flag bit 1);
// tobacco carries IEPS and IVA each on the bare price (simple).
constexpr int Ieps8 = 1, IepsBeer = 2, Iva = 4, IepsTobacco = 8, IvaCompound = 2;

// clang-format off
const DemoItem DemoItems[] = {
    {7501055300075, "REFRESCO COLA 600 ML",           {18.5, 18, 17.5, 17, 16.5}, {}, Iva, 0},
    {7501055310883, "REFRESCO COLA 2 L",              {38, 0, 0, 0, 0}, {}, Iva, 0},
    {7501000111206, "GALLETAS MARÍAS 170 G",          {16, 0, 0, 0, 0}, {}, Ieps8 | Iva, IvaCompound},
    {7501000153107, "PAN BLANCO GRANDE 680 G",        {52.5, 0, 0, 0, 0}, {}, 0, 0},
    {7501020526066, "LECHE ENTERA 1 L",               {28.5, 0, 0, 0, 0}, {}, 0, 0},
    {7501020526073, "LECHE DESLACTOSADA 1 L",         {31, 0, 0, 0, 0}, {}, 0, 0},
    {7501058617026, "JABÓN DE TOCADOR 150 G",         {24.9, 23.5, 0, 0, 0}, {3, 9999, 0, 0, 0}, Iva, 0},
    {7501026005688, "JABÓN EN POLVO 1 KG",            {42, 0, 0, 0, 0}, {}, Iva, 0},
    {7501199417007, "AZÚCAR ESTÁNDAR 1 KG",           {34.5, 0, 0, 0, 0}, {}, 0, 0},
    {7501071301476, "ACEITE VEGETAL 1 L",             {46, 44, 42.5, 0, 0}, {5, 11, 23, 0, 0}, 0, 0},
    {7501003340139, "FRIJOL NEGRO 900 G",             {39.9, 0, 0, 0, 0}, {}, 0, 0},
    {7501003124111, "ARROZ SÚPER EXTRA 1 KG",         {32, 0, 0, 0, 0}, {}, 0, 0},
    {7501045401053, "ATÚN EN AGUA 140 G",             {21.5, 20, 0, 0, 0}, {3.5, 9999, 0, 0, 0}, 0, 0},
    {7501059224001, "CAFÉ SOLUBLE 200 G",             {119, 0, 0, 0, 0}, {}, 0, 0},
    {7501000611202, "CHOCOLATE EN TABLILLA 90 G",     {27.5, 0, 0, 0, 0}, {}, Ieps8 | Iva, IvaCompound},
    {7501011115606, "PAPAS FRITAS SAL 45 G",          {19, 0, 0, 0, 0}, {}, Ieps8 | Iva, IvaCompound},
    {7501064191015, "CERVEZA CLARA LATA 355 ML",      {22.5, 21, 20, 0, 0}, {5, 11, 23, 0, 0}, IepsBeer | Iva, IvaCompound},
    {7501064191046, "CERVEZA OSCURA BOTELLA 355 ML",  {22.8, 24, 0, 0, 0}, {9999, 5, 0, 0, 0}, IepsBeer | Iva, IvaCompound},
    {7501031311309, "CIGARROS CAJETILLA 20 PZAS",     {78, 0, 0, 0, 0}, {}, IepsTobacco | Iva, 0},
    {7501025403027, "PAPEL HIGIÉNICO 4 ROLLOS",       {36.5, 34, 0, 0, 0}, {2, 9999, 0, 0, 0}, Iva, 0},
    {7501035907010, "DETERGENTE LÍQUIDO 1 L",         {39, 0, 0, 0, 0}, {}, Iva, 0},
    {7501032940072, "CLORO 1 L",                      {19.5, 0, 0, 0, 0}, {}, Iva, 0},
    {7501006555011, "HUEVO BLANCO 12 PZAS",           {45, 0, 0, 0, 0}, {}, 0, 0},
    {7501005102834, "TORTILLAS DE MAÍZ 1 KG",         {24, 23, 22, 0, 0}, {2, 0, 5, 0, 0}, 0, 0},
    {7501000912347, "PASTA PARA SOPA FIDEO 200 G",    {11.5, 0, 0, 0, 0}, {}, 0, 0},
    {7501052413018, "SALSA PICANTE 150 ML",           {16.5, 0, 0, 0, 0}, {}, 0, 0},
    {7501000342142, "MAYONESA 390 G",                 {43, 0, 0, 0, 0}, {}, 0, 0},
    {7501079702856, "AGUA PURIFICADA 1.5 L",          {14, 13, 0, 0, 0}, {6, 9999, 0, 0, 0}, 0, 0},
    {7501008042966, "PIÑA EN ALMÍBAR 800 G",          {38.5, 0, 0, 0, 0}, {}, Ieps8 | Iva, IvaCompound},
    {7501013118049, "PILAS AA 4 PZAS",                {68, 0, 0, 0, 0}, {}, Iva, 0},
    {7501943402019, "DESODORANTE EN BARRA 50 G",      {54.9, 0, 0, 0, 0}, {}, Iva, 0},
    {7501000000123, "JAMÓN DE PAVO 250 G",            {48, 0, 0, 0, 0}, {}, 0, 0},
    {7501000000130, "QUESO PANELA 400 G",             {72.5, 0, 0, 0, 0}, {}, 0, 0},
    {2000000000015, "BOLILLO PIEZA",                  {3.5, 3, 0, 0, 0}, {10, 9999, 0, 0, 0}, 0, 0},
    {2000000000022, "JITOMATE SALADET KG",            {32.9, 0, 0, 0, 0}, {}, 0, 0},
    {2000000000039, "",                               {10, 0, 0, 0, 0}, {}, Iva, 0},
};
// clang-format on

constexpr qint64 ActiveOfferItem = 7501020526066;  // LECHE ENTERA: 10 % this month
constexpr qint64 ExpiredOfferItem = 7501059224001; // CAFÉ SOLUBLE: 15 %, ended
constexpr qint64 GeneratedFirstCode = 3000000000000;

} // namespace

void writeDemoCatalogue(DbHandle &store, int extraItems, const QDateTime &now)
{
    const QDate today = now.toLocalTime().date();
    inTransaction(store, [&] {
        insertTax(store, 1, 8.0);
        insertTax(store, 2, 26.5);
        insertTax(store, 3, 16.0);
        insertTax(store, 4, 160.0);
        insertSetting(store, 13, 0.0); // prices are stored before taxes

        for (const DemoItem &demo : DemoItems) {
            StoreItem item;
            item.Codigo = demo.codigo;
            item.Descrip = QString::fromUtf8(demo.descrip);
            // Without breaks a kiosk shows all five prices; a store selling an item at one price
            // fills them all, or the kiosk would show 0.00.
            const bool breaks = std::any_of(std::begin(demo.rupturas), std::end(demo.rupturas),
                                            [](double r) { return r > 0; });
            for (int i = 0; i < 5; ++i) {
                item.Precio[i] =
                    !breaks && demo.precios[i] == 0 ? demo.precios[0] : demo.precios[i];
                item.Rup_P[i] = demo.rupturas[i];
            }
            item.Imps_Act = demo.impsAct;
            item.Ban_imps = demo.banImps;
            if (demo.codigo == ActiveOfferItem) {
                item.Tiene_Ofer = 1;
                item.Pct_ofer = 0.10;
                item.Fec_ini_ofer = storeTimestampText(QDateTime(today.addDays(-7), QTime(0, 0)));
                item.Fec_fin_ofer =
                    storeTimestampText(QDateTime(today.addDays(365), QTime(23, 59, 59)));
            } else if (demo.codigo == ExpiredOfferItem) {
                item.Tiene_Ofer = 1;
                item.Pct_ofer = 0.15;
                item.Fec_ini_ofer = storeTimestampText(QDateTime(today.addDays(-60), QTime(8, 0)));
                item.Fec_fin_ofer =
                    storeTimestampText(QDateTime(today.addDays(-30), QTime(21, 30)));
            }
            insertItem(store, item);
        }
        // Pack barcodes stand for several units; short keys for items without a barcode.
        insertAlternate(store, QStringLiteral("17501064191012"), 7501064191015, 24);
        insertAlternate(store, QStringLiteral("27501064191019"), 7501064191015, 6);
        insertAlternate(store, QStringLiteral("17501055300072"), 7501055300075, 12);
        insertAlternate(store, QStringLiteral("BOLILLO"), 2000000000015, 1);
        insertAlternate(store, QStringLiteral("JIT-KG"), 2000000000022, 1);

        for (int i = 0; i < extraItems; ++i) {
            StoreItem item;
            item.Codigo = GeneratedFirstCode + i;
            item.Descrip = QStringLiteral("ARTÍCULO GENÉRICO %1").arg(i + 1);
            const double base = 5 + (i * 37 % 1000) / 10.0;
            item.Precio[0] = base;
            if (i % 3 == 0) {
                item.Precio[1] = base * 0.95;
                item.Precio[2] = base * 0.9;
                item.Rup_P[0] = 5.0;
                item.Rup_P[1] = 11.0;
                item.Rup_P[2] = 23.0;
            }
            item.Imps_Act = (i % 2 == 0) ? Iva : 0;
            insertItem(store, item);
        }
    });
}

} // namespace lumbrio
