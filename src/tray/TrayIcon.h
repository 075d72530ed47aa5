// The agent's icon in the notification area: a click brings up the main window, a right click
// pops up the help menu.
#pragma once

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

class QIcon;
class QMenu;
class QWidget;

class TrayIcon : public QObject
{
public:
    // The window that a click shows and the menu that a right click pops up; neither is owned.
    TrayIcon(QWidget* window, QMenu* popupMenu, QObject* parent = nullptr);

    // Puts the icon into the notification area, or refreshes the picture and tip of the icon
    // that is there already (there is never a second one). False when the desktop has no
    // notification area: then there is no icon.
    bool add(const QIcon& icon, const QString& tip);
    void remove();

    // The executable's base name, then the build's comments line when there is one.
    static QString tipText(const QString& exeBaseName);

    // A mouse action on the icon, as the notification area reports it.
    void onActivated(QSystemTrayIcon::ActivationReason reason);

private:
    QPointer<QWidget> m_window;
    QPointer<QMenu> m_menu;
    // A child: its own destructor takes it out of the notification area, so no dead entry is left.
    QSystemTrayIcon* m_icon = nullptr;
};
