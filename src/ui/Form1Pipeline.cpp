// The main window's side of the report pipeline: the poll tick, the text box's reactions, and
// the response label. (Being built: the courier loop lands here.)
#include "Form1.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>

void Form1::Timer2_Timer() {}

void Form1::AutoKirimJSON(const QString& hsl)
{
    Q_UNUSED(hsl);
}

void Form1::TxtRs_Change()
{
    const QString text = TxtRs->toPlainText();
    if (text.contains(QLatin1String("nothing"), Qt::CaseInsensitive)) {
        const QWidget* client = centralWidget();
        Frame1->move(client->width() / 2 - Frame1->width() / 2,
                     client->height() / 2 - Frame1->height() / 2 - 2);
        Frame1->show();
    } else {
        Frame1->hide();
        repaint();
    }
}

void Form1::LblResponse_Change() {}

void Form1::LblResponse_Click() {}
