// The main window's life: tray icon, start-up option, orderly exit, the end of a desktop
// session and the hidden uninstall.
#include "Form1.h"

#include "app/AppControl.h"
#include "app/AutoStart.h"
#include "app/ProfileState.h"
#include "app/SettingsStore.h"
#include "tray/TrayIcon.h"
#include "ui/Dialogs.h"
#include "ui/FrmConn.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QSessionManager>
#include <QTimer>

#include <memory>

void Form1::AddTrayIcon(QLabel* host)
{
    // The host only carries the icon's picture; Qt's tray icon needs no window of ours, so the
    // window's own icon (with all its sizes) is used directly.
    Q_UNUSED(host);
    if (!m_tray)
        m_tray = new TrayIcon(this, mnuBantuan, this);
    if (m_tray->add(windowIcon(), TrayIcon::tipText(m_exe.baseName)))
        return;
    // Without a notification area a hidden agent could never be reached again: it stays in the
    // task bar, minimised, instead.
    if (!isVisible()) {
        qCWarning(lcApp) << "no notification area on this desktop: the window is kept minimised "
                            "instead of hidden";
        showMinimized();
    }
}

void Form1::RemoveTrayIcon()
{
    if (m_tray)
        m_tray->remove();
}

void Form1::Frame1_DblClick()
{
    Check1->setVisible(Check1->isHidden());
}

void Form1::Image1_DblClick()
{
    CekUpdt();
}

void Form1::mnuStartupOpt_Click(int index)
{
    const auto tick = [this](int mode) {
        for (int i = 0; i < 2; ++i)
            mnuStartupOpt[i]->setChecked(i == mode);
    };
    tick(index);
    const std::optional<bool> stored =
        FrmConn::SendEdit(m_service, m_dialogs, {}, QString::number(index));
    // Without an answer the choice is not stored on the service: the ticks go back to the mode
    // it holds.
    if (!stored)
        tick(ProfileState::instance().AppHide);
    else if (*stored)
        Tampil();
}

void Form1::mnuExit_Click()
{
    ShutDown();
}

void Form1::Label7_MouseUp(Qt::MouseButton button)
{
    if (button != Qt::RightButton)
        return;
    if (!m_dialogs.askYesNo(QStringLiteral("Ya. Ini tombol yang anda temukan untuk uninstall "
                                           "Aplikasi? Sungguh anda akan melanjutkannya?"),
                            Dialogs::NoIcon, QStringLiteral("Uninstall Aplikasi")))
        return;
    m_dialogs.messageBox(QStringLiteral("Membersihkan registry"), Dialogs::Information,
                         QStringLiteral("Uninstalling..."));
    SettingsStore::clearAll();
    m_dialogs.messageBox(QStringLiteral("Membuang startup aplikasi"), Dialogs::Information,
                         QStringLiteral("Uninstalling..."));
    qint32 errorNumber = 0;
    SetAutoStart(false, errorNumber, m_exe);
    if (errorNumber != 0)
        qCInfo(lcApp) << "auto-start entry not removed, error" << errorNumber;
    m_dialogs.messageBox(QStringLiteral("Aplikasi telah berhasil dilepas dari perangkat. Silakan "
                                        "jalankan lagi aplikasi jika anda ingin melakukan "
                                        "instalasi ulang."),
                         Dialogs::Information, QStringLiteral("Q17 says goodbye to you..."));
    m_dialogs.endApp();
}

void Form1::ShutDown()
{
    // Every orderly exit writes the entry again, so that a moved executable is found next time.
    // A bundled copy leaves the machine's start-up alone.
    if (m_exe.baseName != QLatin1String("Bundle1")) {
        qint32 errorNumber = 0;
        SetAutoStart(true, errorNumber, m_exe);
        if (errorNumber != 0)
            qCInfo(lcApp) << "auto-start entry not written, error" << errorNumber;
    }
    Prompting(QStringLiteral("Shutting down... Please wait..."));
    LblResponse->repaint();
    RemoveTrayIcon();
    show();
    Prompting(QStringLiteral("Terminating..."));
    repaint();
    TmrExit->start();
}

void Form1::TmrExit_Timer()
{
    TmrExit->stop();
    m_dialogs.endApp();
}

void Form1::watchSessionEnd()
{
    // A log-off or shutdown of the desktop: run the orderly exit once and let the session go on.
    // Nothing here asks the user or cancels, so the system's shutdown is never held up.
    auto done = std::make_shared<bool>(false);
    auto endOnce = [this, done] {
        if (*done)
            return;
        *done = true;
        qCInfo(lcApp) << "desktop session ends";
        ShutDown();
    };
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [endOnce](QSessionManager&) { endOnce(); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, endOnce);
}
