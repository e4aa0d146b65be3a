#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QUuid>
#include <sys/types.h>

// The private transcript files, one per record, in the Transcriptions folder. A file is rewritten only
// when its bytes would change, and it is left at mode 0600.
//
// Every history save visits every record's file, so the bytes of each file we wrote or verified are
// remembered as a digest together with the file's stat identity. A file that still has that identity
// holds those bytes; only a file changed by someone else (a new identity) is read again and compared.
class TranscriptFiles {
public:
    static QString folder();
    static QString filePath(const QUuid& recordId);
    static QByteArray digest(const QByteArray& content);

    TranscriptFiles() = default;
    TranscriptFiles(const TranscriptFiles&) = delete;
    TranscriptFiles& operator=(const TranscriptFiles&) = delete;
    ~TranscriptFiles();

    // Creates the Transcriptions folder (mode 0700) when it is missing, and opens it for the checks
    // that follow. Throws AppError.
    void ensureFolder();

    // When the file is still the one we left holding `digest`: makes sure it is 0600 and returns true,
    // having only looked at its metadata. Throws AppError when its mode cannot be set.
    bool refreshIfCurrent(const QUuid& recordId, const QByteArray& digest);

    // Makes the file hold `content` (whose digest is given): written only when the bytes on disk differ,
    // mode 0600 in every case. The folder must exist. Returns the path. Throws AppError.
    QString write(const QUuid& recordId, const QByteArray& content, const QByteArray& digest);

    // Reads the file and, when it holds exactly `content`, remembers it as if this run had written it,
    // so that the next save finds it current from its metadata alone. Writes nothing, creates nothing,
    // never throws: any doubt leaves the file to the next save.
    void verify(const QUuid& recordId, const QByteArray& content, const QByteArray& digest);

private:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0;
        bool operator==(const Identity&) const = default;
    };
    struct Known {
        Identity identity;
        QByteArray digest;
        QByteArray name; // file name inside the folder
    };
    static bool identityOf(int folderFd, const QByteArray& name, Identity& identity, mode_t& mode);
    static QByteArray fileName(const QUuid& recordId);

    QHash<QUuid, Known> m_known;
    // The folder as opened by the last ensureFolder: each check then looks up one name, not a whole path.
    int m_folderFd = -1;
};
