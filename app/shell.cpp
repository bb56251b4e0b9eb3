#include "app/shell.h"

#include "app/UMain.h"
#include "app/configuration.h"
#include "app/debugtext.h"
#include "app/instanceguard.h"
#include "app/messages.h"
#include "app/signalwatcher.h"
#include "service/regional.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

#include <sys/resource.h>

namespace lumbrio {

int runServer(ShellFrontend &front, const QStringList &arguments)
{
    // Held until the process ends; the kernel drops it however the process ends.
    const InstanceGuard guard(NombreMutex);
    if (guard.estado() == InstanceGuard::Estado::YaExiste) {
        front.showInformation(QString::fromUtf8(mensajes::SegundaInstancia));
        return 0;
    }
    // Any other failure to create the lock is ignored: the start goes on.

    // SIGTERM and SIGINT end the loop; a signal during start-up waits in the watcher and ends
    // the loop as soon as it runs.
    UnixSignalWatcher watcher;
    QObject::connect(&watcher, &UnixSignalWatcher::terminationRequested, qApp,
                     &QCoreApplication::quit);

    // Every terminal connection takes a file descriptor: use all that the system allows.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    TFMain FMain;
    front.attach(FMain);

    OpcionesArranque opciones;
    opciones.argumentos = arguments;
    opciones.rutaConfiguracion = QString::fromStdString(
        rutaConfiguracion(QCoreApplication::applicationDirPath().toStdString(),
                          std::getenv("LUMBRIO_CONF"))
            .string());
    opciones.regional = readRegionalSettings();

    try {
        FMain.FormCreate(opciones);
    } catch (const StartFailure &e) {
        front.showStartError(e.message(), e.detail());
        return front.startFailureStatus();
    }
    return QCoreApplication::exec();
}

bool notifyGuarded(const std::function<bool()> &deliver,
                   const std::function<void(const QString &)> &report)
{
    try {
        return deliver();
    } catch (const std::exception &e) {
        report(QString::fromUtf8(e.what()));
    } catch (...) {
        report(QStringLiteral("Excepción desconocida"));
    }
    return false;
}

HeadlessApplication::HeadlessApplication(int &argc, char **argv) : QCoreApplication(argc, argv) {}

bool HeadlessApplication::notify(QObject *receiver, QEvent *event)
{
    return notifyGuarded([&] { return QCoreApplication::notify(receiver, event); }, printMessage);
}

void printMessage(const QString &text)
{
    const QString name = QCoreApplication::applicationName();
    const QStringList lines = displayText(text).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QByteArray bytes = (name + QLatin1String(": ") + line + QLatin1Char('\n')).toUtf8();
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    }
    std::fflush(stderr);
}

void HeadlessFrontend::showInformation(const QString &text)
{
    printMessage(text);
}

void HeadlessFrontend::showStartError(const QString &message, const QString &detail)
{
    printMessage(detail.isEmpty() ? message : message + QLatin1Char('\n') + detail);
}

void HeadlessFrontend::attach(TFMain &form)
{
    QObject::connect(&form, &TFMain::debugLine, &form,
                     [](const QString &line) { writeDebugLine(stdout, line); });
}

} // namespace lumbrio
