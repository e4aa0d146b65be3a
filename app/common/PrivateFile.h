#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/types.h>

// The one way the program writes its files: a temporary file created 0600 in the target's folder
// before any byte is written, then renamed over the target. A reader sees the old or the new file,
// never half of one, and no other user can read it at any instant. Failures throw AppError.
namespace PrivateFile {
constexpr mode_t kFileMode = 0600;
constexpr mode_t kFolderMode = 0700;

void write(const QString& path, const QByteArray& bytes);

// Creates `path` and missing parents with mode 0700; an existing folder is left as it is unless
// `tighten` asks for its mode to be set to 0700 too.
enum class Tighten { No, Yes };
void ensureFolder(const QString& path, Tighten tighten = Tighten::No);

void setMode(const QString& path, mode_t mode);

// The whole file, or nullopt when it does not exist; other failures throw.
std::optional<QByteArray> read(const QString& path);
} // namespace PrivateFile
