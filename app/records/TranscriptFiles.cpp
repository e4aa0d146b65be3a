#include "app/records/TranscriptFiles.h"

#include "app/common/AppError.h"
#include "app/common/AppPaths.h"
#include "app/common/PrivateFile.h"
#include "app/records/CallRecord.h"

#include <QCryptographicHash>
#include <QFile>
#include <sys/stat.h>

QString TranscriptFiles::folder()
{
    return AppPaths::transcriptsFolder();
}

QString TranscriptFiles::filePath(const QUuid& recordId)
{
    return folder() + QStringLiteral("/Appel-") + uuidText(recordId) + QStringLiteral(".txt");
}

QByteArray TranscriptFiles::digest(const QByteArray& content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Blake2b_160);
}

void TranscriptFiles::ensureFolder()
{
    PrivateFile::ensureFolder(folder());
}

bool TranscriptFiles::identityOf(const QByteArray& nativePath, Identity& identity, mode_t& mode)
{
    struct stat st {};
    if (::stat(nativePath.constData(), &st) != 0 || !S_ISREG(st.st_mode))
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
    const QString path = filePath(recordId);
    const QByteArray native = QFile::encodeName(path);
    Identity identity;
    mode_t mode = 0;
    if (!identityOf(native, identity, mode) || !(identity == known->identity))
        return false;
    if (mode != PrivateFile::kFileMode) {
        PrivateFile::setMode(path, PrivateFile::kFileMode);
        if (!identityOf(native, known->identity, mode))
            m_known.erase(known);
    }
    return true;
}

QString TranscriptFiles::write(const QUuid& recordId, const QByteArray& content, const QByteArray& digest)
{
    const QString path = filePath(recordId);
    const QByteArray native = QFile::encodeName(path);
    Identity identity;
    mode_t mode = 0;
    const bool exists = identityOf(native, identity, mode);
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
    if (identityOf(native, identity, mode))
        m_known.insert(recordId, Known{identity, digest});
    else
        m_known.remove(recordId);
    return path;
}
