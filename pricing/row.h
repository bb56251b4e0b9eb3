#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace lumbrio {

/// Raised when a row has no column of the requested name; the text names it.
class MissingColumn : public std::runtime_error
{
public:
    explicit MissingColumn(std::string_view column)
        : std::runtime_error("Field '" + std::string(column) + "' not found"), m_column(column)
    {
    }
    const std::string &column() const { return m_column; }

private:
    std::string m_column;
};

/// Read-only view of the current row of a query result.
class RowView
{
public:
    virtual ~RowView() = default;

    /// The named column read as a floating-point number; a null value reads 0.
    /// Throws MissingColumn when the row has no column of that name.
    virtual double number(std::string_view column) const = 0;
};

} // namespace lumbrio
