#include "dataserver/datasrv.h"

#include <cmath>
#include <limits>
#include <utility>

#include <QSqlQuery>

#include "dataserver/dbhandle.h"
#include "dataserver/drelconnection.h"
#include "dataserver/errors.h"

namespace lumbrio {

namespace {

// The scanned text as an alternate code first, else the code as a number: one statement, so
// one read of the store per lookup. Binds the text, then the code (NULL when it names none).
const QString LookupSql = QStringLiteral(
    "SELECT m.Codigo, m.Descrip, m.Precio, m.Ban_imps, m.Imps_Act, m.Tiene_Ofer, "
    "CAST(m.Fec_ini_ofer AS TEXT), CAST(m.Fec_fin_ofer AS TEXT), m.Pct_ofer, a.Clave, a.Mult "
    "FROM (SELECT CAST(? AS TEXT) AS Scanned) s "
    "LEFT JOIN CodigosAlternos a ON a.Clave = s.Scanned "
    "JOIN Mnlus m ON m.Codigo = COALESCE(a.Codigo, ?)");
// The largest item code: 15 digits, the most that the price query writes exactly.
constexpr long long MaxItemCode = 999'999'999'999'999LL;
// Item codes travel as Doubles: whole numbers up to 2^53 are exact.
constexpr long long ExactLimit = 9007199254740992LL;

const QString SettingSql = QStringLiteral("SELECT Valor FROM Parametros WHERE Tipo = ?");

// Releases a statement's result when the scope ends, whatever way: an SQLite statement left
// stepping would hold its read lock until the next request.
struct Finish
{
    QSqlQuery &query;
    ~Finish() { query.finish(); }
};

// Runs a prepared statement with its bound values; a failure throws with the statement named.
void run(DbHandle &handle, QSqlQuery &query, const QString &sql)
{
    if (!query.exec())
        handle.fail(query.lastError(), QStringLiteral("Couldn't run \"%1\"").arg(sql));
}

// A whole number read from an integer column, within [low, high].
long long wholeColumn(const QVariant &value, const QString &column, long long low, long long high)
{
    const double number = columnNumber(value, column);
    if (!(number >= static_cast<double>(low) && number <= static_cast<double>(high)) ||
        number != std::trunc(number))
        throw DataServerError("column " + column.toStdString() + " holds " +
                              value.toString().toStdString() + ", outside " + std::to_string(low) +
                              ".." + std::to_string(high));
    return static_cast<long long>(number);
}

// A date and time compared by its fields alone: stored offer times are local times, and so is
// the clock's reading.
QDateTime naive(const QDateTime &dateTime)
{
    return QDateTime(dateTime.date(), dateTime.time(), Qt::UTC);
}

} // namespace

QDateTime storeTimestamp(const QVariant &value, const QString &column)
{
    if (!value.isValid() || value.isNull())
        return {};
    const QString textValue = value.toString().trimmed();
    if (textValue.isEmpty())
        return {};
    // The date, then optionally a blank or T and the time; no time zone.
    const QDate date = QDate::fromString(textValue.left(10), Qt::ISODate);
    QTime time(0, 0);
    bool valid = date.isValid();
    if (valid && textValue.size() > 10) {
        const QChar separator = textValue.at(10);
        time = QTime::fromString(textValue.mid(11), Qt::ISODateWithMs);
        valid = (separator == QLatin1Char(' ') || separator == QLatin1Char('T')) && time.isValid();
    }
    if (!valid)
        throw DataServerError("column " + column.toStdString() + " holds no date and time: '" +
                              textValue.toStdString() + "'");
    return QDateTime(date, time, Qt::UTC);
}

double oleDate(const QDateTime &dateTime)
{
    if (!dateTime.isValid())
        return 0;
    const qint64 days = QDate(1899, 12, 30).daysTo(dateTime.date());
    const double fraction = dateTime.time().msecsSinceStartOfDay() / 86400000.0;
    // Before the epoch the day counts backwards but the time of day still counts forwards:
    // -1.25 is 29 December 1899, 06:00.
    return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

DataSrv::DataSrv(std::shared_ptr<DbHandle> handle, std::function<QDateTime()> clock)
    : m_handle(std::move(handle)), m_clock(std::move(clock))
{
}

DataSrv::~DataSrv() = default;

void DataSrv::prepareStatements()
{
    m_handle->prepared(LookupSql);
    m_handle->prepared(SettingSql);
}

double DataSrv::Set_Get(std::int32_t Tipo, std::int32_t /*Valor*/)
{
    QSqlQuery &query = m_handle->prepared(SettingSql);
    Finish finish{query};
    query.bindValue(0, Tipo);
    run(*m_handle, query, SettingSql);
    if (!query.next())
        return 0;
    return columnNumber(query.value(0), QStringLiteral("Parametros.Valor"));
}

std::int8_t DataSrv::BuscaPrecio(double &Codigo, std::int8_t /*No_Precio*/, double &Precio,
                                 QString &Descrip, std::int8_t &Ban_imps, std::int8_t &Tiene_Ofer,
                                 double &Fec_ini_ofer, double &Fec_fin_ofer, double &Pct_ofer,
                                 std::int16_t &Imps_Act, double &Mult, std::int32_t &Bans_Art,
                                 double &Precio_Sug, std::int32_t &Depto, QString &UnidadVta,
                                 QString &Unidad)
{
    // A code that is not a whole number within the exact range of a Double names no item.
    QVariant code(QMetaType::fromType<qlonglong>());
    if (Codigo != 0 && std::fabs(Codigo) <= static_cast<double>(ExactLimit) &&
        Codigo == std::trunc(Codigo))
        code = static_cast<qlonglong>(Codigo);

    QSqlQuery &query = m_handle->prepared(LookupSql);
    Finish finish{query};
    query.bindValue(0, Descrip);
    query.bindValue(1, code);
    run(*m_handle, query, LookupSql);
    if (!query.next())
        return 0;

    // Every value is converted before any parameter is written, so that a row that cannot be
    // read leaves the caller's values as they were.
    // The price query names the item by its code written with at most 15 significant digits:
    // a longer code would be rounded there and could name another item, whose prices the kiosk
    // would then show. Such a row fails the request instead.
    const auto itemCode = static_cast<double>(
        wholeColumn(query.value(0), QStringLiteral("Mnlus.Codigo"), -MaxItemCode, MaxItemCode));
    const QString description = query.value(1).toString();
    const double price = columnNumber(query.value(2), QStringLiteral("Mnlus.Precio"));
    const auto taxFlags = static_cast<std::uint8_t>(
        wholeColumn(query.value(3), QStringLiteral("Mnlus.Ban_imps"), 0, 255));
    const auto taxMask = static_cast<std::int16_t>(wholeColumn(
        query.value(4), QStringLiteral("Mnlus.Imps_Act"), std::numeric_limits<std::int16_t>::min(),
        std::numeric_limits<std::int16_t>::max()));
    const double offerFlag = columnNumber(query.value(5), QStringLiteral("Mnlus.Tiene_Ofer"));
    const QDateTime offerStart =
        storeTimestamp(query.value(6), QStringLiteral("Mnlus.Fec_ini_ofer"));
    const QDateTime offerEnd = storeTimestamp(query.value(7), QStringLiteral("Mnlus.Fec_fin_ofer"));
    const double offerPct = columnNumber(query.value(8), QStringLiteral("Mnlus.Pct_ofer"));
    // An alternate code gives its multiplier; the item's own code leaves Mult as it was.
    const double mult = query.value(9).isNull()
                            ? Mult
                            : columnNumber(query.value(10), QStringLiteral("CodigosAlternos.Mult"));

    // An offer counts only inside its window, both ends included; an expired offer, or one
    // without dates, is no offer.
    bool offer = false;
    if (offerFlag == 1 && offerStart.isValid() && offerEnd.isValid()) {
        const QDateTime now = naive(m_clock().toLocalTime());
        offer = offerStart <= now && now <= offerEnd;
    }

    Codigo = itemCode;
    Descrip = description;
    Precio = price;
    Ban_imps = static_cast<std::int8_t>(taxFlags); // the eight flag bits, as they are
    Imps_Act = taxMask;
    Tiene_Ofer = offer ? 1 : 0;
    Fec_ini_ofer = oleDate(offerStart);
    Fec_fin_ofer = oleDate(offerEnd);
    Pct_ofer = offerPct;
    Mult = mult;
    Bans_Art = 0;
    Precio_Sug = 0;
    Depto = 0;
    UnidadVta.clear();
    Unidad.clear();
    return 1;
}

} // namespace lumbrio
