#pragma once

#include <cstdint>

#include <QString>

namespace lumbrio {

/// The store's data server: a numeric setting and the lookup of a scanned code.
/// Failures are exceptions (DataServerError, ConnectionLost when the database went away).
class IData_Srv_Drel
{
public:
    virtual ~IData_Srv_Drel() = default;

    /// Parametros.Valor of row Tipo, or 0 when there is no such row or its value is null.
    /// Valor is not used.
    virtual double Set_Get(std::int32_t Tipo, std::int32_t Valor) = 0;

    /// Looks the scanned code up: Descrip (in) is the scanned text, Codigo (in) the code as a
    /// number or 0. A scanned text equal to an alternate code gives that code's item and Mult;
    /// otherwise a Codigo other than 0 names the item and Mult is left as it is.
    /// Returns 1 when found, with Codigo, Descrip, Precio, Ban_imps, Imps_Act, Pct_ofer, the offer
    /// dates (OLE Automation dates, 0 when null) and Tiene_Ofer (1 only for an offer whose window
    /// holds the present local time) set from the item; returns 0 when not found, leaving every
    /// parameter as it was. No_Precio, Bans_Art, Precio_Sug, Depto, UnidadVta and Unidad carry
    /// nothing: the outputs among them are set to 0 or emptied when found.
    virtual std::int8_t BuscaPrecio(double &Codigo, std::int8_t No_Precio, double &Precio,
                                    QString &Descrip, std::int8_t &Ban_imps,
                                    std::int8_t &Tiene_Ofer, double &Fec_ini_ofer,
                                    double &Fec_fin_ofer, double &Pct_ofer, std::int16_t &Imps_Act,
                                    double &Mult, std::int32_t &Bans_Art, double &Precio_Sug,
                                    std::int32_t &Depto, QString &UnidadVta, QString &Unidad) = 0;
};

} // namespace lumbrio
