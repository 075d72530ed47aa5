// The database connection window: shows the connection string the service keeps for this
// device, tests a candidate string on a connection of its own, and saves it to the service.
#pragma once

#include <QDialog>
#include <QString>

#include <optional>

class Dialogs;
class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class ServiceClient;
class QSpinBox;

class FrmConn : public QDialog
{
    Q_OBJECT

public:
    // The text box's content before loading replaces it: the keys of an ODBC driver string with
    // a placeholder for each value.
    static const QString kTemplate;
    // Long enough for a server across a slow link, short enough that a wrong address does not
    // hold the window for minutes.
    static constexpr int kTestLoginTimeoutSeconds = 15;

    FrmConn(ServiceClient& service, Dialogs& dialogs, QWidget* parent = nullptr);

    // Fills the text box from the service. False (after telling the user) when the service
    // could not be reached at all.
    bool Form_Load();

    // The text box's string with its line breaks as CR LF, the way the service has always
    // received them; the editor itself keeps bare line feeds.
    QString connectionString() const;

    void Command2_Click(); // "Test"
    void Command1_Click(); // "Simpan"

    // Sends a connection string and the start-up mode (either may be empty) to the service and
    // shows its answer. No value when no answer came (the user is told why), else whether the
    // service took them.
    static std::optional<bool> SendEdit(ServiceClient& service, Dialogs& dialogs,
                                        const QString& connStr, const QString& appHide);

    QPlainTextEdit* TxtConnStr = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;

    QCheckBox* ChkReadOnly = nullptr;
    QLabel* LblGuard = nullptr;
    QSpinBox* TxtTimeLimit = nullptr; // seconds
    QSpinBox* TxtRowLimit = nullptr;

signals:
    // The service took a new string; the window has closed.
    void saved();

private:
    ServiceClient& m_service;
    Dialogs& m_dialogs;
};
