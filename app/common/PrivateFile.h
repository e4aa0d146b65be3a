#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/types.h>

// The one way the program writes its files: a temporary file created 0600 in the target's folder
// before any byte is written, flushed to the drive, then renamed over the target, and the folder flushed
// in turn. A reader sees the old or the new file, never half of one, even after a crash or a power cut,
// and no other user can read it at any instant. Every call goes through FileSystem::current(). Failures
// throw AppError.
namespace PrivateFile {
constexpr mode_t kFileMode = 0600;
constexpr mode_t kFolderMode = 0700;

void write(const QString& path, const QByteArray& bytes);

// The second half of `write` for a file produced elsewhere (the recorder's mix): flushes the finished
// temporary file open on `fd`, closes it, renames it over `path` and flushes the folder. A failure up to
// the rename removes the temporary file, leaves `path` as it was and throws; `fd` is closed either way.
// Once renamed the new file stays: a folder that would not flush only makes the result false.
[[nodiscard]] bool replace(int fd, const QString& temporary, const QString& path);

// The name `write` gives its temporary files for `path`, before mkostemps fills in the Xs.
QString temporaryPattern(const QString& path);

// Creates `path` and missing parents with mode 0700, whatever the umask; an existing folder is left as
// it is unless `tighten` asks for its mode to be set to 0700 too.
enum class Tighten { No, Yes };
void ensureFolder(const QString& path, Tighten tighten = Tighten::No);

void setMode(const QString& path, mode_t mode);

// The whole file, or nullopt when it does not exist; other failures throw.
std::optional<QByteArray> read(const QString& path);

// Removes the temporary files a save cut short by a crash left behind in the program's folders. Run at
// start, by the one instance that owns the data folder.
void removeInterruptedSaves();
// The same for one folder; whether `name` is such a leftover.
void removeInterruptedSaves(const QString& folder);
bool isInterruptedSave(const QString& name);
} // namespace PrivateFile
