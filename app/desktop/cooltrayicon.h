#pragma once

#include "app/appicon.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

class QMenu;
class QWidget;

namespace lumbrio {

/// The notification-area icon of the server, with the settings the program relies on:
/// IconVisible, StartMinimized, MinimizeToTray, PopupMenu and OnDblClick. It shows and hides the
/// main window it is given and never a tooltip. Where the desktop has no notification area,
/// making the icon visible shows the main window instead, so the user can still stop the server.
class TCoolTrayIcon final : public QObject, public AppIcon
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TCoolTrayIcon)

public:
    explicit TCoolTrayIcon(const QIcon &icon, QObject *parent = nullptr);
    ~TCoolTrayIcon() override;

    bool IconVisible() const { return m_iconVisible; }
    void setIconVisible(bool visible) override;

    /// With StartMinimized the main window is not shown when it is set.
    bool StartMinimized() const { return m_startMinimized; }
    void setStartMinimized(bool on) { m_startMinimized = on; }

    /// With MinimizeToTray, minimising the main window hides it; the icon stays.
    bool MinimizeToTray() const { return m_minimizeToTray; }
    void setMinimizeToTray(bool on) { m_minimizeToTray = on; }

    /// The menu popped up by the right mouse button on the icon.
    void setPopupMenu(QMenu *menu);
    QMenu *PopupMenu() const;

    void setMainWindow(QWidget *window);
    void showMainWindow();
    void hideMainWindow();

    /// The underlying icon, for tests and screenshots.
    QSystemTrayIcon *systemTrayIcon() const { return m_tray; }

signals:
    /// A left double-click on the icon.
    void OnDblClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QSystemTrayIcon *m_tray;
    QPointer<QWidget> m_window;
    bool m_iconVisible = false;
    bool m_startMinimized = true;
    bool m_minimizeToTray = true;
};

} // namespace lumbrio
