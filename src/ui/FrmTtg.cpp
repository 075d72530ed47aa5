// The About window.
#include "FrmTtg.h"

#include "app/AgentLog.h"
#include "service/ServiceConfig.h"
#include "ui/Dialogs.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QUrl>
#include <QVBoxLayout>

FrmTtg::FrmTtg(QWidget* parent) : QDialog(parent)
{
    SetUpWindow(this, QStringLiteral("Tentang Q17 Tallyframe"));

    Image1 = new QLabel(this);
    Image1->setPixmap(QPixmap(QStringLiteral(":/images/logo.png")));
    Image1->setFixedSize(80, 80);

    auto* name = new QLabel(QStringLiteral("Q17 Tallyframe"), this);
    QFont big = font();
    big.setPointSizeF(14.25);
    big.setBold(true);
    name->setFont(big);
    Label3 = new QLabel(QStringLiteral("Version: ") + ServiceConfig::versionText(), this);
    Text1 = new QPlainTextEdit(this);
    Text1->setReadOnly(true);
    Text1->setFixedHeight(64);
    // Where support finds the log: the path can be selected, the link opens its folder.
    const QFileInfo log(AgentLog::filePath());
    Label5 =
        new QLabel(QStringLiteral("Log: <a href=\"%1\">%2</a>")
                       .arg(QUrl::fromLocalFile(log.absolutePath()).toString(QUrl::FullyEncoded),
                            QDir::toNativeSeparators(log.filePath()).toHtmlEscaped()),
                   this);
    Label5->setTextInteractionFlags(Qt::TextBrowserInteraction);
    Label5->setOpenExternalLinks(true);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(name);
    texts->addWidget(new QLabel(QStringLiteral("A web Tallyframe from your local database"), this));
    texts->addWidget(Label3);
    texts->addStretch(1);

    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(14);
    grid->addWidget(Image1, 0, 0, Qt::AlignTop);
    grid->addLayout(texts, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("This product is licenced to:"), this), 1, 0, 1, 2);
    grid->addWidget(Text1, 2, 0, 1, 2);
    grid->addWidget(Label5, 3, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}
