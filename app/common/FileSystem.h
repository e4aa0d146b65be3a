#pragma once

#include <QByteArray>
#include <sys/types.h>

// The file-system calls whose order makes a save survive a power cut: the new bytes are written to a
// temporary file, flushed to the drive, renamed over the old file, and the folder holding the new name
// is flushed too. The base class makes the real calls (POSIX results: -1 with errno on failure); a test
// derives from it to watch the order or to make one call fail as a full or broken disk would.
//
// Any thread may save (the recorder finishes on its own queue): `current()` is read atomically, and an
// override installed by a test must be thread-safe and outlive the saves it watches.
class FileSystem {
public:
    static constexpr char kTemporarySuffix[] = ".partial";

    virtual ~FileSystem() = default;

    // mkostemps: a new file from `pattern` (ending in "XXXXXX" + kTemporarySuffix, rewritten in
    // place), mode 0600.
    virtual int createTemporary(QByteArray& pattern);
    virtual ssize_t write(int fd, const void* data, size_t size);
    // Until the bytes are on the drive. On a Mac plain fsync stops at the drive's cache: F_FULLFSYNC.
    virtual int syncFile(int fd);
    virtual int close(int fd);
    virtual int rename(const char* from, const char* to);
    virtual int unlink(const char* path);
    // Makes the folder's entries (a rename, a new file or folder) durable.
    virtual int syncFolder(const char* path);

    // The file system saves go through: the real one unless a test replaced it.
    static FileSystem& current();

    // Puts `replacement` in place for the life of the guard.
    class Override {
    public:
        explicit Override(FileSystem& replacement);
        ~Override();
        Override(const Override&) = delete;
        Override& operator=(const Override&) = delete;

    private:
        FileSystem* m_previous;
    };
};
