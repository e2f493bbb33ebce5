#include "app/KestruneApp.h"
#include "app/MainFrm.h"

int main(int argc, char **argv)
{
    kestrune::TKestruneApp app(argc, argv);
    return app.Run();
}
