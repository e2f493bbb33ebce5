#pragma once

#include <QDialog>

#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kestrune {

struct TGeneralSettings;

// Names the communication log: its folder (empty: the current one), a file
// name that may hold the date and time (%Y %m %d %H %M %S), append or a new
// file at each start, and a size past which a new file begins. OK keeps the
// dialog open with a message while a field cannot be used.
class TLogFileDialog final : public QDialog
{
public:
    explicit TLogFileDialog(const TGeneralSettings &settings, QWidget *parent = nullptr);

    // Writes the fields into `settings` (after OK).
    void Store(TGeneralSettings &settings) const;

    QLineEdit *edtLogFolder = nullptr;
    QPushButton *btnLogFolder = nullptr;
    QLineEdit *edtLogName = nullptr;
    QCheckBox *chkLogAppend = nullptr;
    QLineEdit *edtLogRotateSize = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

private:
    // Why the fields cannot be used, or empty.
    [[nodiscard]] QString Problem() const;
};

} // namespace kestrune
