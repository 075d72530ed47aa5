// The Dialogs seam and its widget implementation.
#include "Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>

namespace {

Dialogs* g_installed = nullptr;

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

} // namespace

Dialogs& Dialogs::instance()
{
    static WidgetDialogs real;
    return g_installed ? *g_installed : real;
}

void Dialogs::install(Dialogs* dialogs)
{
    g_installed = dialogs;
}

void WidgetDialogs::messageBox(const QString& text, int style, const QString& title)
{
    QMessageBox box(iconFor(style), titleOr(title), text, QMessageBox::Ok);
    box.exec();
}

bool WidgetDialogs::askYesNo(const QString& text, int style, const QString& title)
{
    QMessageBox box(iconFor(style), titleOr(title), text, QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString WidgetDialogs::inputBox(const QString& prompt, const QString& title,
                                const QString& defaultText)
{
    bool ok = false;
    const QString text =
        QInputDialog::getText(nullptr, titleOr(title), prompt, QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

void WidgetDialogs::showModal(QWidget* window)
{
    if (auto* dialog = qobject_cast<QDialog*>(window)) {
        dialog->exec();
        return;
    }
    // A plain widget: application-modal until it is hidden or destroyed.
    QPointer<QWidget> guard(window);
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    QEventLoop loop;
    while (guard && guard->isVisible())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
}
