#include "app/records/TranscriptFiles.h"

#include "app/common/AppError.h"
#include "app/common/AppPaths.h"
#include "app/common/PrivateFile.h"
#include "app/records/CallRecord.h"

#include <QCryptographicHash>
#include <QFile>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString TranscriptFiles::folder()
{
    return AppPaths::transcriptsFolder();
}

QString TranscriptFiles::filePath(const QUuid& recordId)
{
    return folder() + QLatin1Char('/') + QString::fromLatin1(fileName(recordId));
}

QByteArray TranscriptFiles::fileName(const QUuid& recordId)
{
    return "Appel-" + recordId.toByteArray(QUuid::WithoutBraces).toUpper() + ".txt";
}

TranscriptFiles::~TranscriptFiles()
{
    if (m_folderFd >= 0)
        ::close(m_folderFd);
}

QByteArray TranscriptFiles::digest(const QByteArray& content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Blake2b_160);
}

void TranscriptFiles::ensureFolder()
{
    const QString path = folder();
    PrivateFile::ensureFolder(path);
    if (m_folderFd >= 0)
        ::close(m_folderFd);
    // Reopened on every pass, so a folder replaced in the meantime is the one looked at.
    m_folderFd = ::open(QFile::encodeName(path).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

bool TranscriptFiles::identityOf(int folderFd, const QByteArray& name, Identity& identity, mode_t& mode)
{
    struct stat st {};
    if (folderFd < 0 || ::fstatat(folderFd, name.constData(), &st, 0) != 0 || !S_ISREG(st.st_mode))
        return false;
    identity.device = st.st_dev;
    identity.inode = st.st_ino;
    identity.size = st.st_size;
    identity.modifiedNs = qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    identity.changedNs = qint64(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
    mode = st.st_mode & 07777;
    return true;
}

bool TranscriptFiles::refreshIfCurrent(const QUuid& recordId, const QByteArray& digest)
{
    const auto known = m_known.find(recordId);
    if (known == m_known.end() || known->digest != digest)
        return false;
    Identity identity;
    mode_t mode = 0;
    if (!identityOf(m_folderFd, known->name, identity, mode) || !(identity == known->identity))
        return false;
    if (mode != PrivateFile::kFileMode) {
        PrivateFile::setMode(filePath(recordId), PrivateFile::kFileMode);
        if (!identityOf(m_folderFd, known->name, known->identity, mode))
            m_known.erase(known);
    }
    return true;
}

QString TranscriptFiles::write(const QUuid& recordId, const QByteArray& content, const QByteArray& digest)
{
    const QString path = filePath(recordId);
    const QByteArray name = fileName(recordId);
    Identity identity;
    mode_t mode = 0;
    const bool exists = identityOf(m_folderFd, name, identity, mode);
    const auto known = m_known.constFind(recordId);
    bool same = false;
    if (exists && known != m_known.cend() && known->identity == identity) {
        same = known->digest == digest;
    } else if (exists) {
        // Someone else's file, or one we never saw: compare its bytes. A read failure counts as no file.
        try {
            const auto existing = PrivateFile::read(path);
            same = existing && *existing == content;
        } catch (const AppError&) {
            same = false;
        }
    }
    if (!same)
        PrivateFile::write(path, content); // created 0600
    else if (mode != PrivateFile::kFileMode)
        PrivateFile::setMode(path, PrivateFile::kFileMode);
    if (identityOf(m_folderFd, name, identity, mode))
        m_known.insert(recordId, Known{identity, digest, name});
    else
        m_known.remove(recordId);
    return path;
}

void TranscriptFiles::verify(const QUuid& recordId, const QByteArray& content, const QByteArray& digest)
{
    if (m_folderFd < 0)
        m_folderFd = ::open(QFile::encodeName(folder()).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const QByteArray name = fileName(recordId);
    Identity before;
    mode_t mode = 0;
    if (!identityOf(m_folderFd, name, before, mode) || before.size != content.size())
        return;
    std::optional<QByteArray> existing;
    try {
        existing = PrivateFile::read(filePath(recordId));
    } catch (const AppError&) {
        return;
    }
    Identity after;
    // A file changed while it was read is left to the save.
    if (!existing || *existing != content || !identityOf(m_folderFd, name, after, mode) || !(after == before))
        return;
    m_known.insert(recordId, Known{after, digest, name});
}
