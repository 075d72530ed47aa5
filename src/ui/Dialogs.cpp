// The desktop seam and its real implementation.
#include "Dialogs.h"

#include "app/AppControl.h"
#include "app/OpenUrl.h"

#include <QApplication>
#include <QDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>

namespace {

QMessageBox::Icon iconFor(int style)
{
    switch (style & 0x70) {
    case Dialogs::Critical:
        return QMessageBox::Critical;
    case Dialogs::Exclamation:
        return QMessageBox::Warning;
    case Dialogs::Information:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

QString titleOr(const QString& title)
{
    return title.isEmpty() ? QApplication::applicationDisplayName() : title;
}

// The window a box belongs to, so that it opens centred on it: the open modal window, else the
// active one; none (centred on the screen) when the agent has no window up.
QWidget* owner()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

// Boxes show answers of the service and of database drivers: as written, never as markup.
void showBox(QMessageBox& box)
{
    box.setTextFormat(Qt::PlainText);
    // A box as narrow as "Connected!" leaves too little of its title bar for the caption beside
    // the window manager's buttons, and the caption is cut: make room for it.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const int captionWidth =
            box.fontMetrics().horizontalAdvance(box.windowTitle()) + 8 * box.fontMetrics().height();
        grid->addItem(new QSpacerItem(captionWidth, 0), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
    box.exec();
}

} // namespace

void WidgetDialogs::messageBox(const QString& text, int style, const QString& title)
{
    QMessageBox box(iconFor(style), titleOr(title), text, QMessageBox::Ok, owner());
    showBox(box);
}

bool WidgetDialogs::askYesNo(const QString& text, int style, const QString& title)
{
    QMessageBox box(iconFor(style), titleOr(title), text, QMessageBox::Yes | QMessageBox::No,
                    owner());
    box.setDefaultButton(QMessageBox::No);
    showBox(box);
    return box.clickedButton() == box.button(QMessageBox::Yes);
}

QString WidgetDialogs::inputBox(const QString& prompt, const QString& title,
                                const QString& defaultText)
{
    bool ok = false;
    const QString text =
        QInputDialog::getText(owner(), titleOr(title), prompt, QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

void WidgetDialogs::showModal(QDialog* window)
{
    window->exec();
}

bool WidgetDialogs::openUrl(const QString& target, int showMode)
{
    return OpenUrl(target, showMode);
}

void WidgetDialogs::endApp()
{
    EndApp();
}

void SetUpWindow(QDialog* window, const QString& title)
{
    window->setWindowTitle(title);
    window->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    QFont tahoma = window->font();
    tahoma.setFamilies({QStringLiteral("Tahoma")});
    tahoma.setStyleHint(QFont::SansSerif);
    window->setFont(tahoma);
}
