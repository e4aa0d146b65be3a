#include "platform/sim/audio/PlugInBundle.h"

#include <QFile>
#include <QUuid>
#include <QXmlStreamReader>
#include <filesystem>

namespace sim {
namespace {

// Reads the value whose start element the reader is on, up to its end element.
QVariant readValue(QXmlStreamReader& xml)
{
    const QStringView name = xml.name();
    if (name == u"dict") {
        QVariantMap map;
        while (xml.readNextStartElement()) {
            if (xml.name() != u"key") {
                xml.raiseError(QStringLiteral("a dict holds a value without its key"));
                return {};
            }
            const QString key = xml.readElementText();
            if (!xml.readNextStartElement()) {
                xml.raiseError(QStringLiteral("the key %1 has no value").arg(key));
                return {};
            }
            map.insert(key, readValue(xml));
        }
        return map;
    }
    if (name == u"array") {
        QVariantList list;
        while (xml.readNextStartElement())
            list.append(readValue(xml));
        return list;
    }
    if (name == u"true" || name == u"false") {
        const bool value = name == u"true";
        xml.skipCurrentElement();
        return value;
    }
    if (name == u"integer")
        return xml.readElementText().trimmed().toLongLong();
    if (name == u"string" || name == u"real" || name == u"date" || name == u"data")
        return xml.readElementText();
    xml.raiseError(QStringLiteral("unknown property list element <%1>").arg(name));
    return {};
}

std::string text(const QVariantMap& map, const char* key)
{
    return map.value(QLatin1String(key)).toString().toStdString();
}

} // namespace

QVariant readPropertyList(const std::string& path, std::string* error)
{
    auto fail = [&](const QString& message) {
        if (error)
            *error = message.toStdString();
        return QVariant();
    };
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read ") + file.fileName());
    QXmlStreamReader xml(&file);
    if (!xml.readNextStartElement() || xml.name() != u"plist")
        return fail(QStringLiteral("not an XML property list"));
    if (!xml.readNextStartElement())
        return fail(QStringLiteral("an empty property list"));
    const QVariant value = readValue(xml);
    if (xml.hasError())
        return fail(QStringLiteral("damaged property list, line %1: %2")
                        .arg(xml.lineNumber())
                        .arg(xml.errorString()));
    return value;
}

bool readPlugInBundle(const std::string& bundlePath, const unsigned char (&typeUUID)[16],
                      PlugInBundle& bundle, std::string& error)
{
    const std::filesystem::path contents = std::filesystem::path(bundlePath) / "Contents";
    std::string reason;
    const QVariantMap info = readPropertyList((contents / "Info.plist").string(), &reason).toMap();
    if (info.isEmpty()) {
        error = "Contents/Info.plist: " + (reason.empty() ? std::string("not a dictionary") : reason);
        return false;
    }
    bundle.identifier = text(info, "CFBundleIdentifier");
    const std::string executable = text(info, "CFBundleExecutable");
    if (bundle.identifier.empty() || executable.empty()) {
        error = "Info.plist lacks CFBundleIdentifier or CFBundleExecutable";
        return false;
    }
    if (executable.find('/') != std::string::npos) {
        error = "the executable name is not a plain file name";
        return false;
    }
    bundle.executablePath = (contents / "MacOS" / executable).string();

    // UUIDs are compared as UUIDs, not as text: Core Foundation parses them in any letter case.
    const QUuid type = QUuid::fromRfc4122(QByteArrayView(typeUUID, 16));
    const QVariantMap types = info.value(QStringLiteral("CFPlugInTypes")).toMap();
    const QVariantMap factories = info.value(QStringLiteral("CFPlugInFactories")).toMap();
    for (auto it = types.begin(); it != types.end(); ++it) {
        if (QUuid::fromString(it.key()) != type)
            continue;
        for (const QVariant& factory : it.value().toList()) {
            const QUuid factoryUUID = QUuid::fromString(factory.toString());
            for (auto named = factories.begin(); named != factories.end(); ++named) {
                if (factoryUUID.isNull() || QUuid::fromString(named.key()) != factoryUUID)
                    continue;
                bundle.factoryFunction = named.value().toString().toStdString();
                if (!bundle.factoryFunction.empty())
                    return true;
            }
        }
        error = "no factory of CFPlugInTypes is named in CFPlugInFactories";
        return false;
    }
    error = "CFPlugInTypes lists no factory for the audio server plug-in type";
    return false;
}

} // namespace sim
