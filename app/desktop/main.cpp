#include "app/desktop/DesktopApp.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    bool demo = false;
    [[maybe_unused]] bool simulatedMac = false;
    const char* screenshots = nullptr;
    DesktopOptions options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--demo") == 0) {
            demo = true;
        } else if (std::strcmp(argv[i], "--host-sound") == 0) {
            options.hostSound = true;
        } else if (std::strcmp(argv[i], "--simulated-mac") == 0) {
            simulatedMac = true;
        } else if (std::strcmp(argv[i], "--screenshots") == 0 && i + 1 < argc) {
            screenshots = argv[++i];
        } else if (std::strcmp(argv[i], "--history-fixture") == 0) {
            // A count of calls, at most a million: a typing slip must not fill the disk.
            const std::string count = i + 1 < argc ? argv[++i] : "";
            if (count.empty() || count.size() > 7 ||
                count.find_first_not_of("0123456789") != std::string::npos || std::stoi(count) > 1'000'000) {
                std::fputs("--history-fixture attend un nombre d’appels entre 0 et 1 000 000, par exemple "
                           "--history-fixture 5000.\n",
                           stderr);
                return 2;
            }
            options.historyFixture = std::stoi(count);
        }
    }
    if (screenshots)
        return runScreenshots(argc, argv, QString::fromLocal8Bit(screenshots));
    if (demo)
        return runHeadlessDemo(argc, argv, options);
#if defined(__APPLE__)
    // On a Mac the real services, unless the simulated Mac is asked for (it is the only one elsewhere).
    if (!simulatedMac)
        return runMacDesktop(argc, argv);
#endif
    return runDesktop(argc, argv, options);
}
