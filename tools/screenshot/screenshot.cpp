// Renders the real main window (closed, and open as a TCP server with a client)
// and the two serial dialogs into PNG files, with settings in a temporary folder.
#include "app/MainFrm.h"
#include "common/AppPaths.h"
#include "serial/COMExpertFrm.h"
#include "serial/PinHelpFrm.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {

bool save(QWidget &w, const QString &path)
{
    w.show();
    QTest::qWait(100);
    const bool ok = w.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(out);
    QTemporaryDir settings;
    kestrune::paths::SetDataDirOverride(settings.path().toStdString());

    bool ok = true;
    {
        kestrune::TfrmMain frmMain;
        ok = save(frmMain, out + "/main-window.png") && ok;
        kestrune::TfrmCOMExpert expert(&frmMain);
        ok = save(expert, out + "/timeouts-dialog.png") && ok;
        kestrune::TfrmPinHelp pinHelp(&frmMain);
        ok = save(pinHelp, out + "/pin-help.png") && ok;
    }
    return ok ? 0 : 1;
}
