#pragma once

#include <functional>
#include <memory>

#include <QDateTime>

#include "dataserver/Srv_Drel_TLB.h"

namespace lumbrio {

class DbHandle;

/// The data server on its own handle of the store database.
class DataSrv final : public IData_Srv_Drel
{
public:
    DataSrv(std::shared_ptr<DbHandle> handle, std::function<QDateTime()> clock);
    ~DataSrv() override;

    /// Prepares every statement once, so that a store lacking a table or column fails here.
    void prepareStatements();

    double Set_Get(std::int32_t Tipo, std::int32_t Valor) override;
    std::int8_t BuscaPrecio(double &Codigo, std::int8_t No_Precio, double &Precio, QString &Descrip,
                            std::int8_t &Ban_imps, std::int8_t &Tiene_Ofer, double &Fec_ini_ofer,
                            double &Fec_fin_ofer, double &Pct_ofer, std::int16_t &Imps_Act,
                            double &Mult, std::int32_t &Bans_Art, double &Precio_Sug,
                            std::int32_t &Depto, QString &UnidadVta, QString &Unidad) override;

private:
    std::shared_ptr<DbHandle> m_handle;
    std::function<QDateTime()> m_clock;
};

/// A store timestamp ('YYYY-MM-DD HH:MM:SS', fractions of a second allowed) as a date and time
/// without time zone; an empty or null value gives an invalid QDateTime. Throws
/// DataServerError for any other text.
QDateTime storeTimestamp(const QVariant &value, const QString &column);

} // namespace lumbrio
