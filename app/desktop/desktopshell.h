#pragma once

#include "app/shell.h"

#include <QApplication>
#include <QObject>

#include <memory>

class QAction;
class QMenu;

namespace lumbrio {

class MainWindow;
class TCoolTrayIcon;

/// The desktop side of the server: the hidden about window, the tray icon with its menu, the
/// wait cursor and the message boxes. Connected to TFMain by its signals.
class DesktopShell final : public QObject, public ShellFrontend
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DesktopShell)

public:
    DesktopShell();
    ~DesktopShell() override;

    void showInformation(const QString &text) override;
    void showStartError(const QString &message, const QString &detail) override;
    void attach(TFMain &form) override;
    /// A failed start on a desktop ends with status 0: the user has read the message.
    int startFailureStatus() const override { return 0; }

    /// The program's icon, also the application's.
    static QIcon programIcon();

    MainWindow *window() const { return m_window.get(); }
    TCoolTrayIcon *ctIcon() const { return m_ctIcon; }
    QMenu *pmMenu() const { return m_pmMenu.get(); }
    QAction *Acercade1 = nullptr;
    QAction *Salir1 = nullptr;

    void Acercade1Click();
    void bbAceptaClick();
    void Salir1Click();

private:
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<QMenu> m_pmMenu;
    TCoolTrayIcon *m_ctIcon = nullptr;
};

/// The application object of desktop mode: an exception that escapes an event handler is
/// shown in an error box titled with the executable's name, and the program goes on.
class DesktopApplication final : public QApplication
{
public:
    DesktopApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace lumbrio
