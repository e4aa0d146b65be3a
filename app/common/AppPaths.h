#pragma once

#include <QString>

// Where the application keeps its files. The Application Support folder comes from QStandardPaths
// unless $ORLEA_DATA_HOME replaces it, so tests and demos never touch a user's real data.
namespace AppPaths {
QString applicationSupport();
QString dataFolder();        // Application Support/Velkaro
QString historyFile();       // Velkaro/history.json
QString transcriptsFolder(); // Velkaro/Transcriptions
QString recordingsFolder();  // Velkaro/Recordings
QString credentialsFolder(); // Velkaro/Credentials
// The user-defaults file, a sibling of Application Support as on the Mac.
QString preferencesFile();
} // namespace AppPaths
