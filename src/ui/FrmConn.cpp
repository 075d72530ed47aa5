// The database connection window.
#include "FrmConn.h"

#include "app/ProfileState.h"
#include "app/SettingsStore.h"
#include "pipeline/OdbcConnection.h"
#include "pipeline/OwnerGuard.h"
#include "service/DeviceIdentity.h"
#include "service/ServiceClient.h"
#include "ui/Dialogs.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

const QString FrmConn::kTemplate =
    QStringLiteral("DRIVER={Engine};SERVER={IPAddress};DATABASE={NamaDatabase};UID={UserID};"
                   "PASSWORD={Password};PORT={Port}\r\n;OPTION=;STMT=;\r\n");

FrmConn::FrmConn(ServiceClient& service, Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_service(service), m_dialogs(dialogs)
{
    SetUpWindow(this, QStringLiteral("Koneksi Database"));

    TxtConnStr = new QPlainTextEdit(this);
    TxtConnStr->setPlainText(kTemplate);
    // A device the service holds no string for loads an empty box: show what works.
    TxtConnStr->setPlaceholderText(
        QStringLiteral("DRIVER={SQLite3};Database=/srv/data/shop.db;\n"
                       "DRIVER={PostgreSQL Unicode};Server=127.0.0.1;Port=5432;Database=shop;"
                       "Uid=report;Pwd=secret;"));
    TxtConnStr->setTabChangesFocus(true);
    // Wrapping at blanks would look like a line break inside a driver name; real line breaks
    // in the string must stay the only ones that look like them.
    TxtConnStr->setWordWrapMode(QTextOption::WrapAnywhere);
    Command2 = new QPushButton(QStringLiteral("Test"), this);
    Command1 = new QPushButton(QStringLiteral("Simpan"), this);
    for (QPushButton* button : {Command2, Command1})
        button->setMinimumWidth(96);
    // Enter presses the focused button; elsewhere it tests. Not "Simpan": a save also sets the
    // start-up mode back to "Show" and reloads everything, too much for an Enter typed after a
    // limit of the owner's guard.
    Command2->setDefault(true);
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command2);
    buttons->addWidget(Command1);
    buttons->addStretch(1);

    const OwnerGuard guard = OwnerGuard::Load(*SettingsStore::open());
    auto* guardBox = new QGroupBox(QStringLiteral("Penjaga pemilik (hanya di komputer ini)"), this);
    ChkReadOnly = new QCheckBox(QStringLiteral("Hanya-baca (read-only)"), guardBox);
    ChkReadOnly->setChecked(guard.readOnly);
    LblGuard = new QLabel(
        QStringLiteral("Bila dicentang, laporan hanya membaca database: koneksi laporan dibuka "
                       "hanya-baca, hanya satu pernyataan yang diawali SELECT atau WITH yang "
                       "dijalankan, kueri dihentikan setelah batas waktu, dan hasil yang lebih "
                       "dari batas baris ditolak utuh, tidak diunggah. Pengaturan ini disimpan "
                       "di komputer ini dan tidak pernah diubah oleh layanan."),
        guardBox);
    LblGuard->setWordWrap(true);
    TxtTimeLimit = new QSpinBox(guardBox);
    TxtTimeLimit->setRange(1, 24 * 3600);
    TxtTimeLimit->setSuffix(QStringLiteral(" detik"));
    TxtTimeLimit->setValue(guard.timeLimitSeconds);
    TxtRowLimit = new QSpinBox(guardBox);
    TxtRowLimit->setRange(1, std::numeric_limits<int>::max());
    TxtRowLimit->setGroupSeparatorShown(true);
    TxtRowLimit->setSuffix(QStringLiteral(" baris"));
    TxtRowLimit->setValue(int(std::min<qint64>(guard.rowLimit, std::numeric_limits<int>::max())));
    auto* limits = new QFormLayout;
    limits->addRow(QStringLiteral("Batas waktu kueri:"), TxtTimeLimit);
    limits->addRow(QStringLiteral("Batas baris hasil:"), TxtRowLimit);
    auto* guardColumn = new QVBoxLayout(guardBox);
    guardColumn->addWidget(ChkReadOnly);
    guardColumn->addWidget(LblGuard);
    guardColumn->addLayout(limits);
    // The owner's guard is kept on this PC the moment it is changed; "Simpan" sends only the
    // connection string, and nothing of the guard ever goes to the service.
    const auto saveGuard = [this] {
        OwnerGuard changed;
        changed.readOnly = ChkReadOnly->isChecked();
        changed.timeLimitSeconds = TxtTimeLimit->value();
        changed.rowLimit = TxtRowLimit->value();
        changed.save(*SettingsStore::open());
    };
    // The limits belong to the guard: they apply only while it is on.
    for (QSpinBox* limit : {TxtTimeLimit, TxtRowLimit}) {
        limit->setEnabled(guard.readOnly);
        connect(ChkReadOnly, &QCheckBox::toggled, limit, &QWidget::setEnabled);
        connect(limit, &QSpinBox::valueChanged, this, saveGuard);
    }
    connect(ChkReadOnly, &QCheckBox::toggled, this, saveGuard);

    auto* column = new QVBoxLayout(this);
    column->addWidget(new QLabel(QStringLiteral("ConnectionString :"), this));
    column->addWidget(TxtConnStr, 1);
    column->addLayout(buttons);
    column->addWidget(guardBox);
    resize(720, 400); // the working forms fit on their lines
}

bool FrmConn::Form_Load()
{
    try {
        TxtConnStr->setPlainText(
            m_service.GetConnectionString(GetDeviceName(), ProfileState::instance().ApiKey));
        return true;
    } catch (const TransportError& e) {
        // Without the service the string can neither be shown nor saved: say why, and do not
        // offer the template as if it were the stored string.
        m_dialogs.messageBox(e.description(), Dialogs::Critical,
                             QStringLiteral("Koneksi Database"));
        return false;
    }
}

QString FrmConn::connectionString() const
{
    return TxtConnStr->toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n"));
}

void FrmConn::Command2_Click()
{
    const QString title = QStringLiteral("Test Koneksi");
    try {
        // A connection of its own, closed when this block ends; the profile's stays untouched.
        const OdbcConnection connection(connectionString(), kTestLoginTimeoutSeconds);
        if (connection.isOpen())
            m_dialogs.messageBox(QStringLiteral("Connected!"), Dialogs::Information, title);
        else
            m_dialogs.messageBox(QStringLiteral("Unreachable!"), Dialogs::Critical, title);
    } catch (const DbError& e) {
        m_dialogs.messageBox(e.description(), Dialogs::Critical,
                             QStringLiteral("Test Koneksi Error: ") + QString::number(e.number()));
    }
}

void FrmConn::Command1_Click()
{
    // Without an answer, or refused, the window keeps the typed string for another try.
    if (SendEdit(m_service, m_dialogs, connectionString(), QStringLiteral("0")).value_or(false)) {
        close();
        emit saved();
    }
}

std::optional<bool> FrmConn::SendEdit(ServiceClient& service, Dialogs& dialogs,
                                      const QString& connStr, const QString& appHide)
{
    const QString title = QStringLiteral("Edit ConnectionString");
    ProfileState& p = ProfileState::instance();
    AccountAnswer answer;
    try {
        answer = ReadAccountAnswer(
            service.EditCompany(p.ApiKey, {}, connStr, {}, GetDeviceName(), appHide));
    } catch (const TransportError& e) {
        dialogs.messageBox(e.description(), Dialogs::Critical, title);
        return std::nullopt;
    }
    p.ApiKey = answer.apiKey.value_or(p.ApiKey);
    dialogs.messageBox(answer.message, answer.saysError ? Dialogs::Critical : Dialogs::NoIcon,
                       title);
    return answer.saysSuccess;
}
