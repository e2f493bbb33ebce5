// The main window's widgets: names, captions, defaults, hints and sizes. The
// designed pixel sizes are lower bounds: every part grows to what its texts
// need in the desktop's font.
#include "app/MainFrm.h"
#include "app/NetworkOptionsPane.h"
#include "app/PortComboBox.h"
#include "app/StatusLamp.h"
#include "app/TransferPanel.h"
#include "app/WidgetKit.h"
#include "app/view/HistoryView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QVBoxLayout>

#include <algorithm>

namespace kestrune {

void TfrmMain::BuildWidgets()
{
    setWindowTitle(QStringLiteral("Kestrune"));
    resize(737, 618);
    QFont general = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    general.setPointSize(9);
    setFont(general);

    auto *central = new QWidget;
    auto *row = new QHBoxLayout(central);
    row->setContentsMargins(4, 4, 4, 4);
    row->addWidget(BuildSettingsColumn());
    row->addWidget(BuildDataArea(), 1);
    setCentralWidget(central);
    BuildStatusBar();

    // Only now do the widgets carry the window's font, which their size hints
    // depend on.
    pnlCommand->setMinimumHeight(std::max(121, pnlCommand->sizeHint().height()));
    BuildTextParts();
}

QWidget *TfrmMain::BuildSettingsColumn()
{
    pnlSetting = named(new QWidget, "pnlSetting");
    // As wide as its widest caption or list entry needs, at least 177 pixels; it
    // does not grow with the window.
    pnlSetting->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto *column = new QVBoxLayout(pnlSetting);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    column->addStrut(177);

    tabSetting = named(new QTabBar, "tabSetting");
    tabSetting->addTab(QStringLiteral("Communicate"));
    tabSetting->addTab(QStringLiteral("Transfer"));
    tabSetting->setExpanding(true);
    tabSetting->setUsesScrollButtons(false);
    tabSetting->setDocumentMode(true);
    column->addWidget(tabSetting);

    pnlCommMethod = named(new QWidget, "pnlCommMethod");
    auto *methods = new QGridLayout(pnlCommMethod);
    methods->setContentsMargins(2, 2, 2, 2);
    rbSerial = named(new QRadioButton(QStringLiteral("Serial")), "rbSerial");
    rbUDP = named(new QRadioButton(QStringLiteral("UDP")), "rbUDP");
    rbTCPServer = named(new QRadioButton(QStringLiteral("TCP Server")), "rbTCPServer");
    rbTCPClient = named(new QRadioButton(QStringLiteral("TCP Client")), "rbTCPClient");
    rbSerial->setChecked(true);
    methods->addWidget(rbSerial, 0, 0);
    methods->addWidget(rbUDP, 0, 1);
    methods->addWidget(rbTCPServer, 1, 0);
    methods->addWidget(rbTCPClient, 1, 1);
    column->addWidget(pnlCommMethod);

    grbCommParam = named(new QGroupBox(QStringLiteral("Comm Parameters")), "grbCommParam");
    auto *paramLayout = new QVBoxLayout(grbCommParam);
    paramLayout->setContentsMargins(4, 4, 4, 4);
    pnlCOMSetting = named(new QWidget, "pnlCOMSetting");
    auto *com = new QFormLayout(pnlCOMSetting);
    com->setContentsMargins(0, 0, 0, 0);
    cboCOMPort = named(new TPortComboBox, "cboCOMPort");
    cboCOMPort->setEditable(true);
    cboBaudrate = named(new TChoiceBox, "cboBaudrate");
    cboBaudrate->setEditable(true);
    cboByteSize = dropDown("cboByteSize");
    cboParityBit = dropDown("cboParityBit");
    cboStopBits = dropDown("cboStopBits");
    com->addRow(QStringLiteral("Port:"), cboCOMPort);
    com->addRow(QStringLiteral("Baudrate:"), cboBaudrate);
    com->addRow(QStringLiteral("Data Bits:"), cboByteSize);
    com->addRow(QStringLiteral("Check Bit:"), cboParityBit);
    com->addRow(QStringLiteral("Stop Bits:"), cboStopBits);
    auto *comButtons = new QHBoxLayout;
    btnPinHelp = named(new QPushButton(QStringLiteral("Pin Help")), "btnPinHelp");
    btnCOMExpert = named(new QPushButton(QStringLiteral("Advanced...")), "btnCOMExpert");
    comButtons->addWidget(btnPinHelp);
    comButtons->addWidget(btnCOMExpert);
    com->addRow(comButtons);
    paramLayout->addWidget(pnlCOMSetting);
    column->addWidget(grbCommParam);

    // Designed outside the group box; start-up moves it in.
    pnlNetSetting = named(new QWidget(pnlSetting), "pnlNetSetting");
    auto *net = new QFormLayout(pnlNetSetting);
    net->setContentsMargins(0, 0, 0, 0);
    edtLocalPort = named(new QSpinBox, "edtLocalPort");
    edtLocalPort->setRange(1, 65535);
    edtLocalPort->setValue(13001);
    edtIPAddr = named(new QLineEdit(QStringLiteral("127.0.0.1")), "edtIPAddr");
    edtRemotePort = named(new QSpinBox, "edtRemotePort");
    edtRemotePort->setRange(1, 65535);
    edtRemotePort->setValue(13002);
    // An edit's preferred width is a guess of some 17 characters; the captions
    // and lists decide the column's width, the edits take what is left.
    edtIPAddr->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    net->addRow(QStringLiteral("Local Port:"), edtLocalPort);
    net->addRow(QStringLiteral("Remote Addr:"), edtIPAddr);
    net->addRow(QStringLiteral("Remote Port:"), edtRemotePort);
    pnlNetOptions = new TNetworkOptionsPane;
    net->addRow(pnlNetOptions);

    pnlSet = named(new QWidget, "pnlSet");
    auto *set = new QFormLayout(pnlSet);
    set->setContentsMargins(2, 2, 2, 2);
    edtBufSize = named(new QLineEdit(QStringLiteral("64k")), "edtBufSize");
    edtBufSize->setMaxLength(9);
    edtBufSize->setToolTip(QStringLiteral("可以使用单位k或M"));
    edtBufSize->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    cboDataMode = dropDown("cboDataMode");
    cboEscChar = dropDown("cboEscChar");
    cboCheck = dropDown("cboCheck");
    // The long label gets a row of its own so the lists below keep their width.
    auto *sizeRow = new QHBoxLayout;
    sizeRow->addWidget(new QLabel(QStringLiteral("Maximum History :")));
    sizeRow->addWidget(edtBufSize, 1);
    set->addRow(sizeRow);
    set->addRow(QStringLiteral("Data Mode:"), cboDataMode);
    set->addRow(QStringLiteral("Esc Char:"), cboEscChar);
    set->addRow(QStringLiteral("Check:"), cboCheck);
    auto *startRow = new QHBoxLayout;
    shpCommStatus = named(new TStatusLamp, "shpCommStatus");
    shpCommStatus->setFixedSize(25, 25);
    btnStart = named(new QPushButton(QStringLiteral("Start")), "btnStart");
    startRow->addWidget(shpCommStatus);
    startRow->addWidget(btnStart, 1);
    set->addRow(startRow);
    column->addWidget(pnlSet);

    grbTransmit = named(new QGroupBox(QStringLiteral("Data Transfer")), "grbTransmit");
    auto *transmit = new QVBoxLayout(grbTransmit);
    transmit->setContentsMargins(4, 4, 4, 4);
    lstTransmit = named(new QListWidget, "lstTransmit");
    lstTransmit->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstTransmit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    lstTransmit->setContextMenuPolicy(Qt::CustomContextMenu);
    // The list scrolls sideways; its long entries must not widen the column.
    lstTransmit->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    transmit->addWidget(lstTransmit, 1);
    auto *relayButtons = new QHBoxLayout;
    btnTransAdd = named(new QPushButton(QStringLiteral("Add")), "btnTransAdd");
    btnTransDel = named(new QPushButton(QStringLiteral("Delete")), "btnTransDel");
    relayButtons->addWidget(btnTransAdd);
    relayButtons->addWidget(btnTransDel);
    transmit->addLayout(relayButtons);
    column->addWidget(grbTransmit, 1);

    pmTransmit = named(new QMenu(this), "pmTransmit");
    named(pmTransmit->addAction(QStringLiteral("全部选择(&C)")), "pmiTransCheck");
    named(pmTransmit->addAction(QStringLiteral("全部取消(&U)")), "pmiTransUncheck");
    named(pmTransmit->addAction(QStringLiteral("反向选择(&I)")), "pmiTransInvert");
    return pnlSetting;
}

QWidget *TfrmMain::BuildDataArea()
{
    auto *area = new QWidget;
    auto *layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);

    auto makeViewPane = [](const char *paneName, const char *labelName, const QString &caption,
                           const char *pauseName, const char *viewName, QCheckBox *&pause,
                           THistoryView *&view) {
        auto *pane = named(new QWidget, paneName);
        auto *v = new QVBoxLayout(pane);
        v->setContentsMargins(0, 0, 0, 0);
        auto *head = new QHBoxLayout;
        head->addWidget(named(new QLabel(caption), labelName));
        head->addStretch(1);
        pause = named(new QCheckBox(QStringLiteral("Pause")), pauseName);
        head->addWidget(pause);
        v->addLayout(head);
        view = named(new THistoryView, viewName);
        view->setFont(fixedFont(10));
        v->addWidget(view, 1);
        return pane;
    };

    RzSplitter1 = named(new QSplitter(Qt::Vertical), "RzSplitter1");
    pnlRecv = makeViewPane("pnlRecv", "lblRecvText", QStringLiteral("Receive:"), "chkRecvPause",
                           "mmoRecv", chkRecvPause, mmoRecv);
    pnlSend = makeViewPane("pnlSend", "lblSendText", QStringLiteral("Send:"), "chkSendPause",
                           "mmoSend", chkSendPause, mmoSend);
    RzSplitter1->addWidget(pnlRecv);
    RzSplitter1->addWidget(pnlSend);
    RzSplitter1->setStretchFactor(0, 1);
    RzSplitter1->setStretchFactor(1, 0);
    RzSplitter1->setSizes({253, 160});
    layout->addWidget(RzSplitter1, 1);

    pnlCommand = named(new QWidget, "pnlCommand");
    pnlCommand->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto *grid = new QGridLayout(pnlCommand);
    grid->setContentsMargins(0, 2, 0, 0);
    grid->setVerticalSpacing(3);
    edtLeader = named(new QLineEdit, "edtLeader");
    edtLeader->setFont(fixedFont(9));
    edtTail = named(new QLineEdit, "edtTail");
    edtTail->setFont(fixedFont(9));
    chkLeaderTail = named(new QCheckBox(QStringLiteral("Include Lead and Tail")), "chkLeaderTail");
    cboSend = named(new QComboBox, "cboSend");
    cboSend->setEditable(true);
    cboSend->setInsertPolicy(QComboBox::NoInsert);
    cboSend->setFont(fixedFont(9));
    cboSend->setEditText(QStringLiteral("Marlowen"));
    btnSend = named(new QPushButton(QStringLiteral("Send")), "btnSend");
    btnSend->setEnabled(false);
    chkAutoSend = named(new QCheckBox(QStringLiteral("Auto Send")), "chkAutoSend");
    edtSendPeriod = named(new QSpinBox, "edtSendPeriod");
    edtSendPeriod->setRange(INT32_MIN, INT32_MAX);
    edtSendPeriod->setGroupSeparatorShown(true);
    edtSendPeriod->setValue(1000);
    chkLogToFile = named(new QCheckBox(QStringLiteral("Log to file")), "chkLogToFile");
    chkCapture = named(new QCheckBox(QStringLiteral("Capture to file...")), "chkCapture");
    btnClearSend = named(new QPushButton(QStringLiteral("Clear Send")), "btnClearSend");
    btnClearRecv = named(new QPushButton(QStringLiteral("Clear Recv")), "btnClearRecv");
    btnClearAll = named(new QPushButton(QStringLiteral("Clear All")), "btnClearAll");
    btnCmdSequ = named(new QPushButton(QStringLiteral("Exec Cmd List")), "btnCmdSequ");
    btnCmdSequ->setEnabled(false);
    Label1 = named(new QLabel(QStringLiteral("Hex: 01 A0 FF   Mixed: text{0D}{0A}   Enter sends.")),
                   "Label1");

    grid->addWidget(new QLabel(QStringLiteral("Lead:")), 0, 0);
    grid->addWidget(edtLeader, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Tail:")), 0, 2);
    grid->addWidget(edtTail, 0, 3);
    grid->addWidget(chkLeaderTail, 0, 4, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Data:")), 1, 0);
    grid->addWidget(cboSend, 1, 1, 1, 4);
    grid->addWidget(btnSend, 1, 5);
    auto *autoRow = new QHBoxLayout;
    autoRow->addWidget(chkAutoSend);
    autoRow->addWidget(new QLabel(QStringLiteral("Periods(ms):")));
    autoRow->addWidget(edtSendPeriod);
    autoRow->addWidget(chkLogToFile);
    autoRow->addWidget(chkCapture);
    autoRow->addStretch(1);
    grid->addLayout(autoRow, 2, 0, 1, 6);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnClearSend);
    buttons->addWidget(btnClearRecv);
    buttons->addWidget(btnClearAll);
    buttons->addWidget(BuildAnswerRules());
    buttons->addStretch(1);
    buttons->addWidget(btnCmdSequ);
    // File transfers: their own small part, which owns the engine's transfer events.
    buttons->addWidget(new TTransferPanel(FEngine, pnlCommand));
    grid->addLayout(buttons, 3, 0, 1, 6);
    grid->addWidget(Label1, 4, 0, 1, 6);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    layout->addWidget(pnlCommand);
    return area;
}

void TfrmMain::BuildStatusBar()
{
    auto *bar = statusBar();
    bar->setObjectName(QStringLiteral("stbMain"));
    bar->setSizeGripEnabled(true);
    // The window keeps the width the user gave it: panes cut their texts
    // (whole in the tool tip) rather than widen it.
    bar->setSizePolicy(QSizePolicy::Ignored, bar->sizePolicy().verticalPolicy());
    stpMain = paneLabel("stpMain", 0);
    stpStatus = paneLabel("stpStatus", 100);
    stpRecv = paneLabel("stpRecv", 110);
    stpRecv->setText(QStringLiteral("Recv: 0B."));
    stpRecv->setToolTip(QStringLiteral("接收计数"));
    stpSend = paneLabel("stpSend", 150);
    stpSend->setText(QStringLiteral("Send: 0B, 0P."));
    stpSend->setToolTip(QStringLiteral("发送计数"));
    // Start-up widens the address pane to its caption itself.
    stpIPAddr = paneLabel("stpIPAddr", 0);
    stpIPAddr->setFixedWidth(129);
    bar->addWidget(stpMain, 1);
    bar->addWidget(stpStatus);
    bar->addWidget(stpRecv);
    AddJudgedPanes();
    bar->addWidget(stpSend);
    bar->addWidget(stpIPAddr);
}

} // namespace kestrune
