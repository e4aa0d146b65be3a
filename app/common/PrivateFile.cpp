#include "app/common/PrivateFile.h"

#include "app/common/AppError.h"
#include "app/common/AppPaths.h"
#include "app/common/FileSystem.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PrivateFile {

namespace {
QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

[[noreturn]] void fail(FileOperation op, const QString& path, int err = errno)
{
    throw fileError(err, op, path);
}

bool writeAll(FileSystem& fs, int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = fs.write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

QString parentOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}
} // namespace

QString temporaryPattern(const QString& path)
{
    const QFileInfo info(path);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX") +
           QLatin1String(FileSystem::kTemporarySuffix);
}

void write(const QString& path, const QByteArray& bytes)
{
    FileSystem& fs = FileSystem::current();
    QByteArray pattern = native(temporaryPattern(path));
    // mkostemps creates the file 0600 (O_EXCL), so it is private before it holds a byte.
    const int fd = fs.createTemporary(pattern);
    if (fd < 0)
        fail(FileOperation::Write, path);
    const QString temporary = QFile::decodeName(pattern);
    if (::fchmod(fd, kFileMode) != 0 || !writeAll(fs, fd, bytes.constData(), bytes.size())) {
        const int err = errno;
        fs.close(fd);
        fs.unlink(pattern.constData());
        fail(FileOperation::Write, path, err);
    }
    if (!replace(fd, temporary, path))
        fail(FileOperation::Write, path);
}

bool replace(int fd, const QString& temporary, const QString& path)
{
    FileSystem& fs = FileSystem::current();
    const QByteArray from = native(temporary);
    // Flushed before the rename: otherwise a power cut can leave the new name on an empty file.
    if (fs.syncFile(fd) != 0) {
        const int err = errno;
        fs.close(fd);
        fs.unlink(from.constData());
        fail(FileOperation::Write, path, err);
    }
    if (fs.close(fd) != 0) {
        const int err = errno;
        fs.unlink(from.constData());
        fail(FileOperation::Write, path, err);
    }
    if (fs.rename(from.constData(), native(path).constData()) != 0) {
        const int err = errno;
        fs.unlink(from.constData());
        fail(FileOperation::Write, path, err);
    }
    // Until the folder is flushed, the rename itself may not survive a power cut.
    return fs.syncFolder(native(parentOf(path)).constData()) == 0;
}

void ensureFolder(const QString& path, Tighten tighten)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QByteArray current;
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const QByteArray parent = current.isEmpty() ? QByteArray("/") : current;
        current += '/';
        current += native(part);
        if (::mkdir(current.constData(), kFolderMode) == 0) {
            // mkdir honours the umask; an unusual one (0277) would leave a folder we cannot write.
            if (::chmod(current.constData(), kFolderMode) != 0)
                fail(FileOperation::SetPermissions, QFile::decodeName(current));
            // The new folder's name is an entry of its parent: flushed like a rename.
            FileSystem::current().syncFolder(parent.constData());
            continue;
        }
        const int err = errno;
        struct stat st {};
        if (err == EEXIST && ::stat(current.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        if (err == EEXIST) // a file, or a link to nowhere, stands where the folder belongs
            throw AppError(QStringLiteral("« %1 » existe déjà et n’est pas un dossier.").arg(part));
        fail(FileOperation::CreateFolder, QFile::decodeName(current), err);
    }
    if (tighten == Tighten::Yes)
        setMode(clean, kFolderMode);
}

void setMode(const QString& path, mode_t mode)
{
    if (::chmod(native(path).constData(), mode) != 0)
        fail(FileOperation::SetPermissions, path);
}

std::optional<QByteArray> read(const QString& path)
{
    const int fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        fail(FileOperation::Read, path);
    }
    QByteArray result;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0)
        result.reserve(qsizetype(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            fail(FileOperation::Read, path, err);
        }
        result.append(buffer, n);
    }
    ::close(fd);
    return result;
}

bool isInterruptedSave(const QString& name)
{
    // ".history.json.AbC123.partial" from `write`, ".Appel-….wav.partial" from the recorder's mix.
    const QLatin1String suffix(FileSystem::kTemporarySuffix);
    return name.startsWith(QLatin1Char('.')) && name.endsWith(suffix) && name.size() > suffix.size() + 1;
}

void removeInterruptedSaves(const QString& folder)
{
    const QByteArray path = native(folder);
    DIR* dir = ::opendir(path.constData());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    bool removed = false;
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        struct stat st {};
        if (!isInterruptedSave(name) || ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode))
            continue;
        removed |= ::unlinkat(dirFd, entry->d_name, 0) == 0;
    }
    ::closedir(dir);
    if (removed)
        FileSystem::current().syncFolder(path.constData());
}

void removeInterruptedSaves()
{
    for (const QString& folder :
         {AppPaths::dataFolder(), AppPaths::transcriptsFolder(), AppPaths::credentialsFolder(),
          AppPaths::recordingsFolder(), QFileInfo(AppPaths::preferencesFile()).absolutePath()})
        removeInterruptedSaves(folder);
}

} // namespace PrivateFile
