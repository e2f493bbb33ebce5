#include "app/TransferPanel.h"

#include "engine/Engine.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

namespace kestrune {

namespace {

QString Bytes(std::uint64_t n)
{
    if (n < 10 * 1024)
        return QStringLiteral("%1 B").arg(n);
    return QStringLiteral("%1 KiB").arg(double(n) / 1024, 0, 'f', 1);
}

} // namespace

TTransferPanel::TTransferPanel(TEngine &engine, QWidget *parent)
    : QWidget(parent), FEngine(engine), FSend(new QPushButton(QStringLiteral("Send File..."))),
      FReceive(new QPushButton(QStringLiteral("Receive File..."))), FBar(new QProgressBar),
      FText(new QLabel), FCancel(new QPushButton(QStringLiteral("Cancel"))), FPoll(new QTimer(this))
{
    setObjectName(QStringLiteral("pnlTransfer"));
    FSend->setObjectName(QStringLiteral("btnSendFile"));
    FReceive->setObjectName(QStringLiteral("btnReceiveFile"));
    FBar->setObjectName(QStringLiteral("barTransfer"));
    FCancel->setObjectName(QStringLiteral("btnCancelTransfer"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    for (QWidget *w : {static_cast<QWidget *>(FBar), static_cast<QWidget *>(FText),
                       static_cast<QWidget *>(FCancel), static_cast<QWidget *>(FSend),
                       static_cast<QWidget *>(FReceive)})
        row->addWidget(w);
    FBar->hide();
    FText->hide();
    FCancel->hide();
    connect(FSend, &QPushButton::clicked, this, [this] { Begin(false); });
    connect(FReceive, &QPushButton::clicked, this, [this] { Begin(true); });
    connect(FCancel, &QPushButton::clicked, this, [this] { FEngine.CancelTransfer(); });
    // The buttons follow the channel's state without taking the window's events.
    FPoll->setInterval(200);
    connect(FPoll, &QTimer::timeout, this, [this] { UpdateButtons(); });
    FPoll->start();
    UpdateButtons();

    FEngine.OnTransferProgress = [this](const TTransferProgress &p) {
        FBar->setRange(0, p.Total && *p.Total > 0 ? 1000 : 0);
        if (p.Total && *p.Total > 0)
            FBar->setValue(int(double(p.Done) * 1000 / double(*p.Total)));
        QString text = QString::fromStdString(p.File) + QStringLiteral("  ") + Bytes(p.Done);
        if (p.Total)
            text += QStringLiteral(" of ") + Bytes(*p.Total);
        text += QStringLiteral(", %1/s").arg(Bytes(std::uint64_t(p.BytesPerSecond)));
        if (p.SecondsLeft)
            text += QStringLiteral(", %1 s left").arg(int(*p.SecondsLeft + 0.5));
        FText->setText(text);
    };
    FEngine.OnTransferEnded = [this](TTransferEnd end, const std::string &message) {
        FBar->hide();
        FCancel->hide();
        FText->setText(QString::fromStdString(message));
        UpdateButtons();
        if (end != TTransferEnd::Done)
            QMessageBox::warning(window(), QStringLiteral("File transfer"),
                                 QString::fromStdString(message));
    };
}

void TTransferPanel::UpdateButtons()
{
    const bool idle =
        FEngine.Session().MainCanSend() && !FEngine.ListRunning() && !FEngine.TransferRunning();
    FSend->setEnabled(idle);
    FReceive->setEnabled(idle);
}

bool TTransferPanel::AskRequest(QWidget *parent, bool receive, TTransferRequest &request)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dlgTransfer"));
    dialog.setWindowTitle(receive ? QStringLiteral("Receive File") : QStringLiteral("Send File"));
    auto *form = new QFormLayout(&dialog);
    auto *protocol = new QComboBox;
    protocol->setObjectName(QStringLiteral("cboProtocol"));
    const std::vector<TTransferProtocol> protocols =
        receive ? std::vector{TTransferProtocol::Xmodem, TTransferProtocol::Xmodem1K,
                              TTransferProtocol::Ymodem}
                : std::vector{TTransferProtocol::Raw, TTransferProtocol::Xmodem,
                              TTransferProtocol::Xmodem1K, TTransferProtocol::Ymodem};
    for (const TTransferProtocol p : protocols)
        protocol->addItem(QString::fromLatin1(ProtocolWord(p)), int(p));
    auto *path = new QLineEdit;
    path->setObjectName(QStringLiteral("edtTransferPath"));
    auto *browse = new QPushButton(QStringLiteral("Browse..."));
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(path, 1);
    pathRow->addWidget(browse);
    auto *rate = new QSpinBox;
    rate->setObjectName(QStringLiteral("edtTransferRate"));
    rate->setRange(0, 100'000'000);
    rate->setSpecialValueText(QStringLiteral("as fast as the line"));
    rate->setSuffix(QStringLiteral(" B/s"));
    form->addRow(QStringLiteral("Protocol:"), protocol);
    form->addRow(receive ? QStringLiteral("Into:") : QStringLiteral("Files:"), pathRow);
    if (!receive)
        form->addRow(QStringLiteral("Raw rate:"), rate);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&] {
        const auto chosen = static_cast<TTransferProtocol>(protocol->currentData().toInt());
        QStringList picked;
        if (!receive)
            picked = QFileDialog::getOpenFileNames(&dialog, QStringLiteral("Files to send"));
        else if (chosen == TTransferProtocol::Ymodem)
            picked << QFileDialog::getExistingDirectory(&dialog, QStringLiteral("Receive into"));
        else
            picked << QFileDialog::getSaveFileName(&dialog, QStringLiteral("Receive as"));
        picked.removeAll(QString());
        if (!picked.isEmpty())
            path->setText(picked.join(QLatin1Char(';')));
    });
    if (dialog.exec() != QDialog::Accepted)
        return false;
    request = TTransferRequest{};
    request.Receive = receive;
    request.Protocol = static_cast<TTransferProtocol>(protocol->currentData().toInt());
    const QStringList paths = path->text().split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (receive)
        request.Path = path->text().toStdString();
    for (const QString &p : paths)
        request.Files.push_back(p.toStdString());
    request.Pacing.BytesPerSecond = std::uint32_t(rate->value());
    return true;
}

void TTransferPanel::Begin(bool receive)
{
    TTransferRequest request;
    if (!AskRequest(window(), receive, request))
        return;
    FBar->setRange(0, 0);
    FBar->show();
    FText->show();
    FCancel->show();
    if (const auto error = FEngine.StartTransfer(request)) {
        FBar->hide();
        FCancel->hide();
        FText->setText(QString::fromStdString(*error));
        QMessageBox::warning(window(), QStringLiteral("File transfer"),
                             QString::fromStdString(*error));
    }
    UpdateButtons();
}

} // namespace kestrune
