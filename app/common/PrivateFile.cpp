#include "app/common/PrivateFile.h"

#include "app/common/AppError.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
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

bool writeAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
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
} // namespace

void write(const QString& path, const QByteArray& bytes)
{
    const QFileInfo info(path);
    QByteArray pattern = native(info.absolutePath() + QStringLiteral("/.") + info.fileName() + ".XXXXXX");
    // mkostemp creates the file 0600 (O_EXCL), so it is private before it holds a byte.
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        fail(FileOperation::Write, path);
    auto cleanup = [&](int err) {
        ::close(fd);
        ::unlink(pattern.constData());
        fail(FileOperation::Write, path, err);
    };
    if (::fchmod(fd, kFileMode) != 0)
        cleanup(errno);
    if (!writeAll(fd, bytes.constData(), bytes.size()))
        cleanup(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(pattern.constData());
        fail(FileOperation::Write, path, err);
    }
    if (::rename(pattern.constData(), native(path).constData()) != 0) {
        const int err = errno;
        ::unlink(pattern.constData());
        fail(FileOperation::Write, path, err);
    }
}

void ensureFolder(const QString& path, Tighten tighten)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QByteArray current;
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        current += '/';
        current += native(part);
        if (::mkdir(current.constData(), kFolderMode) == 0)
            continue;
        const int err = errno;
        struct stat st {};
        if (err == EEXIST && ::stat(current.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        fail(FileOperation::CreateFolder, QFile::decodeName(current), err == EEXIST ? ENOTDIR : err);
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

} // namespace PrivateFile
