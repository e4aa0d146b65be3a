#pragma once

// The simulated system installer for driver packages: opening "VelkaroAudio-0.2.0.pkg" copies the plug-in
// bundle it carries into the audio server's plug-in folder and has the server load it, as the real
// installer's post-install step restarts the audio server.

#include <string>

namespace sim {

class AudioServer;

struct InstallResult {
    bool installed = false;
    std::string bundleID;
    std::string error; // why the package was refused, for logs and tests
};

// With `loadNow` false the bundle is only copied: the server finds it at its next start (loadPlugIns), as
// when the installer asks for a restart.
InstallResult installPackage(const std::string& packagePath, AudioServer& server, bool loadNow = true);

} // namespace sim
