#include "app/COMExpertFrm.h"

#include "common/IntText.h"
#include "serial/FlowControl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <algorithm>
#include <string_view>

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
// Gaps of the designed layout, kept when a larger font moves things apart.
constexpr int LabelGap = EditX - LabelX - LabelWidth;
constexpr int ButtonGap = EditX - 96 - ButtonSize.width();
constexpr int RightMargin = ClientSize.width() - EditX - EditWidth;
constexpr int BottomMargin = ClientSize.height() - ButtonY - ButtonSize.height();
constexpr int ButtonsBelowRows = ButtonY - (FirstRowY + 4 * RowPitch + RowHeight);

// The designed geometry is the least the dialog gets: a larger font widens the
// label column, the edits with it and the buttons, and spaces the rows further
// apart, so that every text is shown whole.
void FitToFont(QDialog &dlg, const QList<QLineEdit *> &edits, QPushButton *ok, QPushButton *cancel)
{
    QList<QLabel *> labels;
    for (QLineEdit *edit : edits) {
        for (QLabel *label : dlg.findChildren<QLabel *>()) {
            if (label->buddy() == edit)
                labels.append(label);
        }
    }
    const QFontMetrics fm = dlg.fontMetrics();
    QStyle *style = dlg.style();
    int labelWidth = LabelWidth;
    for (const QLabel *label : labels)
        labelWidth = std::max(labelWidth, fm.horizontalAdvance(label->text()));
    const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth);
    // The edits keep their designed proportion to the labels.
    const int editWidth = EditWidth * labelWidth / LabelWidth;
    const int rowHeight = std::max(
        {RowHeight, fm.height() + 2 * (frame + 1), edits.front()->minimumSizeHint().height()});
    const int rowPitch = std::max(RowPitch, rowHeight + RowPitch - RowHeight);
    QSize button = ButtonSize;
    const int buttonMargin = style->pixelMetric(QStyle::PM_ButtonMargin) + 2 * frame;
    for (const QPushButton *b : {ok, cancel}) {
        const QString shown = QString(b->text()).remove(QLatin1Char('&'));
        button = button.expandedTo(
            {fm.horizontalAdvance(shown) + 2 * buttonMargin, fm.height() + buttonMargin});
    }

    const int editX = LabelX + labelWidth + LabelGap;
    for (int row = 0; row < edits.size(); ++row) {
        const int y = FirstRowY + row * rowPitch;
        labels[row]->setGeometry(LabelX, y, labelWidth, rowHeight);
        edits[row]->setGeometry(editX, y, editWidth, rowHeight);
    }
    const int buttonY = std::max(ButtonY, FirstRowY + 4 * rowPitch + rowHeight + ButtonsBelowRows);
    cancel->setGeometry(QRect(QPoint(editX, buttonY), button));
    ok->setGeometry(QRect(QPoint(editX - ButtonGap - button.width(), buttonY), button));
    dlg.setFixedSize(ClientSize.expandedTo(
        {editX + editWidth + RightMargin, buttonY + button.height() + BottomMargin}));
}

// The port group sits right of the time-outs, from the top to above the buttons.
constexpr int PortGroupTop = 8;
constexpr int PortGroupHeight = 129;

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

    FitToFont(*this,
              {edtReadIntervalTimeout, edtReadTimeoutMultiplier, edtReadTimeoutConstant,
               edtWriteTimeoutMultiplier, edtWriteTimeoutConstant},
              btnOK, btnCancel);

    // The port's own settings, right of the time-outs as fitted to the font.
    const int timeoutsWidth = width();
    const int clientHeight = height();
    grbPort = new QGroupBox("Port", this);
    grbPort->setObjectName("grbPort");
    const QFontMetrics fm = fontMetrics();
    auto *flowLabel = new QLabel("Flow Control:", grbPort);
    flowLabel->setObjectName("lblFlowControl");
    const int flowLabelWidth = std::max(80, fm.horizontalAdvance(flowLabel->text()) + 4);
    const int rowHeight = edtReadIntervalTimeout->height();
    flowLabel->setGeometry(8, 24, flowLabelWidth, rowHeight);
    cboFlowControl = new QComboBox(grbPort);
    cboFlowControl->setObjectName("cboFlowControl");
    for (const char *text : FlowControlTexts)
        cboFlowControl->addItem(text);
    // Wide enough for its longest entry in the font in use.
    int longest = 0;
    for (int i = 0; i < cboFlowControl->count(); ++i)
        longest = std::max(longest, fm.horizontalAdvance(cboFlowControl->itemText(i)));
    QStyleOptionComboBox option;
    option.initFrom(cboFlowControl);
    const int comboWidth =
        std::max(128, style()
                          ->sizeFromContents(QStyle::CT_ComboBox, &option,
                                             QSize(longest + 4, fm.height()), cboFlowControl)
                          .width());
    cboFlowControl->setGeometry(12 + flowLabelWidth, 24, comboWidth,
                                std::max(rowHeight, cboFlowControl->sizeHint().height()));
    flowLabel->setBuddy(cboFlowControl);
    chkReopenOnReturn = new QCheckBox("Reopen the port when the device returns", grbPort);
    chkReopenOnReturn->setObjectName("chkReopenOnReturn");
    // As wide as its caption needs in the font in use.
    const int checkWidth =
        std::max({212, chkReopenOnReturn->sizeHint().width(), 4 + flowLabelWidth + comboWidth});
    const int checkY = 32 + std::max(rowHeight, cboFlowControl->height());
    chkReopenOnReturn->setGeometry(8, checkY, checkWidth,
                                   std::max(rowHeight, chkReopenOnReturn->sizeHint().height()));
    grbPort->setGeometry(timeoutsWidth, PortGroupTop, checkWidth + 16,
                         std::max(PortGroupHeight, checkY + chkReopenOnReturn->height() + 8));
    setFixedSize(timeoutsWidth + grbPort->width() + 8,
                 std::max(clientHeight, PortGroupTop + grbPort->height() + 8));
    chkReopenOnReturn->setToolTip(
        "On: a device that is unplugged leaves the other channels open, and its port is "
        "opened again with the same settings when it comes back.\nOff: it stops everything.");

    QWidget *order[] = {edtReadIntervalTimeout,
                        edtReadTimeoutMultiplier,
                        edtReadTimeoutConstant,
                        edtWriteTimeoutMultiplier,
                        edtWriteTimeoutConstant,
                        btnOK,
                        btnCancel,
                        cboFlowControl,
                        chkReopenOnReturn};
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

std::uint32_t TfrmCOMExpert::TimeoutFromText(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (const auto value = TryStrToInt(view))
        return static_cast<std::uint32_t>(*value);
    // Past the signed range the same notation holds, up to 32 bits unsigned.
    std::size_t i = std::min(view.find_first_not_of(" \t"), view.size());
    if (i < view.size() && view[i] == '+')
        ++i;
    unsigned base = 10;
    if (i < view.size() && (view[i] == '$' || view[i] == 'x' || view[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < view.size() && view[i] == '0' &&
               (view[i + 1] == 'x' || view[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    std::uint64_t value = 0;
    bool digits = false;
    for (; i < view.size(); ++i) {
        const char c = view[i];
        unsigned d = 16;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        if (d >= base || (value = value * base + d) > 0xFFFFFFFFu) {
            digits = false;
            break;
        }
        digits = true;
    }
    if (!digits)
        return static_cast<std::uint32_t>(StrToInt(view)); // raises the usual conversion error
    return static_cast<std::uint32_t>(value);
}

void TfrmCOMExpert::ReadTimeouts(const std::array<std::uint32_t *, 5> &targets) const
{
    const QLineEdit *edits[] = {edtReadIntervalTimeout, edtReadTimeoutMultiplier,
                                edtReadTimeoutConstant, edtWriteTimeoutMultiplier,
                                edtWriteTimeoutConstant};
    for (std::size_t i = 0; i < targets.size(); ++i)
        *targets[i] = TimeoutFromText(edits[i]->text());
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
