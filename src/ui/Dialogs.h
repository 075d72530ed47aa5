// Everything the agent's windows do on the user's desktop beyond drawing themselves: every
// message box, input box and modal window, opening an address or a program, and ending the
// process. The windows are given one; tests give them one that answers and records instead.
#pragma once

#include <QString>

class QDialog;

class Dialogs
{
public:
    // Message-box styles: the icon codes the agent's texts are written for.
    enum Style
    {
        NoIcon = 0,
        Critical = 16,
        Exclamation = 48,
        Information = 64
    };

    virtual ~Dialogs() = default;
    // An empty title shows the application's title.
    virtual void messageBox(const QString& text, int style, const QString& title = {}) = 0;
    // Yes/No with No as the default; true for Yes.
    virtual bool askYesNo(const QString& text, int style, const QString& title) = 0;
    // The text entered; the empty text when cancelled.
    virtual QString inputBox(const QString& prompt, const QString& title = {},
                             const QString& defaultText = {}) = 0;
    // Shows a window modally and returns when it is hidden or closed.
    virtual void showModal(QDialog* window) = 0;
    // Hands an address or a file to the system (OpenUrl); true when the system took it.
    virtual bool openUrl(const QString& target, int showMode) = 0;
    // Ends the process at once (EndApp).
    virtual void endApp() = 0;
};

// The real desktop: QMessageBox, QInputDialog, the system's handlers, the process's end.
class WidgetDialogs : public Dialogs
{
public:
    void messageBox(const QString& text, int style, const QString& title) override;
    bool askYesNo(const QString& text, int style, const QString& title) override;
    QString inputBox(const QString& prompt, const QString& title,
                     const QString& defaultText) override;
    void showModal(QDialog* window) override;
    bool openUrl(const QString& target, int showMode) override;
    void endApp() override;
};

// The look of the agent's own windows: a title bar with only the close box, Tahoma throughout.
void SetUpWindow(QDialog* window, const QString& title);
