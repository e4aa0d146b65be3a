#include "app/desktop/DesktopApp.h"

#include <cstring>

int main(int argc, char** argv)
{
    bool demo = false;
    [[maybe_unused]] bool simulatedMac = false;
    const char* screenshots = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--demo") == 0)
            demo = true;
        else if (std::strcmp(argv[i], "--simulated-mac") == 0)
            simulatedMac = true;
        else if (std::strcmp(argv[i], "--screenshots") == 0 && i + 1 < argc)
            screenshots = argv[++i];
    }
    if (screenshots)
        return runScreenshots(argc, argv, QString::fromLocal8Bit(screenshots));
    if (demo)
        return runHeadlessDemo(argc, argv);
#if defined(__APPLE__)
    // On a Mac the real services, unless the simulated Mac is asked for (it is the only one elsewhere).
    if (!simulatedMac)
        return runMacDesktop(argc, argv);
#endif
    return runDesktop(argc, argv);
}
