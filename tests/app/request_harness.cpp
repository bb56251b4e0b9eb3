#include "request_harness.h"

#include "apptestutil.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace lumbrio::testing {

QByteArray replyOf(const QByteArrayList &fields)
{
    EXPECT_EQ(fields.size(), 13);
    QByteArray reply("\x02");
    for (const QByteArray &field : fields)
        reply += field + '|';
    return reply + "\x03\x04";
}

QByteArray itemReply(const QByteArray &code, const QByteArray &descrip,
                     const QByteArrayList &quantities, const QByteArrayList &prices,
                     const QByteArray &offer)
{
    QByteArrayList fields{code, descrip};
    for (qsizetype t = 0; t < 5; ++t)
        fields << (t < quantities.size() ? quantities[t] : QByteArray(" "));
    for (qsizetype t = 0; t < 5; ++t)
        fields << (t < prices.size() ? prices[t] : QByteArray(" "));
    fields << offer;
    return replyOf(fields);
}

QByteArray notFoundReply()
{
    return QByteArray::fromHex("02207C4152544943554C4F204E4F20454E434F4E545241444F7C207C207C20"
                               "7C207C207C207C207C207C207C207C207C0304");
}

QByteArrayList oneUnitEach()
{
    return {"1", "1", "1", "1", "1"};
}

QByteArray jabonReply()
{
    return itemReply("750", "JABON 150 G", oneUnitEach(),
                     {"18.50", "18.00", "17.50", "17.00", "16.50"});
}

QByteArray aceiteReply()
{
    return itemReply("751", "ACEITE 1 L", {"0", "6", "12"}, {"10.00", "57.00", "108.00"});
}

QString readLine(const QByteArray &data)
{
    return QStringLiteral("R") + QString::fromLatin1(data);
}

QString sentLine(const QByteArray &reply)
{
    return QString::fromUtf8("SE ENVIÓ:") + QString::fromLatin1(reply);
}

namespace {

StoreItem pricedItem(qint64 codigo, const char *descrip, std::initializer_list<double> precios)
{
    StoreItem item;
    item.Codigo = codigo;
    item.Descrip = QString::fromUtf8(descrip);
    int i = 0;
    for (double precio : precios)
        item.Precio[i++] = precio;
    return item;
}

StoreItem withOffer(StoreItem item, int tieneOfer, double pct, const char *from, const char *to)
{
    item.Tiene_Ofer = tieneOfer;
    item.Pct_ofer = pct;
    item.Fec_ini_ofer = QString::fromLatin1(from);
    item.Fec_fin_ofer = QString::fromLatin1(to);
    return item;
}

StoreItem withTaxes(StoreItem item, int impsAct, int banImps)
{
    item.Imps_Act = impsAct;
    item.Ban_imps = banImps;
    return item;
}

} // namespace

void fillCatalogue(DbHandle &store, bool net)
{
    // One transaction: a SQLite file syncs once instead of once per row.
    store.exec(QStringLiteral("BEGIN"));
    insertTax(store, 1, 16.0);
    insertTax(store, 2, 8.0);
    insertTax(store, 3, 5.0);
    insertSetting(store, 13, net ? 2.0 : 0.0);

    std::vector<StoreItem> items = {
        pricedItem(750, "JABON 150 G", {18.5, 18, 17.5, 17, 16.5}),
        pricedItem(7501000000018, "REFRESCO 600 ML", {12}),
        pricedItem(999999999999999, "TARJETA REGALO", {100}),
        // Beyond 15 digits, where the price query's code would be rounded onto its neighbour.
        pricedItem(1234567890123456, "CODIGO LARGO", {5}),
        pricedItem(1234567890123460, "VECINO", {7}),
        pricedItem(790, "", {5}),
        pricedItem(791, "DULCE", {0.125}),
        pricedItem(795, "PIÑA Ó 5€", {30}),
        // Taxes: 1 simple; 1 simple and 2 compound; 1 simple and 3 compound.
        withTaxes(pricedItem(760, "CIGARROS 20 PZAS", {8.62, 12.5, 99.99, 10, 0}), 1, 0),
        withTaxes(pricedItem(761, "VINO TINTO 750 ML", {10, 0.99, 100, 0, 0}), 3, 1),
        withTaxes(pricedItem(762, "REFRESCO LATA", {19.95, 100, 0, 0, 0}), 5, 2),
        // Amounts whose rounding to the coin depends on the coin and the threshold.
        pricedItem(770, "REDONDEO A", {12.344, 12.3449, 12.345, 1.005, 0.025}),
        pricedItem(771, "REDONDEO B", {12.374, 12.375, 12.38, 0, 0}),
        pricedItem(772, "REDONDEO C", {12.24, 12.25, 12.75, 0, 0}),
        pricedItem(773, "REDONDEO D", {12.4999, 12.5, 0, 0, 0}),
        // Offers, judged against 15 June 2020 at noon.
        withOffer(pricedItem(780, "LECHE 1 L", {20}), 1, 0.25, "2020-06-01 00:00:00",
                  "2020-06-30 23:59:00"),
        withOffer(pricedItem(781, "PAN 680 G", {20}), 1, 0.125, "2020-06-01 08:05:00",
                  "2020-06-30 12:05:00"),
        withOffer(pricedItem(782, "HUEVO 12 PZAS", {20}), 2, 0.25, "2020-06-01 00:00:00",
                  "2020-06-30 23:59:00"),
        withOffer(pricedItem(783, "CAFE 200 G", {20}), 1, 0.25, "2020-06-01 00:00:00",
                  "2020-06-10 23:59:00"),
        withTaxes(withOffer(pricedItem(784, "CERVEZA 355 ML", {20}), 1, 0.25, "2020-06-01 00:00:00",
                            "2020-06-30 23:59:00"),
                  1, 0),
    };

    // Breaks 5, 11 and 23 on prices 1 to 3.
    StoreItem aceite = pricedItem(751, "ACEITE 1 L", {10, 9.5, 9});
    aceite.Rup_P[0] = 5;
    aceite.Rup_P[1] = 11;
    aceite.Rup_P[2] = 23;
    aceite.Rup_P[3] = 0;
    aceite.Rup_P[4] = 0;
    items.push_back(aceite);

    // Breaks out of column order, a tie, a fractional break and a null one.
    StoreItem atun;
    atun.Codigo = 752;
    atun.Descrip = QStringLiteral("ATUN 140 G");
    atun.Precio[1] = 40;
    atun.Precio[3] = 45;
    atun.Precio[4] = 38;
    atun.Rup_P[0] = 0;
    atun.Rup_P[1] = 2.5;
    atun.Rup_P[3] = 1;
    atun.Rup_P[4] = 2.5;
    items.push_back(atun);

    for (const StoreItem &item : items)
        insertItem(store, item);
    insertAlternate(store, QStringLiteral("ABC123"), 752, 2.25);
    insertAlternate(store, QStringLiteral("12,5"), 750, 1);
    store.exec(QStringLiteral("COMMIT"));
}

ServedStore::ServedStore(test::Backend backend) : m_store(backend) {}

ServedStore::~ServedStore() = default;

QString ServedStore::storeFile() const
{
    return QDir(m_store.dir()).filePath(QStringLiteral("store.db"));
}

void ServedStore::start(const ServerOptions &options)
{
    m_port = freePort();
    ASSERT_NE(m_port, 0);

    QString conf = QStringLiteral("[SRV_DREL]\n");
    if (m_store.backend() == test::Backend::Sqlite) {
        conf += QStringLiteral("BASE=store.db\n");
    } else {
        conf += QStringLiteral("IP=%1\nBASE=%2\nUSUARIO=%3\nCLAVE=%4\nPUERTO_BD=%5\n")
                    .arg(test::env("LUMBRIO_PG_HOST"), test::env("LUMBRIO_PG_DATABASE"),
                         test::env("LUMBRIO_PG_USER"), test::env("LUMBRIO_PG_PASSWORD"),
                         test::env("LUMBRIO_PG_PORT"));
    }
    conf += QStringLiteral("[TCP]\nPUERTO=%1\n").arg(m_port);
    for (const QString &line : options.tcp)
        conf += line + QLatin1Char('\n');
    conf += QStringLiteral("[GENERAL]\n");
    for (const QString &line : options.general)
        conf += line + QLatin1Char('\n');

    const QString confPath = QDir(m_store.dir()).filePath(QStringLiteral("Conf.ini"));
    QFile file(confPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(conf.toUtf8());
    file.close();

    m_form = std::make_unique<TFMain>();
    QObject::connect(m_form.get(), &TFMain::debugLine,
                     [this](const QString &line) { m_lines << line; });
    const QDateTime now = options.now;
    m_form->DCOMDrel.Clock = [now] { return now; };
    m_form->FormCreate(OpcionesArranque{{QStringLiteral("DEBUG")}, confPath, options.regional});
}

bool ServedStore::waitForLine(const QString &line, qsizetype from)
{
    return waitUntil([&] { return m_lines.indexOf(line, from) >= 0; });
}

Terminal::Terminal(quint16 port, const QHostAddress &from)
{
    QObject::connect(&m_socket, &QIODevice::readyRead, &m_socket,
                     [this] { m_received += m_socket.readAll(); });
    if (from != QHostAddress::LocalHost && !m_socket.bind(from))
        return;
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    waitUntil([this] {
        return m_socket.state() == QAbstractSocket::ConnectedState ||
               m_socket.state() == QAbstractSocket::UnconnectedState;
    });
}

void Terminal::send(const QByteArray &bytes)
{
    m_socket.write(bytes);
    m_socket.flush();
}

QByteArrayList Terminal::replies() const
{
    QByteArrayList out;
    qsizetype start = 0;
    for (qsizetype end = m_received.indexOf("\x03\x04"); end >= 0;
         end = m_received.indexOf("\x03\x04", start)) {
        out << m_received.mid(start, end + 2 - start);
        start = end + 2;
    }
    return out;
}

bool Terminal::waitForReplies(qsizetype count)
{
    return waitUntil([&] { return replies().size() >= count; });
}

QByteArray Terminal::exchange(const QByteArray &bytes)
{
    const qsizetype before = replies().size();
    send(bytes);
    if (!waitForReplies(before + 1))
        return {};
    return replies().at(before);
}

bool Terminal::waitClosed()
{
    return waitUntil([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; });
}

} // namespace lumbrio::testing
