// Every message box, input box and modal window of the agent goes through here, so that tests
// can answer them without a real modal loop.
#pragma once

#include <QString>

class QDialog;
class QWidget;

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
    virtual void showModal(QWidget* window) = 0;

    static Dialogs& instance();
    // Replaces the implementation (tests); nullptr restores the real one. Not owned.
    static void install(Dialogs* dialogs);
};

// The real boxes: QMessageBox and QInputDialog.
class WidgetDialogs : public Dialogs
{
public:
    void messageBox(const QString& text, int style, const QString& title) override;
    bool askYesNo(const QString& text, int style, const QString& title) override;
    QString inputBox(const QString& prompt, const QString& title,
                     const QString& defaultText) override;
    void showModal(QWidget* window) override;
};

// The look of the agent's own windows: a title bar with only the close box, Tahoma throughout.
void SetUpWindow(QDialog* window, const QString& title);
