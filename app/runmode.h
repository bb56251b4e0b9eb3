#pragma once

namespace lumbrio {

/// Headless when LUMBRIO_HEADLESS is "1" or when neither an X nor a Wayland display is named.
/// Each argument is the environment value, or null when it is not set.
bool headlessMode(const char *display, const char *waylandDisplay, const char *headlessEnv);

} // namespace lumbrio
