#include "app/common/InstanceLock.h"

#include "app/common/AppError.h"
#include "app/common/PrivateFile.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
}

QString InstanceLock::lockFile(const QString& folder)
{
    return folder + QStringLiteral("/.orlea.lock");
}

InstanceLock::Outcome InstanceLock::acquire(const QString& folder)
{
    const QString path = lockFile(folder);
    const QString cannot =
        QStringLiteral("Impossible de réserver le dossier de données « %1 » : ").arg(folder);
    try {
        PrivateFile::ensureFolder(folder);
    } catch (const AppError& error) {
        return {std::nullopt, cannot + error.message()};
    }
    const QByteArray name = QFile::encodeName(path);
    const int fd =
        ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, PrivateFile::kFileMode);
    if (fd < 0)
        return {std::nullopt, cannot + fileErrorDescription(errno, FileOperation::Write, path)};
    int status;
    do
        status = ::flock(fd, LOCK_EX | LOCK_NB);
    while (status != 0 && errno == EINTR);
    if (status != 0) {
        const int err = errno;
        QByteArray holder(32, '\0');
        const ssize_t n = ::pread(fd, holder.data(), size_t(holder.size()), 0);
        ::close(fd);
        if (err != EWOULDBLOCK)
            return {std::nullopt, cannot + fileErrorDescription(err, FileOperation::Write, path)};
        const qlonglong pid = n > 0 ? holder.left(n).trimmed().toLongLong() : 0;
        const QString who = pid > 0 ? QStringLiteral(" (processus %1)").arg(pid) : QString();
        return {std::nullopt, QStringLiteral("Orlea est déjà ouvert avec le dossier de données « %1 »%2. Un "
                                             "seul Orlea peut l’utiliser à la fois : fermez l’autre, puis "
                                             "relancez.")
                                  .arg(folder, who)};
    }
    // Who holds it, for the message of a second copy; a failure here only loses that number.
    const QByteArray pid = QByteArray::number(qlonglong(::getpid())) + '\n';
    [[maybe_unused]] const bool noted =
        ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) == pid.size();
    return {InstanceLock(fd), QString()};
}
