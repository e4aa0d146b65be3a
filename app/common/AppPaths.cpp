#include "app/common/AppPaths.h"

#include <QDir>
#include <QStandardPaths>

namespace AppPaths {

namespace {
QString overrideHome()
{
    return qEnvironmentVariable("ORLEA_DATA_HOME");
}
} // namespace

QString applicationSupport()
{
    const QString home = overrideHome();
    if (!home.isEmpty())
        return QDir::cleanPath(home);
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString dataFolder()
{
    return applicationSupport() + QStringLiteral("/Velkaro");
}

QString historyFile()
{
    return dataFolder() + QStringLiteral("/history.json");
}

QString transcriptsFolder()
{
    return dataFolder() + QStringLiteral("/Transcriptions");
}

QString recordingsFolder()
{
    return dataFolder() + QStringLiteral("/Recordings");
}

QString credentialsFolder()
{
    return dataFolder() + QStringLiteral("/Credentials");
}

QString preferencesFile()
{
    const QString home = overrideHome();
    if (!home.isEmpty())
        return QDir::cleanPath(home) + QStringLiteral("/Preferences/fr.velkaro.orlea.json");
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Velkaro/fr.velkaro.orlea.json");
}

} // namespace AppPaths
