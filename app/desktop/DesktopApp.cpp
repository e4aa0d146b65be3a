#include "app/desktop/DesktopApp.h"

int runDesktop(int, char**)
{
    return 1;
}

int runHeadlessDemo(int, char**)
{
    return 1;
}
