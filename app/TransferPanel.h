#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace kestrune {

class TEngine;
struct TTransferRequest;

// "Send File..." and "Receive File..." beside the command list button, and
// while a transfer runs a progress bar with bytes, rate, time left and Cancel.
// It owns the engine's transfer events.
class TTransferPanel final : public QWidget
{
public:
    TTransferPanel(TEngine &engine, QWidget *parent);

    // Asks the user for the protocol and the files; false when cancelled.
    static bool AskRequest(QWidget *parent, bool receive, TTransferRequest &request);

private:
    void Begin(bool receive);
    void UpdateButtons();

    TEngine &FEngine;
    QPushButton *FSend;
    QPushButton *FReceive;
    QProgressBar *FBar;
    QLabel *FText;
    QPushButton *FCancel;
    QTimer *FPoll;
};

} // namespace kestrune
