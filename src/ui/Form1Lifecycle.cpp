// The main window's life: tray icon, start-up option, orderly exit and the hidden uninstall.
// (Being built: until the tray lands, AddTrayIcon and RemoveTrayIcon do nothing.)
#include "Form1.h"

#include "app/AppControl.h"

#include <QLabel>
#include <QTimer>

void Form1::AddTrayIcon(QLabel* host)
{
    Q_UNUSED(host);
}
void Form1::RemoveTrayIcon() {}
void Form1::Frame1_DblClick() {}
void Form1::Image1_DblClick() {}
void Form1::mnuStartupOpt_Click(int index)
{
    Q_UNUSED(index);
}
void Form1::mnuExit_Click()
{
    ShutDown();
}
void Form1::Label7_MouseUp(Qt::MouseButton button)
{
    Q_UNUSED(button);
}

void Form1::ShutDown()
{
    Prompting(QStringLiteral("Shutting down... Please wait..."));
    show();
    Prompting(QStringLiteral("Terminating..."));
    TmrExit->start();
}

void Form1::TmrExit_Timer()
{
    EndApp();
}
