#include "app/KestruneApp.h"

#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "app/PinHelpFrm.h"
#include "app/TerminationSignals.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

namespace kestrune {

namespace {

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
    std::unique_ptr<TfrmMain> frmMain;
    // From before the window is built until after the exit steps, which may
    // show a box of their own: a signal ends any wait.
    const TTerminationSignals termination([&frmMain] {
        // Empty while the window is being destroyed by the exit steps.
        if (frmMain)
            frmMain->close();
    });
    frmMain = std::make_unique<TfrmMain>();
    auto frmPinHelp = std::make_unique<TfrmPinHelp>(frmMain.get());
    frmPinHelp->hide();
    frmMain->SetPinHelpWindow(frmPinHelp.get());

    // A signal during start-up (a box was open) ends the program at once.
    int result = 0;
    if (!dialogs::Exiting()) {
        frmMain->show();
        result = exec();
    }
    frmPinHelp.reset();
    frmMain.reset(); // runs the exit steps, which save the settings
    return result;
}

} // namespace kestrune
