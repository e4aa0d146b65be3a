#include "tests/support/PrivateMounts.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace PrivateMounts {
namespace {

QString systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

bool writeProcFile(const char* path, const QByteArray& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return written;
}

QString enter()
{
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0) {
        if (::unshare(CLONE_NEWNS) != 0)
            return systemError("unshare(CLONE_NEWNS)");
    } else {
        // Root of a user namespace of our own: enough to mount there, nowhere else.
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return systemError("unshare(CLONE_NEWUSER | CLONE_NEWNS)");
        writeProcFile("/proc/self/setgroups", "deny");
        if (!writeProcFile("/proc/self/uid_map", "0 " + QByteArray::number(uid) + " 1") ||
            !writeProcFile("/proc/self/gid_map", "0 " + QByteArray::number(gid) + " 1"))
            return systemError("uid_map");
    }
    // Nothing mounted here may reach the rest of the machine.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return systemError("mount --make-rprivate /");
    return QString();
}

const QString& entered()
{
    static const QString reason = enter();
    return reason;
}

} // namespace

QString unavailableReason()
{
    return entered();
}

bool mountTmpfs(const QString& folder, qint64 bytes, QString* error)
{
    if (!entered().isEmpty()) {
        *error = entered();
        return false;
    }
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
    if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                options.constData()) != 0) {
        *error = systemError("mount tmpfs");
        return false;
    }
    return true;
}

bool bindReadOnly(const QString& folder, QString* error)
{
    if (!entered().isEmpty()) {
        *error = entered();
        return false;
    }
    const QByteArray path = QFile::encodeName(folder);
    if (::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) != 0) {
        *error = systemError("mount --bind");
        return false;
    }
    // A remount must keep the flags the kernel locked on the original mount.
    struct statvfs st {};
    unsigned long flags = MS_BIND | MS_REMOUNT | MS_RDONLY;
    if (::statvfs(path.constData(), &st) == 0) {
        if (st.f_flag & ST_NOSUID)
            flags |= MS_NOSUID;
        if (st.f_flag & ST_NODEV)
            flags |= MS_NODEV;
        if (st.f_flag & ST_NOEXEC)
            flags |= MS_NOEXEC;
    }
    if (::mount(nullptr, path.constData(), nullptr, flags, nullptr) != 0) {
        *error = systemError("mount -o remount,ro");
        ::umount2(path.constData(), MNT_DETACH);
        return false;
    }
    return true;
}

bool unmount(const QString& folder)
{
    return ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH) == 0;
}

} // namespace PrivateMounts
