#pragma once

#include <QApplication>

namespace kestrune {

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
