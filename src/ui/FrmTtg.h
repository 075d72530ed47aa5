// The About window: logo, product name, tag line, the build's version and where its log is.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;

class FrmTtg : public QDialog
{
    Q_OBJECT

public:
    explicit FrmTtg(QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label5 = nullptr;
    QPlainTextEdit* Text1 = nullptr;
};
