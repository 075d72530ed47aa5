// The main window's construction, the start-up and reload sequence, and the status line.
#include "Form1.h"

#include "app/AppControl.h"
#include "app/ProfileState.h"
#include "pipeline/ReportService.h"
#include "service/DeviceIdentity.h"
#include "service/ServiceClient.h"
#include "service/ServiceConfig.h"
#include "ui/Dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QTime>
#include <QTimer>

#include <algorithm>

namespace {

// The leading whole number of a text ("1", " 0\r\n", "1 ok"); 0 when there is none.
qint16 leadingNumber(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^\\s*([+-]?\\d+)"));
    const auto match = re.match(text);
    if (!match.hasMatch())
        return 0;
    const qlonglong value = match.captured(1).toLongLong();
    return qint16(std::clamp<qlonglong>(value, -32768, 32767));
}

// Menu captions show "&" as a mnemonic marker; a company name or key must show it as written.
QString menuText(const QString& text)
{
    return QString(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QLabel* makeLabel(QWidget* parent, const QString& text, const QRect& geometry)
{
    auto* label = new QLabel(text, parent);
    label->setGeometry(geometry);
    return label;
}

} // namespace

Form1::Form1(ServiceClient& service, Dialogs& dialogs, ExeIdentity exe, QWidget* parent)
    : QMainWindow(parent), m_service(service), m_dialogs(dialogs), m_exe(std::move(exe))
{
    // A fixed single border: minimize, no maximize, no resizing.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("Q17 Tallyframe - Versi ?"));
    setWindowIcon(QIcon(QStringLiteral(":/images/app-icon.png")));
    buildControls();
    buildMenus();
    connectCourier();

    const auto timer = [this](int interval, auto onTimeout) {
        auto* t = new QTimer(this);
        t->setInterval(interval);
        connect(t, &QTimer::timeout, this, onTimeout);
        return t;
    };
    Timer2 = timer(500, [this] { guardedTick([this] { Timer2_Timer(); }); });
    QTimer* TmrAutoUpdt = timer(60000, [this] { guardedTick([this] { TmrAutoUpdt_Timer(); }); });
    TmrAutoUpdt->start();
    TmrExit = timer(1000, [this] { TmrExit_Timer(); });
    m_startupRetry = timer(kStartupRetryMs, [this] {
        // Never start over under an open dialog or inside another call: try a bit later.
        if (m_inTick || m_service.busy() || m_courier->busy() ||
            QApplication::activeModalWidget()) {
            m_startupRetry->start();
            return;
        }
        if (m_retry == StartupRetry::DatabaseOnly)
            openDatabase();
        else
            Tampil();
    });
    m_startupRetry->setSingleShot(true);

    // Centred by the size the window really has, menu bar included, not by a default size.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, frameGeometry().size(),
                                 screen->availableGeometry())
                 .topLeft());
}

void Form1::buildControls()
{
    auto* client = new QWidget(this);
    client->setFixedSize(481, 241); // 7215 x 3615 twips, 15 twips a pixel
    setCentralWidget(client);

    TxtRs = new QPlainTextEdit(client);
    TxtRs->setGeometry(9, 9, 461, 220); // 6915 x 3300 twips at (135, 135)
    TxtRs->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(TxtRs, &QPlainTextEdit::textChanged, this, [this] {
        // Typing into the box reacts like a text set by the agent.
        if (TxtRs->hasFocus()) {
            m_txtRsText = TxtRs->toPlainText();
            TxtRs_Change();
        }
    });

    Frame1 = new QFrame(client);
    Frame1->setGeometry(9, 3, 463, 228); // 6945 x 3420 twips at (135, 45)
    Frame1->setAutoFillBackground(true);
    Frame1->hide();
    Frame1->installEventFilter(this);

    Image1 = makeLabel(Frame1, {}, QRect(13, 4, 437, 87));
    Image1->setPixmap(QPixmap(QStringLiteral(":/images/banner.png")));
    Image1->installEventFilter(this);

    Label7 = makeLabel(Frame1, QStringLiteral("..."), QRect(13, 30, 437, 34));
    Label7->setTextFormat(Qt::PlainText); // the company name as the service holds it, never markup
    Label7->setAlignment(Qt::AlignCenter);
    Label7->setStyleSheet(QStringLiteral("color: white; font-size: 15pt; font-weight: bold;"));
    Label7->installEventFilter(this);

    ImgRegister = makeLabel(Frame1, {}, QRect(360, 52, 84, 34));
    ImgRegister->setPixmap(QPixmap(QStringLiteral(":/images/register.png")));
    ImgRegister->setToolTip(QStringLiteral("Registrasi"));
    ImgRegister->hide();
    ImgRegister->installEventFilter(this);

    Label3 = makeLabel(Frame1, QStringLiteral("Editor Queries"), QRect(13, 98, 270, 16));
    Label4 = makeLabel(Frame1, m_service.url(QLatin1String(Endpoint::QueryEditorPage)),
                       QRect(13, 114, 270, 16));
    Label5 = makeLabel(Frame1, QStringLiteral("View Reports"), QRect(13, 134, 270, 16));
    Label6 = makeLabel(Frame1, m_service.url(QLatin1String(Endpoint::ReportViewerPage)),
                       QRect(13, 150, 270, 16));
    for (QLabel* link : {Label4, Label6}) {
        link->setStyleSheet(QStringLiteral("color: palette(highlight);"));
        link->setCursor(Qt::PointingHandCursor);
        link->installEventFilter(this);
        // The full addresses must fit beside the small picture.
        QFont font = link->font();
        font.setPointSizeF(7.5);
        link->setFont(font);
    }

    Image2 = makeLabel(Frame1, {}, QRect(285, 100, 168, 53));
    Image2->setPixmap(QPixmap(QStringLiteral(":/images/small.png")));

    Label1 = makeLabel(Frame1, QStringLiteral("Response"), QRect(13, 168, 200, 16));
    // Two lines: a failure says what went wrong and when it is tried again.
    LblResponse = makeLabel(Frame1, QString(108, QLatin1Char('.')), QRect(13, 185, 435, 40));
    LblResponse->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LblResponse->setWordWrap(true);
    // Answers of the service and the database driver land here: shown as written, never as markup.
    LblResponse->setTextFormat(Qt::PlainText);
    LblResponse->installEventFilter(this);
    LblResponse_Change();

    Check1 = new QCheckBox(QStringLiteral("Stop Error"), Frame1);
    Check1->setGeometry(330, 166, 120, 20); // beside "Response", clear of the status line
    Check1->hide();

    PicQ17 = new QLabel(Frame1);
    PicQ17->hide();
}

void Form1::buildMenus()
{
    QMenuBar* bar = menuBar();
    const auto item = [this](QMenu* menu, const QString& text, void (Form1::*handler)()) {
        return menu->addAction(text, this, handler);
    };
    QMenu* mnuApp = bar->addMenu(QStringLiteral("&Aplikasi"));
    QMenu* mnuStartup = mnuApp->addMenu(QStringLiteral("&Startup"));
    const QString startupCaptions[2] = {QStringLiteral("&Show"), QStringLiteral("&On Tray")};
    for (int i = 0; i < 2; ++i) {
        mnuStartupOpt[i] = mnuStartup->addAction(startupCaptions[i]);
        mnuStartupOpt[i]->setCheckable(true);
        connect(mnuStartupOpt[i], &QAction::triggered, this, [this, i] { mnuStartupOpt_Click(i); });
    }
    mnuApp->addSeparator(); // mnuGrs1
    mnuDeviceInfo = item(mnuApp, QStringLiteral("&Device Info"), &Form1::mnuDeviceInfo_Click);
    mnuApp->addSeparator(); // mnuGrs6
    item(mnuApp, QStringLiteral("E&xit"), &Form1::mnuExit_Click);

    QMenu* mnuAkun = bar->addMenu(QStringLiteral("A&kun"));
    mnuRegistrasi = item(mnuAkun, QStringLiteral("&Registrasi"), &Form1::mnuRegistrasi_Click);
    mnuRegistrasi->setEnabled(false); // switched off by design; the register picture stands in
    mnuPerbarui = item(mnuAkun, QStringLiteral("&Perbarui"), &Form1::mnuPerbarui_Click);
    mnuAkun->addSeparator(); // mnuGrs2
    QMenu* mnuWebLogin = mnuAkun->addMenu(QStringLiteral("&Web Login"));
    mnuUserName = item(mnuWebLogin, QStringLiteral("User: "), &Form1::mnuUserName_Click);
    mnuAPIKey = item(mnuWebLogin, QStringLiteral("APIKey:"), &Form1::mnuAPIKey_Click);
    mnuWebLogin->addSeparator(); // mnuGrs4
    mnuKlikUntukCopy = item(mnuWebLogin, QStringLiteral("Klik masing-masing untuk meng-Copy"),
                            &Form1::mnuKlikUntukCopy_Click);
    mnuAkun->addSeparator(); // mnuGrs3

    QMenu* mnuDB = bar->addMenu(QStringLiteral("&Database"));
    mnuKoneksi = item(mnuDB, QStringLiteral("&Koneksi"), &Form1::mnuKoneksi_Click);
    mnuDB->addSeparator(); // mnuGrs7
    mnuQueriesEditor = item(mnuDB, QStringLiteral("&Queries Editor"), &Form1::Label4_Click);
    mnuDB->addSeparator(); // mnuGrs8
    mnuViewReports = item(mnuDB, QStringLiteral("&View Reports"), &Form1::Label6_Click);

    mnuBantuan = bar->addMenu(QStringLiteral("&Bantuan"));
    mnuOnTheWeb =
        item(mnuBantuan, QStringLiteral("&Q17 Tallyframe on the web"), &Form1::mnuOnTheWeb_Click);
    mnuMeetUs = item(mnuBantuan, QStringLiteral("&Meet our developers"), &Form1::mnuMeetUs_Click);
    mnuTechSupport =
        item(mnuBantuan, QStringLiteral("Technical &Support"), &Form1::mnuTechSupport_Click);
    mnuBantuan->addSeparator(); // mnuGrs5
    mnuTtg = item(mnuBantuan, QStringLiteral("&Tentang Q17 Tallyframe"), &Form1::mnuTtg_Click);
}

template <typename Fn> void Form1::guardedTick(Fn&& fn)
{
    if (m_inTick || m_service.busy() || m_courier->busy())
        return;
    m_inTick = true;
    try {
        fn();
    } catch (const std::exception& e) {
        qCWarning(lcApp) << "tick failed:" << e.what();
    }
    m_inTick = false;
}

void Form1::Prompting(const QString& pesan)
{
    LblResponse->setText(pesan);
    LblResponse_Change();
    LblResponse->repaint();
    logStatus(pesan);
}

void Form1::SetStatus(QLabel* label, const QString& text)
{
    if (ProfileState::instance().AppHide != 0)
        return;
    label->setText(text);
    if (label == LblResponse)
        LblResponse_Change();
    label->repaint();
    logStatus(text);
}

void Form1::setTxtRs(const QString& text)
{
    // The same reply tick after tick changes nothing: no repeated reactions, no repeated box.
    if (m_txtRsText == text)
        return;
    m_txtRsText = text;
    const QSignalBlocker block(TxtRs);
    TxtRs->setPlainText(TextBoxView(text));
    TxtRs_Change();
}

void Form1::setWindowCaption()
{
    setWindowTitle(QStringLiteral("Q17 Tallyframe - Versi ") + ServiceConfig::versionText());
}

void Form1::LoadProfile(QLabel* status)
{
    ProfileState& p = ProfileState::instance();
    status->repaint();
    p.AppHide = leadingNumber(m_service.GetAppHide(GetDeviceName(), p.ApiKey));
    if (p.AppHide == 0) {
        show();
        repaint();
    }
    SetStatus(status, QStringLiteral("Loading CompanyName..."));
    p.CompanyName = m_service.GetCompanyName(GetDeviceName());
    SetStatus(status, QStringLiteral("Loading APIKey..."));
    p.ApiKey = m_service.GetApiKey(GetDeviceName());
    SetStatus(status, QStringLiteral("Loading Personal Contact..."));
    p.Telp = m_service.GetTelp(GetDeviceName(), p.ApiKey);
    SetStatus(status, QStringLiteral("Loading ConnectionString..."));
    const QString connectionString = m_service.GetConnectionString(GetDeviceName(), p.ApiKey);
    p.ConnectionString = connectionString.contains(QLatin1String("Error:"), Qt::CaseInsensitive)
                             ? QString()
                             : connectionString;
    SetStatus(status, QStringLiteral("Get ready!"));
}

void Form1::Tampil()
{
    m_startupRetry->stop();
    ProfileState& p = ProfileState::instance();
    try {
        LoadProfile(LblResponse);
    } catch (const TransportError& e) {
        // Often the network is not up yet when the desktop starts: stay reachable and retry.
        if (p.AppHide == 0)
            show();
        AddTrayIcon(PicQ17);
        retryLater(e.statusText(), StartupRetry::Everything);
        return;
    }

    if (p.AppHide != 0) {
        hide();
    } else {
        show();
        repaint();
    }
    setWindowCaption();
    if (p.AppHide == 0 || p.AppHide == 1)
        mnuStartupOpt[p.AppHide]->setChecked(true);
    mnuUserName->setText(QStringLiteral("User   : ") + menuText(p.CompanyName));
    mnuAPIKey->setText(QStringLiteral("APIKey : ") + menuText(p.ApiKey));

    CekUpdt();

    PicQ17->setPixmap(windowIcon().pixmap(32, 32));
    LblResponse->setCursor(Label4->cursor());
    AddTrayIcon(PicQ17);

    try {
        Prompting(QStringLiteral("Mencari informasi keamanan hubungan..."));
        Timer2->stop();
        setTxtRs(QStringLiteral("Welcome ") + p.CompanyName + QStringLiteral("...\r\n") +
                 QStringLiteral("Nothing is impossible ^_^"));
        Label7->setText(p.CompanyName);

        if (p.CompanyName.contains(QLatin1String("DeviceName not found"), Qt::CaseInsensitive)) {
            if (m_autoRegistrations >= kMaxAutoRegistrations) {
                m_autoRegistrations = 0;
                Prompting(QStringLiteral("Perangkat ini tidak dapat didaftarkan ke layanan "
                                         "(DeviceName: %1).")
                              .arg(GetDeviceName()));
                return;
            }
            ++m_autoRegistrations;
            m_service.RegisterCompany(QStringLiteral("Anonymous"), {}, {}, GetDeviceName());
            Tampil();
            return;
        }
        m_autoRegistrations = 0;

        if (p.ConnectionString.startsWith(QLatin1String("Error"))) {
            Prompting(p.ConnectionString);
            if (p.ConnectionString.contains(QLatin1String("company not found"),
                                            Qt::CaseInsensitive)) {
                ImgRegister->show();
                ImgRegister->setCursor(Label4->cursor());
                p.DbConnection.reset();
            } else if (p.ConnectionString.contains(QLatin1String("APIKey"), Qt::CaseInsensitive)) {
                m_dialogs.messageBox(p.ConnectionString, Dialogs::Critical,
                                     QStringLiteral("Error!"));
                p.DbConnection.reset();
            } else {
                ImgRegister->hide();
            }
            return;
        }

        openDatabase();
    } catch (const TransportError& e) {
        retryLater(e.statusText(), StartupRetry::Everything);
    }
}

void Form1::openDatabase()
{
    ProfileState& p = ProfileState::instance();
    Prompting(QStringLiteral("Menghubungkan..."));
    // The connection that was open is released before the new one opens.
    p.DbConnection.reset();
    try {
        p.DbConnection = std::make_unique<OdbcConnection>(p.ConnectionString);
    } catch (const DbError& e) {
        // A database that is not up yet after a restart of the machine: only the open is tried
        // again; the profile and the update check have nothing new to say every 30 seconds.
        retryLater(e.statusText(), StartupRetry::DatabaseOnly);
        return;
    }
    if (p.DbConnection->isOpen()) {
        Prompting(QStringLiteral("Terhubung database."));
        Timer2->start();
    } else {
        retryLater(QStringLiteral("Tidak terhubung database!"), StartupRetry::DatabaseOnly);
    }
    ImgRegister->hide();
}

void Form1::retryLater(const QString& failure, StartupRetry what)
{
    // A start that stopped before its caption was set still shows which build is running.
    setWindowCaption();
    m_retry = what;
    m_startupRetry->start();
    // At a first start the status line is still hidden in the idle panel under an empty box.
    Frame1->show();
    const QString at = QTime::currentTime()
                           .addMSecs(m_startupRetry->interval())
                           .toString(QStringLiteral("HH:mm:ss"));
    Prompting(failure + QStringLiteral(" (dicoba lagi pukul ") + at + QLatin1Char(')'));
}

void Form1::closeEvent(QCloseEvent* event)
{
    // Closing never ends the agent at once: the orderly shutdown ends it one tick later.
    event->ignore();
    ShutDown();
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    if (type != QEvent::MouseButtonDblClick && type != QEvent::MouseButtonRelease)
        return QMainWindow::eventFilter(watched, event);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (watched == Label7) {
        // The name over the banner has no double-click of its own.
        if (type == QEvent::MouseButtonRelease) {
            if (mouse->button() == Qt::LeftButton)
                mnuPerbarui_Click();
            Label7_MouseUp(mouse->button());
        }
        return true;
    }
    if (type == QEvent::MouseButtonDblClick) {
        // A double-click that a child passed on (a label ignores it) is not the panel's.
        if (watched == Frame1 && !Frame1->childAt(mouse->position().toPoint()))
            Frame1_DblClick();
        else if (watched == Image1)
            Image1_DblClick();
        else
            return QMainWindow::eventFilter(watched, event);
        return true;
    }
    if (mouse->button() != Qt::LeftButton)
        return QMainWindow::eventFilter(watched, event);
    if (watched == LblResponse)
        LblResponse_Click();
    else if (watched == Label4)
        Label4_Click();
    else if (watched == Label6)
        Label6_Click();
    else if (watched == ImgRegister)
        mnuRegistrasi_Click();
    else
        return QMainWindow::eventFilter(watched, event);
    return true;
}
