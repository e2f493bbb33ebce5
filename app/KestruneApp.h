#pragma once

#include <QApplication>
#include <QIcon>

namespace kestrune {

// Printed instead of starting when HasGraphicalSession() is false.
inline constexpr const char *NoDisplayNote =
    "kestrune: no graphical session (DISPLAY and WAYLAND_DISPLAY are not set); start it on an "
    "X11 or Wayland desktop, or with QT_QPA_PLATFORM=offscreen to run it headless for tests";

// True when Qt has a display to connect to: DISPLAY, WAYLAND_DISPLAY or
// QT_QPA_PLATFORM is set, or a "-platform" argument names one.
[[nodiscard]] bool HasGraphicalSession(int argc, char **argv);

// The program's icon, the SVG that is installed for the desktop.
[[nodiscard]] QIcon AppIcon();

// The application object: title "Kestrune", the standard error box for errors
// that escape a handler, and an orderly close on SIGTERM, SIGINT and SIGHUP.
class TKestruneApp : public QApplication
{
    Q_OBJECT

public:
    TKestruneApp(int &argc, char **argv);

    // Creates the main window and the hidden pin help window and runs the event loop.
    int Run();

    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace kestrune
