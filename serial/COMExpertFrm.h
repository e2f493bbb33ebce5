#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrune {

// Edits the five serial time-outs of the main channel as text. The dialog
// neither checks nor converts the texts: its owner fills the edits and, after
// OK, reads them back.
class TfrmCOMExpert : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmCOMExpert(QWidget *parent = nullptr);

    QLineEdit *edtReadIntervalTimeout = nullptr;
    QLineEdit *edtReadTimeoutMultiplier = nullptr;
    QLineEdit *edtReadTimeoutConstant = nullptr;
    QLineEdit *edtWriteTimeoutMultiplier = nullptr;
    QLineEdit *edtWriteTimeoutConstant = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

public slots:
    void btnOKClick();
    void btnCancelClick();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QLineEdit *AddRow(int row, const QString &labelText, const char *editName);
};

} // namespace kestrune
