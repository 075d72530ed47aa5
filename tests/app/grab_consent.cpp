// Renders the consent window to a PNG file the way Qt paints it (docs/screenshots/consent.png).
//
//   tallyframe_grab_consent <output file>
#include "service/ServiceClient.h"
#include "ui/Dialogs.h"
#include "ui/Form1.h"
#include "ui/Form2.h"

#include <QApplication>
#include <QPixmap>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output.png>\n", argv[0]);
        return 2;
    }
    QApplication::setApplicationDisplayName(QStringLiteral("Q17 Tallyframe"));
    WidgetDialogs dialogs;
    ServiceClient client;
    Form1 owner(client, dialogs);
    Form2 consent(client.hostDisplay(), dialogs, &owner);
    consent.show();
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    const QString path = QString::fromLocal8Bit(argv[1]);
    const QPixmap picture = consent.grab();
    if (picture.isNull() || !picture.save(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("%s (%dx%d)\n", qPrintable(path), picture.width(), picture.height());
    return 0;
}
