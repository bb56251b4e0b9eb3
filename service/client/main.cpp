// lumbrio-check: asks the price-check server for codes as a terminal does.
#include <iostream>
#include <string>
#include <vector>

#include "service/client/checkclient.h"

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const lumbrio::CheckArgs parsed = lumbrio::parseCheckArgs(args);
    if (parsed.help) {
        std::cout << lumbrio::checkUsage();
        return lumbrio::CheckAllAnswered;
    }
    if (!parsed.error.empty()) {
        std::cerr << "lumbrio-check: " << parsed.error << '\n' << lumbrio::checkUsage();
        return lumbrio::CheckFailed;
    }
    return lumbrio::runCheck(parsed.options, std::cout, std::cerr);
}
