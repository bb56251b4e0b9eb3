#include "app/runmode.h"

#include <string_view>

namespace lumbrio {

bool headlessMode(const char *display, const char *waylandDisplay, const char *headlessEnv)
{
    const auto set = [](const char *value) { return value != nullptr && *value != '\0'; };
    if (headlessEnv != nullptr && std::string_view(headlessEnv) == "1")
        return true;
    return !set(display) && !set(waylandDisplay);
}

} // namespace lumbrio
