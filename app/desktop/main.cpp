#include "app/desktop/DesktopApp.h"

#include <cstring>

int main(int argc, char** argv)
{
    bool demo = false;
    const char* screenshots = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--demo") == 0)
            demo = true;
        else if (std::strcmp(argv[i], "--screenshots") == 0 && i + 1 < argc)
            screenshots = argv[++i];
    }
    if (screenshots)
        return runScreenshots(argc, argv, QString::fromLocal8Bit(screenshots));
    if (demo)
        return runHeadlessDemo(argc, argv);
    return runDesktop(argc, argv);
}
