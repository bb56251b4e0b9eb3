#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "service/client/codepage.h"

namespace lumbrio {

/// Settings of one lumbrio-check run.
struct CheckOptions
{
    std::string host = "127.0.0.1";
    std::string port = "6001";
    bool raw = false;
    int timeoutMs = 3000;
    CodePage codePage = CodePage::Windows1252;
    std::string terminalId = "1";
    std::vector<std::string> codes;
};

/// Exit statuses of lumbrio-check.
enum CheckStatus : int
{
    CheckAllAnswered = 0, ///< every code got a well-formed reply
    CheckNoReply = 1,     ///< some code got no reply within the time-out, or a malformed one
    CheckFailed = 2,      ///< bad arguments, or the server could not be reached
};

/// Outcome of reading the command line: options, or a message (help text when asked for).
struct CheckArgs
{
    CheckOptions options;
    std::string error;
    bool help = false;
};

CheckArgs parseCheckArgs(const std::vector<std::string> &args);

std::string checkUsage();

/// Sends every code as a terminal does, one after another on one connection, and writes each
/// reply to out. A code whose reply does not come in time is reported on err, and the connection
/// is opened anew for the next code so that a late reply is never taken for the next one's.
int runCheck(const CheckOptions &options, std::ostream &out, std::ostream &err);

} // namespace lumbrio
