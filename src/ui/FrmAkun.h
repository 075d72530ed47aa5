// The account window: registers the company with the service or updates its name and WhatsApp
// number. One window serves both; the caption of its button says which request it sends.
#pragma once

#include <QDialog>
#include <QString>

class Dialogs;
class QLineEdit;
class QPushButton;
class ServiceClient;

class FrmAkun : public QDialog
{
    Q_OBJECT

public:
    // The owner centres the window, lends it its icon and reloads on `saved`.
    FrmAkun(ServiceClient& service, Dialogs& dialogs, QWidget* owner);

    // Register mode, starting with the given company name; shows the window modally.
    void Register(const QString& companyName);
    // Update mode with the profile's values; shows the window modally unless it is visible.
    void UpdtAccount();

    void Command1_Click();

    QLineEdit* TxtCompany = nullptr;
    QLineEdit* TxtWA = nullptr;
    QPushButton* Command1 = nullptr;
    // Never shown: it carries the key an update sends.
    QLineEdit* TxtAPIKey = nullptr;

signals:
    // A request was answered: the account on the service may have changed.
    void saved();

private:
    ServiceClient& m_service;
    Dialogs& m_dialogs;
};
