#pragma once

#include <QCoreApplication>
#include <QString>

#include <functional>

namespace lumbrio {

class TFMain;

/// How the server meets its user: message boxes and a tray icon on a desktop, standard error
/// and standard output on a headless box.
class ShellFrontend
{
public:
    virtual ~ShellFrontend() = default;
    /// The refusal of a second copy.
    virtual void showInformation(const QString &text) = 0;
    /// A failed start; detail is the cause behind the message, possibly empty.
    virtual void showStartError(const QString &message, const QString &detail) = 0;
    /// Creates what the user sees of the server (hidden) and connects it to form's signals;
    /// called before the start-up runs.
    virtual void attach(TFMain &form) = 0;
    /// The exit status after a failed start.
    virtual int startFailureStatus() const = 0;
};

/// Runs the server from the single-instance check to the end of the event loop, in the
/// start-up and shutdown order of the program: lock, form created, FormCreate, loop, shutdown.
/// arguments is the command line without the program name. Returns the exit status.
int runServer(ShellFrontend &front, const QStringList &arguments);

/// Calls report with the text of an exception that escapes an event handler and lets the
/// program go on; without it such an exception would end the process.
bool notifyGuarded(const std::function<bool()> &deliver,
                   const std::function<void(const QString &)> &report);

/// The application object of headless mode: no widget, no display.
class HeadlessApplication final : public QCoreApplication
{
public:
    HeadlessApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

/// Headless frontend: messages to standard error prefixed with the executable's name, the
/// debug log to standard output; a failed start exits with status 1.
class HeadlessFrontend final : public ShellFrontend
{
public:
    void showInformation(const QString &text) override;
    void showStartError(const QString &message, const QString &detail) override;
    void attach(TFMain &form) override;
    int startFailureStatus() const override { return 1; }
};

/// Writes "name: text" to standard error, one line per line of text.
void printMessage(const QString &text);

} // namespace lumbrio
