// The account window and the two requests it sends.
#include "FrmAkun.h"

#include "app/ProfileState.h"
#include "service/DeviceIdentity.h"
#include "service/ServiceClient.h"
#include "ui/Dialogs.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QString kRegister = QStringLiteral("Register");
const QString kPerbarui = QStringLiteral("Perbarui");

// A number the service could not deliver comes as its error text; the user must type one.
QString telpForBox(const QString& telp)
{
    return telp.startsWith(QLatin1String("Error:")) ? QString() : telp;
}

// Shows the answer and keeps the key and number it brings.
AccountAnswer takeAnswer(Dialogs& dialogs, const QString& response)
{
    const AccountAnswer answer = ReadAccountAnswer(response);
    ProfileState& p = ProfileState::instance();
    p.ApiKey = answer.apiKey.value_or(p.ApiKey);
    p.Telp = answer.telp.value_or(p.Telp);
    dialogs.messageBox(answer.message, answer.statusIsError ? Dialogs::Critical : Dialogs::NoIcon);
    return answer;
}

QLabel* hintLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setStyleSheet(QStringLiteral("color: palette(highlight);"));
    return label;
}

} // namespace

FrmAkun::FrmAkun(ServiceClient& service, Dialogs& dialogs, QWidget* owner)
    : QDialog(owner), m_service(service), m_dialogs(dialogs)
{
    // The close box unloads the window; the next entry function loads a fresh one.
    setAttribute(Qt::WA_DeleteOnClose);
    SetUpWindow(this, QStringLiteral("Akun"));

    // Made in the order the Tab key visits them.
    TxtCompany = new QLineEdit(this);
    TxtWA = new QLineEdit(this);
    Command1 = new QPushButton(QStringLiteral("Submit"), this);
    // The window's one action: Enter in either box sends it, as on Windows.
    Command1->setDefault(true);
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });

    TxtAPIKey = new QLineEdit(this);
    TxtAPIKey->hide();

    auto* grid = new QGridLayout(this);
    grid->setSpacing(8);
    grid->addWidget(new QLabel(QStringLiteral("Nama Usaha"), this), 0, 0);
    grid->addWidget(TxtCompany, 0, 1);
    grid->addWidget(hintLabel(QStringLiteral("(Nama instansi/ lembaga/ nama anda)"), this), 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("WhatsApp aktif"), this), 1, 0);
    grid->addWidget(TxtWA, 1, 1);
    grid->addWidget(hintLabel(QStringLiteral("(Wajib untuk keamanan dan pemulihan akun)"), this), 1,
                    2);
    grid->addWidget(Command1, 2, 0, 1, 3);
    grid->setColumnMinimumWidth(1, 220);
    grid->setColumnStretch(1, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

void FrmAkun::Register(const QString& companyName)
{
    TxtCompany->setText(companyName);
    TxtWA->setText(telpForBox(ProfileState::instance().Telp));
    Command1->setText(kRegister);
    m_dialogs.showModal(this);
}

void FrmAkun::UpdtAccount()
{
    const ProfileState& p = ProfileState::instance();
    TxtCompany->setText(p.CompanyName);
    TxtWA->setText(telpForBox(p.Telp));
    TxtAPIKey->setText(p.ApiKey);
    Command1->setText(kPerbarui);
    if (!isVisible())
        m_dialogs.showModal(this);
}

void FrmAkun::Command1_Click()
{
    const QString title = QStringLiteral("Registrasi");
    if (TxtCompany->text().isEmpty()) {
        TxtCompany->setFocus();
        m_dialogs.messageBox(QStringLiteral("Nama Usaha harus diisi"), Dialogs::Exclamation, title);
        return;
    }
    if (TxtWA->text().isEmpty()) {
        TxtWA->setFocus();
        m_dialogs.messageBox(QStringLiteral("Nomor WhatsApp harus diisi"), Dialogs::Exclamation,
                             title);
        return;
    }

    const QString mode = Command1->text();
    try {
        if (mode == kRegister) {
            takeAnswer(m_dialogs, m_service.RegisterCompany(TxtCompany->text(), {}, TxtWA->text(),
                                                            GetDeviceName()));
            // The reload runs while this window is still up; it reads the new account.
            emit saved();
            hide();
        } else if (mode == kPerbarui) {
            ProfileState& p = ProfileState::instance();
            const AccountAnswer answer =
                takeAnswer(m_dialogs, m_service.EditCompany(TxtAPIKey->text(), TxtCompany->text(),
                                                            p.ConnectionString, TxtWA->text(),
                                                            GetDeviceName(), QStringLiteral("0")));
            if (!answer.statusIsError)
                p.CompanyName = answer.companyName;
            hide();
            emit saved();
            hide();
        } else {
            m_dialogs.messageBox(QStringLiteral("Perintah ") + mode +
                                     QStringLiteral(" tidak dikenal!"),
                                 Dialogs::Critical, QStringLiteral("Manajemen akun"));
            hide();
        }
    } catch (const TransportError& e) {
        // No answer at all (no network, service down): nothing changed at the service, so the
        // window stays open with what the user typed and the request can simply be sent again.
        m_dialogs.messageBox(e.description(), Dialogs::Critical, title);
    }
}
