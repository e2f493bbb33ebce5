#include "app/KestruneApp.h"
#include "app/MainFrm.h"
#include "cli/Shell.h"

#include <cstdio>

int main(int argc, char **argv)
{
    // A shell command needs no display.
    if (kestrune::IsShellInvocation(argc, argv))
        return kestrune::ShellMain(argc, argv);
    // Without a display Qt aborts with a misleading hint about reinstalling.
    if (!kestrune::HasGraphicalSession(argc, argv)) {
        std::fprintf(stderr, "%s\n", kestrune::NoDisplayNote);
        return 2;
    }
    kestrune::TKestruneApp app(argc, argv);
    return app.Run();
}
