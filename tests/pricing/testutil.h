#pragma once

#include <cmath>
#include <iomanip>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "pricing/row.h"

namespace lumbrio::test {

/// An in-memory price row. A column mapped to nullopt holds null; an absent column is missing.
class MemoryRow final : public RowView
{
public:
    using Columns = std::map<std::string, std::optional<double>, std::less<>>;

    explicit MemoryRow(Columns columns) : m_columns(std::move(columns)) {}

    double number(std::string_view column) const override
    {
        const auto it = m_columns.find(column);
        if (it == m_columns.end())
            throw MissingColumn(column);
        m_reads.emplace_back(column);
        return it->second.value_or(0.0);
    }

    void erase(const std::string &column) { m_columns.erase(column); }
    void set(const std::string &column, std::optional<double> value) { m_columns[column] = value; }

    /// The columns read so far, in order.
    const std::vector<std::string> &reads() const { return m_reads; }

private:
    Columns m_columns;
    mutable std::vector<std::string> m_reads;
};

inline std::string exact(double value)
{
    std::ostringstream out;
    out << std::setprecision(17) << value << " (" << std::hexfloat << value << ")";
    return out.str();
}

/// Equal, or one unit in the last place away: for results the tables show only as decimals.
inline ::testing::AssertionResult withinOneUlp(double actual, double expected)
{
    if (actual == expected || actual == std::nextafter(expected, HUGE_VAL) ||
        actual == std::nextafter(expected, -HUGE_VAL)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << exact(actual) << " is more than one ulp from " << exact(expected);
}

/// Bitwise equality, so that 0 and -0 differ.
inline ::testing::AssertionResult sameDouble(double actual, double expected)
{
    if (actual == expected && std::signbit(actual) == std::signbit(expected))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << exact(actual) << " is not " << exact(expected);
}

} // namespace lumbrio::test
