// srv_lumbrio: the price-check server. On a desktop it lives in the notification area; without
// a display (or with LUMBRIO_HEADLESS=1) it runs as a console service.
#include "app/desktop/desktopshell.h"
#include "app/runmode.h"
#include "app/shell.h"

#include <cstdlib>

int main(int argc, char **argv)
{
    // The command line as given: the application object removes the options it knows, and
    // debug mode counts every argument.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    if (lumbrio::headlessMode(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                              std::getenv("LUMBRIO_HEADLESS"))) {
        lumbrio::HeadlessApplication app(argc, argv);
        lumbrio::HeadlessFrontend front;
        return lumbrio::runServer(front, arguments);
    }
    lumbrio::DesktopApplication app(argc, argv);
    lumbrio::DesktopShell front;
    return lumbrio::runServer(front, arguments);
}
