// The main window: the idle panel with the status line, the report text box, the menu bar and
// its timers. Its methods are spread over several files by concern (Form1*.cpp).
#pragma once

#include "app/AppControl.h"
#include "pipeline/ReportCourier.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <memory>

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTimer;
class Dialogs;
class FrmAkun;
class ServiceClient;
class TrayIcon;

class Form1 : public QMainWindow
{
    Q_OBJECT

public:
    // The window and every window it opens call the service through `service` and reach the
    // desktop (boxes, addresses, the process's end) through `dialogs`; `exe` is the executable
    // whose auto-start entry, tray tip and update it manages.
    Form1(ServiceClient& service, Dialogs& dialogs, ExeIdentity exe = {},
          QWidget* parent = nullptr);

    // Start-up and reload: loads the profile, shows or hides the window, opens the database and
    // switches the poll on.
    void Tampil();
    void LoadProfile(QLabel* status);
    // Writes the status line and repaints it at once, whatever AppHide is.
    void Prompting(const QString& pesan);
    // Writes a label only when the window starts shown.
    void SetStatus(QLabel* label, const QString& text);

    // Update check (self-update).
    void CekUpdt();
    // Runs a request text on the courier's thread, as a tick does.
    void AutoKirimJSON(const QString& hsl);
    // The report loop this window shows.
    ReportCourier* courier() const { return m_courier.get(); }
    // Orderly exit.
    void ShutDown();
    // Runs the orderly exit once when the desktop session ends, without holding it up.
    void watchSessionEnd();
    // Tray icon.
    void AddTrayIcon(QLabel* host);
    void RemoveTrayIcon();

    // Sets TxtRs and runs its change reactions when the text really changes.
    void setTxtRs(const QString& text);
    QString txtRs() const { return m_txtRsText; }

    // Controls, named as the rest of the agent knows them.
    QTimer* Timer2 = nullptr;
    QTimer* TmrExit = nullptr;
    QFrame* Frame1 = nullptr;
    QLabel* PicQ17 = nullptr;
    QCheckBox* Check1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* ImgRegister = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* LblResponse = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Image1 = nullptr;
    QPlainTextEdit* TxtRs = nullptr;

    QAction* mnuStartupOpt[2] = {nullptr, nullptr};
    QAction* mnuDeviceInfo = nullptr;
    QAction* mnuRegistrasi = nullptr;
    QAction* mnuPerbarui = nullptr;
    QAction* mnuUserName = nullptr;
    QAction* mnuAPIKey = nullptr;
    QAction* mnuKlikUntukCopy = nullptr;
    QAction* mnuKoneksi = nullptr;
    QAction* mnuQueriesEditor = nullptr;
    QAction* mnuViewReports = nullptr;
    QMenu* mnuBantuan = nullptr;
    QAction* mnuOnTheWeb = nullptr;
    QAction* mnuMeetUs = nullptr;
    QAction* mnuTechSupport = nullptr;
    QAction* mnuTtg = nullptr;

    // Event handlers (public so that tests can raise them as the user would).
    void Timer2_Timer();
    void TmrAutoUpdt_Timer();
    void TmrExit_Timer();
    void TxtRs_Change();
    void LblResponse_Change();
    void LblResponse_Click();
    void Frame1_DblClick();
    void Image1_DblClick();
    void Label7_MouseUp(Qt::MouseButton button);
    void Label4_Click();
    void Label6_Click();
    void mnuStartupOpt_Click(int index);
    void mnuDeviceInfo_Click();
    void mnuExit_Click();
    void mnuRegistrasi_Click();
    void mnuPerbarui_Click();
    void mnuUserName_Click();
    void mnuAPIKey_Click();
    void mnuKlikUntukCopy_Click();
    void mnuKoneksi_Click();
    void mnuOnTheWeb_Click();
    void mnuMeetUs_Click();
    void mnuTechSupport_Click();
    void mnuTtg_Click();

    // A failed start-up is tried again this often: the whole of it while the service cannot be
    // reached, only the database open while the database cannot be opened.
    static constexpr int kStartupRetryMs = 30000;
    // Automatic "Anonymous" registrations tried in a row before giving up.
    static constexpr int kMaxAutoRegistrations = 3;
    QTimer* startupRetryTimer() const { return m_startupRetry; }
    TrayIcon* trayIcon() const { return m_tray; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class StartupRetry
    {
        Everything,
        DatabaseOnly
    };
    void buildControls();
    void buildMenus();
    void setWindowCaption();
    // Opens the database with the profile's connection string and switches the poll on.
    void openDatabase();
    // Shows why the start-up stopped, where a user can read it, and when it is tried again.
    void retryLater(const QString& failure, StartupRetry what);
    // The account window, loaded again after its close box unloaded it.
    FrmAkun& accountWindow();
    // Runs a timer tick unless a call or a dialog of an earlier tick is still open.
    template <typename Fn> void guardedTick(Fn&& fn);
    void connectCourier();
    ReportCourier::Profile courierProfile() const;

    ServiceClient& m_service;
    Dialogs& m_dialogs;
    const ExeIdentity m_exe;
    // TxtRs's text exactly as set: the box itself shows CR LF as plain line breaks.
    QString m_txtRsText;
    QTimer* m_startupRetry = nullptr;
    StartupRetry m_retry = StartupRetry::Everything;
    TrayIcon* m_tray = nullptr;
    std::unique_ptr<ReportCourier> m_courier; // on its own thread: deleted, never parented
    QPointer<FrmAkun> m_account;
    int m_autoRegistrations = 0;
    bool m_inTick = false;
};
