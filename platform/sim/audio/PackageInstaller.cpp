#include "platform/sim/audio/PackageInstaller.h"

#include "platform/sim/audio/AudioServer.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace sim {
namespace {

namespace fs = std::filesystem;

struct Entry {
    std::string name;
    char type;
    unsigned mode;
    std::string data;
};

unsigned long long octal(const char* field, size_t length)
{
    unsigned long long value = 0;
    for (size_t i = 0; i < length && field[i] != '\0' && field[i] != ' '; ++i) {
        if (field[i] < '0' || field[i] > '7')
            return ~0ull;
        value = value * 8 + unsigned(field[i] - '0');
    }
    return value;
}

// Reads a tar archive (ustar or GNU) fully into memory; packages are small.
bool readArchive(const std::string& path, std::vector<Entry>& entries, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open the package";
        return false;
    }
    std::string pendingLongName;
    char header[512];
    while (in.read(header, sizeof header)) {
        if (std::all_of(header, header + 512, [](char c) { return c == '\0'; }))
            return true;
        const unsigned long long size = octal(header + 124, 12);
        if (size == ~0ull || size > (1ull << 30)) {
            error = "damaged package header";
            return false;
        }
        std::string data(size, '\0');
        if (size > 0 && !in.read(data.data(), std::streamsize(size))) {
            error = "truncated package";
            return false;
        }
        in.ignore(std::streamsize((512 - size % 512) % 512));
        const char type = header[156];
        if (type == 'L') {
            pendingLongName = std::string(data.c_str());
            continue;
        }
        std::string name(header, strnlen(header, 100));
        // Only POSIX ustar headers carry a name prefix; GNU headers use that space otherwise.
        if (std::memcmp(header + 257, "ustar\0", 6) == 0 && header[345] != '\0')
            name = std::string(header + 345, strnlen(header + 345, 155)) + "/" + name;
        if (!pendingLongName.empty()) {
            name = pendingLongName;
            pendingLongName.clear();
        }
        entries.push_back({name, type, unsigned(octal(header + 100, 8)), std::move(data)});
    }
    return true;
}

// Names must stay inside the package: no absolute paths, no "..".
bool safeName(const std::string& name)
{
    const fs::path path(name);
    if (name.empty() || path.is_absolute())
        return false;
    for (const auto& part : path)
        if (part == "..")
            return false;
    return true;
}

std::map<std::string, std::string> keyValues(const std::string& text)
{
    std::map<std::string, std::string> values;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (const size_t equals = line.find('='); equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    return values;
}

} // namespace

InstallResult installPackage(const std::string& packagePath, AudioServer& server, bool loadNow)
{
    InstallResult result;
    std::vector<Entry> entries;
    if (!readArchive(packagePath, entries, result.error))
        return result;
    const auto info =
        std::find_if(entries.begin(), entries.end(), [](const Entry& e) { return e.name == "PackageInfo"; });
    if (info == entries.end()) {
        result.error = "the package has no PackageInfo";
        return result;
    }
    const auto manifest = keyValues(info->data);
    const auto payload = manifest.find("payload");
    const auto identifier = manifest.find("identifier");
    const auto location = manifest.find("install-location");
    if (payload == manifest.end() || identifier == manifest.end() || location == manifest.end() ||
        location->second != "HAL" || !safeName(payload->second) ||
        payload->second.find('/') != std::string::npos) {
        result.error = "the package manifest is incomplete or unsupported";
        return result;
    }
    for (const Entry& entry : entries) {
        if (!safeName(entry.name)) {
            result.error = "the package holds an unsafe path: " + entry.name;
            return result;
        }
    }

    // Replace any earlier copy, as an upgrade does; a loaded copy is unloaded first so that the server
    // picks up the new one.
    const fs::path folder(server.plugInFolder());
    const fs::path bundle = folder / payload->second;
    std::error_code error;
    fs::create_directories(folder, error);
    if (server.isPlugInLoaded(identifier->second))
        server.unloadPlugIn(identifier->second);
    fs::remove_all(bundle, error);
    const std::string prefix = payload->second + "/";
    for (const Entry& entry : entries) {
        if (entry.name.rfind(prefix, 0) != 0 && entry.name != payload->second)
            continue;
        const fs::path target = folder / entry.name;
        if (entry.type == '5') {
            fs::create_directories(target, error);
        } else if (entry.type == '0' || entry.type == '\0') {
            fs::create_directories(target.parent_path(), error);
            // A fresh inode: a module that is still mapped keeps its old file.
            fs::remove(target, error);
            std::ofstream out(target, std::ios::binary | std::ios::trunc);
            out.write(entry.data.data(), std::streamsize(entry.data.size()));
            if (!out) {
                result.error = "cannot write " + target.string();
                return result;
            }
            out.close();
            fs::permissions(target, fs::perms(entry.mode & 0755), error);
        }
    }
    std::string loadError;
    if (loadNow && !server.loadPlugIn(bundle.string(), &loadError)) {
        result.error = "the audio server could not load the plug-in: " + loadError;
        return result;
    }
    result.installed = true;
    result.bundleID = identifier->second;
    return result;
}

} // namespace sim
