// The consent window and the first-start flow that shows it.
#include "Form2.h"

#include "app/AppControl.h"
#include "app/AutoStart.h"
#include "ui/Dialogs.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 560;

QLabel* paragraph(QWidget* parent, const QString& text)
{
    auto* label = new QLabel(text, parent);
    // Plain text: the host name is shown as written, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

} // namespace

Form2::Form2(const QString& serviceHost, Dialogs& dialogs, QWidget* owner, ExeIdentity exe)
    : QDialog(owner), m_dialogs(dialogs), m_exe(std::move(exe))
{
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Izin menjalankan aplikasi"));

    Label6 = paragraph(this, QStringLiteral("Calon pengguna atau developer yang budiman, mohon "
                                            "dibaca pelan-pelan njih. _/|\\_"));
    QFont heading = Label6->font();
    heading.setBold(true);
    Label6->setFont(heading);
    Label1 = paragraph(
        this, QStringLiteral(
                  "Bisa jadi aplikasi ini terblokir oleh beberapa antivirus karena tidak mengenal "
                  "pembuatnya. Hal ini wajar karena tidak semua orang ganteng harus terkenal. Jika "
                  "anda menginginkan aplikasi ini berjalan sesuai keinginan dan kebutuhan anda, "
                  "tolong buatkan eksepsi untuk aplikasi ini, setidaknya jika terjadi sesuatu "
                  "seputar virus dan peretasan, anda tahu dimana anda bisa mencari saya."));
    Label2 = paragraph(
        this, QStringLiteral(
                  "Aplikasi ini akan melakukan startup otomatis dan mulai bekerja di belakang "
                  "layar sejak masuk Windows untuk pertama kali nanti, selama antivirus yang ada "
                  "pada perangkat anda ini sudah anda buatkan eksepsinya karena anda percaya "
                  "dengan aplikasi saya ini."));
    Label3 = paragraph(
        this, QStringLiteral("Aplikasai ini melakukan komunikasi dengan host yang saya pilih atau "
                             "host yang anda beli atas perjanjian sebelum aplikasi ini diinstall. "
                             "Alamat host tersebut adalah ") +
                  serviceHost +
                  QStringLiteral(" (kecuali atas perjanjian tertentu menggunakan host yang anda "
                                 "pilih) dan mengakses API di host tersebut."));
    Label4 = paragraph(
        this, QStringLiteral("Aplikasi ini juga melakukan koneksi ke database berdasarkan dawai "
                             "koneksi yang anda daftarkan dan tersimpan secara aman di host kami "
                             "melalui enkripsi."));
    Label5 = paragraph(
        this, QStringLiteral(
                  "Saya berharap anda memahami poin-poin di atas sehingga tidak asal halu jika "
                  "suatu saat di kemudian hari anda mengalami masalah sekuritas langsung "
                  "meng-klaim aplikasi ini sebagai pelakunya. Mari sama-sama memahami bahwa "
                  "produk yang saya buat ini dan kepercayaan anda memanfaatkan teknologi ini "
                  "didasarkan atas kemanfaatan bagi anda, saya dan lingkungan."));
    Label7 = paragraph(this, QStringLiteral("Q17 Tallyframe"));
    Label7->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    Command2 = new QPushButton(QStringLiteral("Batal"), this);
    Command1 = new QPushButton(QStringLiteral("Saya mengerti"), this);
    // Enter must not give consent by accident: only a click (or Space on the button) does.
    Command1->setAutoDefault(false);
    Command2->setAutoDefault(false);
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command2);
    buttons->addStretch(1);
    buttons->addWidget(Command1);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    for (QLabel* label : {Label6, Label1, Label2, Label3, Label4, Label5, Label7})
        layout->addWidget(label);
    layout->addSpacing(4);
    layout->addLayout(buttons);

    setFixedSize(kWidth, layout->totalHeightForWidth(kWidth));

    // Centred on the owner when it is on screen, otherwise on the screen.
    if (owner && owner->isVisible())
        move(owner->window()->frameGeometry().center() - rect().center());
    else if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Form2::Command1_Click()
{
    qint32 errorNumber = 0;
    SetAutoStart(true, errorNumber, m_exe);
    if (errorNumber != 0)
        qCInfo(lcApp) << "auto-start entry not written, error" << errorNumber;
    accept();
}

void Form2::Command2_Click()
{
    m_dialogs.endApp();
    // Only reached where the ending is replaced (tests): the window goes away all the same.
    reject();
}

void Form2::showAtFirstStart(const QString& serviceHost, Dialogs& dialogs, QWidget* owner,
                             const ExeIdentity& exe)
{
    if (AutoStartEntryExists(exe))
        return;
    Form2 consent(serviceHost, dialogs, owner, exe);
    dialogs.showModal(&consent);
}
