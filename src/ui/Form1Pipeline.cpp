// The main window's side of the report pipeline: the poll tick, the text box's reactions, the
// run of a request, and the status line's look and remedies.
#include "Form1.h"

#include "app/ProfileState.h"
#include "app/SettingsStore.h"
#include "pipeline/ReportRequest.h"
#include "pipeline/ReportRun.h"
#include "pipeline/ResponseLabel.h"
#include "service/DeviceIdentity.h"
#include "service/HttpTransport.h"
#include "service/ServiceClient.h"
#include "ui/Dialogs.h"
#include "ui/FrmAkun.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
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

void Form1::Timer2_Timer()
{
    const QString result =
        FetchReportRequests(Label7->text(), [this](const QString& text) { Prompting(text); });
    if (result.isEmpty())
        return;
    setTxtRs(result);
    AutoKirimJSON(result);
}

void Form1::TxtRs_Change()
{
    // The text as set, CR LF included (the widget keeps paragraphs, not line ends).
    const QString text = txtRs();
    if (Check1->isChecked() && text.contains(QLatin1String("error"), Qt::CaseInsensitive))
        Dialogs::instance().messageBox(TextBoxView(text), Dialogs::Information,
                                       QStringLiteral("Stop Error"));
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
        FrmAkun::instance().Register(kRegisterName);
}

void Form1::AutoKirimJSON(const QString& hsl)
{
    const ParsedRequest parsed = ParseReportRequest(hsl);
    if (parsed.status == ParsedRequest::NotARequest)
        return;
    if (parsed.status == ParsedRequest::Malformed) {
        // Often a reply cut short on the way: the request stays pending and comes again whole,
        // at the pace of a lost connection rather than twice a second.
        Prompting(QStringLiteral("Permintaan laporan tidak dijalankan: ") + parsed.problem +
                  QLatin1Char('.'));
        StartPollPause();
        return;
    }
    ReportRequest request = parsed.request;
    Dialogs& dialogs = Dialogs::instance();
    if (request.Sql.isEmpty())
        request.Sql = dialogs.inputBox(QStringLiteral("Buat SQL String!"));
    if (request.Sql.isEmpty())
        return;
    if (request.FileName.isEmpty())
        request.FileName = dialogs.inputBox(QStringLiteral("Tentukan nama file"));

    ProfileState& profile = ProfileState::instance();
    ReportRunHost host;
    host.prompting = [this](const QString& text) { Prompting(text); };
    host.setTxtRs = [this](const QString& text) { setTxtRs(text); };
    host.messageBox = [&dialogs](const QString& text, int style) {
        dialogs.messageBox(text, style);
    };
    host.guard = OwnerGuard::Load(*SettingsStore::open());
    const ReportRun run = RunReportQuery(request.Sql, request.FileName, request.Title,
                                         profile.ConnectionString, profile.DbConnection, host);
    setTxtRs(run.text);
    if (!run.flagRequest()) {
        // The service has not got the report: leave it pending there and ask again after a
        // pause, not on every tick.
        StartPollPause();
        return;
    }

    const QString before = txtRs();
    QString flagResult;
    bool flagged = false;
    try {
        flagResult = UpdateFlag(request.Urut, QStringLiteral("0"));
        flagged = flagResult.startsWith(QLatin1String("Response: "));
    } catch (const TransportError& e) {
        flagResult = QStringLiteral("[Error:") + QString::number(e.number()) +
                     QStringLiteral("] ") + e.description();
    }
    setTxtRs(before + QStringLiteral("\r\n") + flagResult);
    // An unflagged request comes back at the next poll and would be run and uploaded again
    // twice a second for as long as the flag fails: wait as after an undelivered report.
    if (!flagged)
        StartPollPause();
}

void Form1::LblResponse_Change()
{
    const ResponseLabelLook look = LookOfResponseLabel(LblResponse->text());
    LblResponse->setStyleSheet(styleFor(look.colour));
    if (look.pointer == ResponseLabelLook::CustomPointer)
        LblResponse->setCursor(Label4 ? Label4->cursor() : QCursor(Qt::PointingHandCursor));
    else
        LblResponse->setCursor(Qt::ArrowCursor);
    if (look.hidesRegisterPicture && ImgRegister)
        ImgRegister->hide();
}

void Form1::LblResponse_Click()
{
    Dialogs& dialogs = Dialogs::instance();
    switch (RemedyForResponseLabel(LblResponse->text())) {
    case ResponseLabelRemedy::ApiKeyNotEditable:
        dialogs.messageBox(QStringLiteral("Edit APIKey is not avalilable in this version"),
                           Dialogs::Critical, QStringLiteral("Event Unknown"));
        return;
    case ResponseLabelRemedy::RegisterCompany:
        FrmAkun::instance().Register(kRegisterName);
        return;
    case ResponseLabelRemedy::AskConnectionString: {
        ProfileState& p = ProfileState::instance();
        const QString entered = dialogs.inputBox(
            QStringLiteral("Masukkan ConnectionString untuk terhubung ke database anda"),
            QStringLiteral("ConnectionString"), p.ConnectionString);
        try {
            EditCompany(p.ApiKey, p.CompanyName, entered, p.Telp, GetDeviceName(),
                        QStringLiteral("0"));
        } catch (const TransportError& e) {
            // Without the service the reload below could not load anything either.
            Prompting(QStringLiteral("[Err:") + QString::number(e.number()) + QStringLiteral("] ") +
                      e.description());
            return;
        }
        Tampil();
        return;
    }
    case ResponseLabelRemedy::None:
        return;
    }
}
