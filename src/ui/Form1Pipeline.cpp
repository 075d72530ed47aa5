// The main window's side of the report loop: what the courier reports, shown, the text box's
// reactions, and the status line's look and remedies.
#include "Form1.h"

#include "app/ProfileState.h"
#include "app/SettingsStore.h"
#include "pipeline/ReportService.h"
#include "pipeline/ResponseLabel.h"
#include "service/DeviceIdentity.h"
#include "service/ServiceClient.h"
#include "ui/Dialogs.h"
#include "ui/FrmAkun.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QSettings>

namespace {

const QString kRegisterName = QStringLiteral("NamaUsahaAnda");

QString styleFor(ResponseLabelLook::Colour colour)
{
    switch (colour) {
    case ResponseLabelLook::Red:
        return QStringLiteral("color: #ff0000;");
    case ResponseLabelLook::Green:
        return QStringLiteral("color: #00ff00;");
    case ResponseLabelLook::Orange:
        return QStringLiteral("color: #ff8000;");
    case ResponseLabelLook::Highlight:
        break;
    }
    return QStringLiteral("color: palette(highlight);");
}

} // namespace

ReportCourier::Profile Form1::courierProfile() const
{
    return {m_service.settings(), Label7->text(), ProfileState::instance().ConnectionString,
            [] { return OwnerGuard::Load(*SettingsStore::open()); }};
}

void Form1::connectCourier()
{
    m_courier = std::make_unique<ReportCourier>();
    m_courier->startThread(m_service.url({}));
    connect(m_courier.get(), &ReportCourier::status, this, &Form1::Prompting);
    connect(m_courier.get(), &ReportCourier::requestText, this, [this](const QString& text) {
        setTxtRs(text);
        m_courier->answer();
    });
    connect(m_courier.get(), &ReportCourier::message, this, [this](const QString& text, int style) {
        m_dialogs.messageBox(text, style);
        m_courier->answer();
    });
    connect(m_courier.get(), &ReportCourier::question, this,
            [this](const QString& prompt) { m_courier->answer(m_dialogs.inputBox(prompt)); });
    // The start-up's connection is released on its own thread before the run opens another.
    connect(m_courier.get(), &ReportCourier::runStarts, this,
            [] { ProfileState::instance().DbConnection.reset(); });
}

void Form1::Timer2_Timer()
{
    m_courier->requestTick(courierProfile());
}

void Form1::TxtRs_Change()
{
    // The text as set, CR LF included (the widget keeps paragraphs, not line ends).
    const QString text = txtRs();
    if (Check1->isChecked() && text.contains(QLatin1String("error"), Qt::CaseInsensitive))
        m_dialogs.messageBox(TextBoxView(text), Dialogs::Information, QStringLiteral("Stop Error"));
    if (text.contains(QLatin1String("nothing"), Qt::CaseInsensitive)) {
        const QWidget* client = centralWidget();
        // 30 twips above the middle: 2 pixels.
        Frame1->move(client->width() / 2 - Frame1->width() / 2,
                     client->height() / 2 - Frame1->height() / 2 - 2);
        Frame1->show();
        return;
    }
    Frame1->hide();
    repaint();
    if (text.contains(QLatin1String("company name is required"), Qt::CaseInsensitive))
        accountWindow().Register(kRegisterName);
}

void Form1::AutoKirimJSON(const QString& hsl)
{
    m_courier->requestRun(hsl, courierProfile());
}

void Form1::LblResponse_Change()
{
    const ResponseLabelLook look = LookOfResponseLabel(LblResponse->text());
    LblResponse->setStyleSheet(styleFor(look.colour));
    LblResponse->setCursor(look.pointer == ResponseLabelLook::CustomPointer ? Label4->cursor()
                                                                            : Qt::ArrowCursor);
    if (look.hidesRegisterPicture)
        ImgRegister->hide();
}

void Form1::LblResponse_Click()
{
    switch (RemedyForResponseLabel(LblResponse->text())) {
    case ResponseLabelRemedy::ApiKeyNotEditable:
        m_dialogs.messageBox(QStringLiteral("Edit APIKey is not avalilable in this version"),
                             Dialogs::Critical, QStringLiteral("Event Unknown"));
        return;
    case ResponseLabelRemedy::RegisterCompany:
        accountWindow().Register(kRegisterName);
        return;
    case ResponseLabelRemedy::AskConnectionString: {
        ProfileState& p = ProfileState::instance();
        const QString entered = m_dialogs.inputBox(
            QStringLiteral("Masukkan ConnectionString untuk terhubung ke database anda"),
            QStringLiteral("ConnectionString"), p.ConnectionString);
        try {
            m_service.EditCompany(p.ApiKey, p.CompanyName, entered, p.Telp, GetDeviceName(),
                                  QStringLiteral("0"));
        } catch (const TransportError& e) {
            // Without the service the reload below could not load anything either.
            Prompting(e.statusText());
            return;
        }
        Tampil();
        return;
    }
    case ResponseLabelRemedy::None:
        return;
    }
}
