#include "app/KestruneApp.h"

#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "app/PinHelpFrm.h"

#include <QSocketNotifier>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace kestrune {

namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop picks the byte up.
void onTerminateSignal(int signo)
{
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] auto n = ::write(signalPipe[1], &byte, 1);
}

void installSignalHandlers()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction sa
    {
    };
    sa.sa_handler = onTerminateSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}

bool isSet(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
}

} // namespace

bool HasGraphicalSession(int argc, char **argv)
{
    if (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM"))
        return true;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return false;
}

QIcon AppIcon()
{
    return QIcon(QStringLiteral(":/icons/" KESTRUNE_APP_ID ".svg"));
}

TKestruneApp::TKestruneApp(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Kestrune"));
    setApplicationDisplayName(QStringLiteral("Kestrune"));
    // Wayland compositors take the icon and name from the desktop file of this id.
    setDesktopFileName(QStringLiteral(KESTRUNE_APP_ID));
    setWindowIcon(AppIcon());
}

bool TKestruneApp::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        dialogs::ShowException(QString::fromUtf8(e.what()));
    }
    return false;
}

int TKestruneApp::Run()
{
    installSignalHandlers();
    auto frmMain = std::make_unique<TfrmMain>();
    auto frmPinHelp = std::make_unique<TfrmPinHelp>(frmMain.get());
    frmPinHelp->hide();
    frmMain->SetPinHelpWindow(frmPinHelp.get());

    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (signalPipe[0] >= 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        connect(signalNotifier.get(), &QSocketNotifier::activated, frmMain.get(), [&frmMain] {
            char buf[16];
            while (::read(signalPipe[0], buf, sizeof buf) > 0) {
            }
            frmMain->close();
        });
    }

    frmMain->show();
    const int result = exec();
    signalNotifier.reset();
    frmPinHelp.reset();
    frmMain.reset(); // runs the exit steps, which save the settings
    return result;
}

} // namespace kestrune
