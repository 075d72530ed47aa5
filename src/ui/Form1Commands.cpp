// Menu commands, web links and the account entry points of the main window.
#include "Form1.h"

#include "app/ProfileState.h"
#include "service/DeviceIdentity.h"
#include "service/ServiceClient.h"
#include "ui/Dialogs.h"
#include "ui/FrmAkun.h"
#include "ui/FrmConn.h"
#include "ui/FrmTtg.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>

namespace {

constexpr int kShowNormal = 1;

// Copies and tells the user. Another program may hold or take the clipboard at the same moment:
// only a text that reads back unchanged counts as copied, else the user is told it did not take.
void copyAndTell(Dialogs& dialogs, const QString& text, const QString& message)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard) {
        clipboard->clear();
        clipboard->setText(text);
    }
    if (clipboard && clipboard->text() == text)
        dialogs.messageBox(message, Dialogs::NoIcon);
    else
        dialogs.messageBox(
            QStringLiteral("Clipboard tidak dapat dipakai saat ini, teks belum tersalin. "
                           "Silakan coba lagi."),
            Dialogs::Critical);
}

} // namespace

void Form1::mnuAPIKey_Click()
{
    copyAndTell(m_dialogs, ProfileState::instance().ApiKey,
                QStringLiteral("APIKey sudah tersimpan di clipboard"));
}

void Form1::mnuUserName_Click()
{
    copyAndTell(m_dialogs, ProfileState::instance().CompanyName,
                QStringLiteral("Company Name sudah tersimpan di clipboard"));
}

void Form1::mnuKlikUntukCopy_Click()
{
    const ProfileState& p = ProfileState::instance();
    copyAndTell(m_dialogs, p.CompanyName + QStringLiteral("\r\n") + p.ApiKey,
                QStringLiteral("Company Name dan APIKey sudah tersimpan di clipboard"));
}

void Form1::Label4_Click()
{
    copyAndTell(m_dialogs, ProfileState::instance().ApiKey,
                QStringLiteral("APIKey sudah ada di clipboard. Silakan paste di halaman login"));
    // The address shown is the address opened: read at the moment of the click.
    m_dialogs.openUrl(Label4->text(), kShowNormal);
}

void Form1::Label6_Click()
{
    m_dialogs.openUrl(Label6->text(), kShowNormal);
}

void Form1::mnuOnTheWeb_Click()
{
    m_dialogs.openUrl(m_service.settings().webUrl, kShowNormal);
}

void Form1::mnuMeetUs_Click()
{
    m_dialogs.openUrl(m_service.settings().webUrl + QStringLiteral("/developers"), kShowNormal);
}

void Form1::mnuTechSupport_Click()
{
    m_dialogs.openUrl(m_service.settings().webUrl + QStringLiteral("/techsupport"), kShowNormal);
}

void Form1::mnuDeviceInfo_Click()
{
    const QString text =
        QStringLiteral("This device is known as it's mac address that it is: \r\n\r\n") +
        GetDeviceName() +
        QStringLiteral("\r\n\r\n\r\n"
                       "Note: Kami membaca MAC Address anda semata-mata bertujuan untuk "
                       "perlindungan sekuritas anda. Dengan Mac Address, mesin ini dapat dikenali "
                       "oleh sistem sehingga sistem kami dapat menentukan perangkat mana yang "
                       "berhak memberikan akses ke server kami.");
    m_dialogs.messageBox(text, Dialogs::Information, QStringLiteral("Device Info"));
}

void Form1::mnuRegistrasi_Click()
{
    accountWindow().Register(Label7->text());
}

void Form1::mnuPerbarui_Click()
{
    accountWindow().UpdtAccount();
}

FrmAkun& Form1::accountWindow()
{
    if (!m_account) {
        m_account = new FrmAkun(m_service, m_dialogs, this);
        connect(m_account, &FrmAkun::saved, this, &Form1::Tampil);
    }
    return *m_account;
}

void Form1::mnuKoneksi_Click()
{
    // One connection window at a time, loaded afresh at each opening.
    if (auto* open = findChild<FrmConn*>()) {
        open->activateWindow();
        return;
    }
    FrmConn window(m_service, m_dialogs, this); // opens centred on the main window
    connect(&window, &FrmConn::saved, this, &Form1::Tampil);
    if (window.Form_Load())
        m_dialogs.showModal(&window);
}

void Form1::mnuTtg_Click()
{
    FrmTtg window(this);
    m_dialogs.showModal(&window);
}
