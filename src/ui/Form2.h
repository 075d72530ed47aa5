// The consent window: tells a new user what the agent does (starts with the desktop, talks to the
// service host, connects to the database) before it does any of it.
#pragma once

#include "app/AppControl.h"

#include <QDialog>

class Dialogs;
class QLabel;
class QPushButton;

class Form2 : public QDialog
{
    Q_OBJECT

public:
    // Opens centred on its owner and takes the owner's icon; names the host the agent talks to.
    Form2(const QString& serviceHost, Dialogs& dialogs, QWidget* owner = nullptr,
          ExeIdentity exe = {});

    // At the first start on a machine, that is while no auto-start entry exists, the window is
    // shown (modally, through Dialogs) before anything else happens. "Batal" ends the program.
    static void showAtFirstStart(const QString& serviceHost, Dialogs& dialogs, QWidget* owner,
                                 const ExeIdentity& exe = {});

    QLabel* Label6 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label7 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;

    void Command1_Click();
    void Command2_Click();

private:
    Dialogs& m_dialogs;
    const ExeIdentity m_exe;
};
