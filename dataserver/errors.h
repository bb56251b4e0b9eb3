#pragma once

#include <stdexcept>
#include <string>

namespace lumbrio {

/// A failure of the store database: opening it, a statement it refused, a value it holds that
/// makes no sense. The text says what was being done and what the database answered.
class DataServerError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// The database went away under an open handle: the server restarted or dropped the session,
/// the store file was replaced or removed. TDrelConnection::Reopen() is the remedy.
class ConnectionLost : public DataServerError
{
public:
    using DataServerError::DataServerError;
};

} // namespace lumbrio
