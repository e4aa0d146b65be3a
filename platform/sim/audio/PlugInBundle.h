#pragma once

// How an audio server reads a plug-in bundle, as Core Foundation's plug-in loading does: the XML property
// list Contents/Info.plist names the bundle and its executable in Contents/MacOS; its CFPlugInTypes maps a
// plug-in type UUID to the UUIDs of the factories that make that type, and CFPlugInFactories maps each
// factory UUID to the name of the function the executable exports.

#include <QVariant>
#include <string>

namespace sim {

struct PlugInBundle {
    std::string identifier;      // CFBundleIdentifier
    std::string executablePath;  // Contents/MacOS/<CFBundleExecutable>
    std::string factoryFunction; // what CFPlugInFactories names for the first factory of the type
};

// Reads an XML property list into nested QVariantMap, QVariantList, QString, bool and qlonglong values;
// an invalid value (with the reason in `error`) when the file is missing or is not a property list.
QVariant readPropertyList(const std::string& path, std::string* error = nullptr);

// Finds the factory of plug-ins of `typeUUID` (16 bytes) in the bundle; false with the reason in `error`
// when the bundle offers none.
bool readPlugInBundle(const std::string& bundlePath, const unsigned char (&typeUUID)[16],
                      PlugInBundle& bundle, std::string& error);

} // namespace sim
