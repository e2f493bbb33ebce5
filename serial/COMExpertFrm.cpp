#include "serial/COMExpertFrm.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kestrune {

namespace {

constexpr int LabelX = 8;
constexpr int LabelWidth = 169;
constexpr int EditX = 184;
constexpr int EditWidth = 73;
constexpr int RowHeight = 21;
constexpr int FirstRowY = 16;
constexpr int RowPitch = 24;
constexpr int ButtonY = 144;
constexpr QSize ButtonSize(75, 25);
// The client area left inside a 276 x 211 window with a fixed dialog frame.
constexpr QSize ClientSize(268, 180);

} // namespace

TfrmCOMExpert::TfrmCOMExpert(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName("frmCOMExpert");
    setWindowTitle("Advanced");
    QFont general = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    general.setPointSize(8);
    setFont(general);
    setFixedSize(ClientSize);

    edtReadIntervalTimeout = AddRow(0, "Read Interval Timeout(ms):", "edtReadIntervalTimeout");
    edtReadTimeoutMultiplier =
        AddRow(1, "Read Timeout Multiplier(ms):", "edtReadTimeoutMultiplier");
    edtReadTimeoutConstant = AddRow(2, "Read Timeout Constant(ms):", "edtReadTimeoutConstant");
    edtWriteTimeoutMultiplier =
        AddRow(3, "Write Timeout Multiplier(ms):", "edtWriteTimeoutMultiplier");
    edtWriteTimeoutConstant = AddRow(4, "Write Timeout Constant(ms):", "edtWriteTimeoutConstant");

    btnOK = new QPushButton("&OK", this);
    btnOK->setObjectName("btnOK");
    btnOK->setGeometry(QRect(QPoint(96, ButtonY), ButtonSize));
    btnCancel = new QPushButton("&Cancel", this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setGeometry(QRect(QPoint(184, ButtonY), ButtonSize));
    // A dialog's buttons are default candidates unless told otherwise; here
    // Enter must not press either of them.
    for (QPushButton *button : {btnOK, btnCancel}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(btnOK, &QPushButton::clicked, this, &TfrmCOMExpert::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmCOMExpert::btnCancelClick);

    QWidget *order[] = {edtReadIntervalTimeout,
                        edtReadTimeoutMultiplier,
                        edtReadTimeoutConstant,
                        edtWriteTimeoutMultiplier,
                        edtWriteTimeoutConstant,
                        btnOK,
                        btnCancel};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    edtReadIntervalTimeout->setFocus();
}

QLineEdit *TfrmCOMExpert::AddRow(int row, const QString &labelText, const char *editName)
{
    const int y = FirstRowY + row * RowPitch;
    auto *edit = new QLineEdit(this);
    edit->setObjectName(editName);
    edit->setGeometry(EditX, y, EditWidth, RowHeight);
    auto *label = new QLabel(labelText, this);
    label->setObjectName(QString("lbl") + (editName + 3));
    label->setGeometry(LabelX, y, LabelWidth, RowHeight);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setBuddy(edit);
    return edit;
}

void TfrmCOMExpert::btnOKClick()
{
    accept();
}

void TfrmCOMExpert::btnCancelClick()
{
    reject();
}

void TfrmCOMExpert::keyPressEvent(QKeyEvent *event)
{
    // Neither key closes this dialog: only its buttons and the close box do.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

} // namespace kestrune
