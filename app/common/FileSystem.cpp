#include "app/common/FileSystem.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {
FileSystem g_system;
std::atomic<FileSystem*> g_current{&g_system};

int flush(int fd)
{
#ifdef __APPLE__
    // Some file systems refuse the full flush; a plain fsync is then the best there is.
    if (::fcntl(fd, F_FULLFSYNC) == 0)
        return 0;
#endif
    return ::fsync(fd);
}
} // namespace

int FileSystem::createTemporary(QByteArray& pattern)
{
    return ::mkostemps(pattern.data(), int(sizeof kTemporarySuffix) - 1, O_CLOEXEC);
}

ssize_t FileSystem::write(int fd, const void* data, size_t size)
{
    return ::write(fd, data, size);
}

int FileSystem::syncFile(int fd)
{
    return flush(fd);
}

int FileSystem::close(int fd)
{
    return ::close(fd);
}

int FileSystem::rename(const char* from, const char* to)
{
    return ::rename(from, to);
}

int FileSystem::unlink(const char* path)
{
    return ::unlink(path);
}

int FileSystem::syncFolder(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int result = flush(fd);
    const int err = errno;
    ::close(fd);
    // A file system that cannot flush folders has nothing more to give; that is not a failed save.
    if (result != 0 && (err == EINVAL || err == ENOTSUP))
        result = 0;
    errno = err;
    return result;
}

FileSystem& FileSystem::current()
{
    return *g_current.load(std::memory_order_acquire);
}

FileSystem::Override::Override(FileSystem& replacement)
    : m_previous(g_current.exchange(&replacement, std::memory_order_acq_rel))
{
}

FileSystem::Override::~Override()
{
    g_current.store(m_previous, std::memory_order_release);
}
