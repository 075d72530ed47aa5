#include "TrayIcon.h"

#include "app/AppControl.h"
#include "service/ServiceConfig.h"

#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QWidget>

TrayIcon::TrayIcon(QWidget* window, QMenu* popupMenu, QObject* parent)
    : QObject(parent), m_window(window), m_menu(popupMenu)
{}

bool TrayIcon::add(const QIcon& icon, const QString& tip)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return false;
    if (!m_icon) {
        m_icon = new QSystemTrayIcon(this);
        // The help menu is popped up by onActivated, not attached: the icon's right click and
        // its left click are both ours to decide.
        connect(m_icon, &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
    }
    m_icon->setIcon(icon);
    m_icon->setToolTip(tip);
    m_icon->show();
    return true;
}

void TrayIcon::remove()
{
    if (m_icon)
        m_icon->hide();
}

QString TrayIcon::tipText(const QString& exeBaseName)
{
    const QString comments = ServiceConfig::buildComments();
    return comments.isEmpty() ? exeBaseName : exeBaseName + QLatin1Char('\n') + comments;
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        if (!m_window)
            return;
        if (m_window->isMinimized())
            m_window->showNormal();
        else
            m_window->show();
        m_window->raise();
        m_window->activateWindow();
        break;
    case QSystemTrayIcon::Context:
        if (m_menu)
            m_menu->popup(QCursor::pos());
        break;
    default:
        break;
    }
}
