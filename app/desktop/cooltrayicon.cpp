#include "app/desktop/cooltrayicon.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QWidget>

namespace lumbrio {

TCoolTrayIcon::TCoolTrayIcon(const QIcon &icon, QObject *parent)
    : QObject(parent), m_tray(new QSystemTrayIcon(icon, this))
{
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick)
                    emit OnDblClick();
            });
}

TCoolTrayIcon::~TCoolTrayIcon()
{
    if (m_window)
        m_window->removeEventFilter(this);
}

void TCoolTrayIcon::setIconVisible(bool visible)
{
    m_iconVisible = visible;
    if (visible && !QSystemTrayIcon::isSystemTrayAvailable()) {
        // An invisible icon would leave no way to reach the server; the window stands in.
        showMainWindow();
        return;
    }
    m_tray->setVisible(visible);
}

void TCoolTrayIcon::setPopupMenu(QMenu *menu)
{
    m_tray->setContextMenu(menu);
}

QMenu *TCoolTrayIcon::PopupMenu() const
{
    return m_tray->contextMenu();
}

void TCoolTrayIcon::setMainWindow(QWidget *window)
{
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    if (!m_window)
        return;
    m_window->installEventFilter(this);
    if (!m_startMinimized)
        showMainWindow();
}

void TCoolTrayIcon::showMainWindow()
{
    if (!m_window)
        return;
    if (!m_window->isVisible()) {
        // Centred on the screen each time it is shown.
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect frame = m_window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            m_window->move(frame.topLeft());
        }
    }
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void TCoolTrayIcon::hideMainWindow()
{
    if (m_window)
        m_window->hide();
}

bool TCoolTrayIcon::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::WindowStateChange && m_minimizeToTray &&
        m_window->isMinimized() && QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray->setVisible(m_iconVisible);
        // Hiding inside the state change confuses some window managers; do it right after.
        QMetaObject::invokeMethod(this, &TCoolTrayIcon::hideMainWindow, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace lumbrio
