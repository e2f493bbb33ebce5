#pragma once

#include <QDialog>

#include <array>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrune {

// Edits the five serial time-outs of the main channel as text. The dialog
// neither checks nor converts the texts while open: its owner fills the edits
// and, after OK, reads them back with ReadTimeouts.
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
    // Beside the time-outs: how the port is handled, in the same record.
    QGroupBox *grbPort = nullptr;
    QComboBox *cboFlowControl = nullptr; // FlowControlTexts, by position
    QCheckBox *chkReopenOnReturn = nullptr;

    // A time-out as the edits show it: 0 to 4294967295 in the usual integer
    // notation. A negative 32-bit number is taken as the same bits (-1 is
    // 4294967295), as the settings file stores them. Anything else raises
    // EConvertError "'<text>' is not a valid integer value".
    [[nodiscard]] static std::uint32_t TimeoutFromText(const QString &text);

    // Converts the five edits, in tab order, into the five targets. The first
    // text that does not convert raises; the targets before it keep their new
    // values, the rest are left alone.
    void ReadTimeouts(const std::array<std::uint32_t *, 5> &targets) const;

public slots:
    void btnOKClick();
    void btnCancelClick();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QLineEdit *AddRow(int row, const QString &labelText, const char *editName);
};

} // namespace kestrune
