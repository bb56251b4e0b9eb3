#include "app/desktop/desktopshell.h"

#include "app/UMain.h"
#include "app/debugtext.h"
#include "app/desktop/cooltrayicon.h"
#include "app/desktop/mainwindow.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

namespace lumbrio {

DesktopShell::DesktopShell() = default;

DesktopShell::~DesktopShell() = default;

QIcon DesktopShell::programIcon()
{
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64})
        icon.addFile(QStringLiteral(":/lumbrio/lumbrio-%1.png").arg(size), QSize(size, size));
    return icon;
}

void DesktopShell::showInformation(const QString &text)
{
    QMessageBox::information(nullptr, QStringLiteral("Information"), displayText(text));
}

void DesktopShell::showStartError(const QString &message, const QString &)
{
    QMessageBox::critical(nullptr, QStringLiteral("Error"), displayText(message));
}

void DesktopShell::attach(TFMain &form)
{
    m_window = std::make_unique<MainWindow>();
    m_window->setWindowIcon(programIcon());

    m_pmMenu = std::make_unique<QMenu>();
    Acercade1 = m_pmMenu->addAction(QStringLiteral("&Acerca de ..."));
    Salir1 = m_pmMenu->addAction(QStringLiteral("&Salir"));

    m_ctIcon = new TCoolTrayIcon(programIcon(), this);
    m_ctIcon->setIconVisible(false);
    m_ctIcon->setStartMinimized(true);
    m_ctIcon->setMinimizeToTray(true);
    m_ctIcon->setPopupMenu(m_pmMenu.get());
    m_ctIcon->setMainWindow(m_window.get());

    connect(Acercade1, &QAction::triggered, this, &DesktopShell::Acercade1Click);
    connect(Salir1, &QAction::triggered, this, &DesktopShell::Salir1Click);
    connect(m_ctIcon, &TCoolTrayIcon::OnDblClick, this, &DesktopShell::Acercade1Click);
    connect(m_window->bbAcepta, &QAbstractButton::clicked, this, &DesktopShell::bbAceptaClick);
    connect(m_window.get(), &MainWindow::closeRequested, qApp, &QCoreApplication::quit);

    connect(&form, &TFMain::waitCursorChanged, this, [](bool on) {
        if (on)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    });
    connect(&form, &TFMain::debugModeDecided, m_window.get(), [this](bool on) {
        if (!on)
            m_window->destroyDebugMemo();
    });
    connect(&form, &TFMain::debugLine, m_window.get(), &MainWindow::appendDebugLine);
    form.setIcon(m_ctIcon);
}

void DesktopShell::Acercade1Click()
{
    m_ctIcon->showMainWindow();
}

void DesktopShell::bbAceptaClick()
{
    m_ctIcon->hideMainWindow();
}

void DesktopShell::Salir1Click()
{
    // Closing the main window ends the program, exactly as its close box does.
    m_window->close();
}

DesktopApplication::DesktopApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    // The server lives in the tray: hiding the window or closing a message box must not end it.
    setQuitOnLastWindowClosed(false);
    setWindowIcon(DesktopShell::programIcon());
}

bool DesktopApplication::notify(QObject *receiver, QEvent *event)
{
    return notifyGuarded([&] { return QApplication::notify(receiver, event); },
                         [](const QString &text) {
                             QMessageBox::critical(nullptr, QCoreApplication::applicationName(),
                                                   text);
                         });
}

} // namespace lumbrio
