#pragma once

#include <QString>
#include <optional>

// One program per data folder: two copies would each rewrite the whole history and the last to save
// would win. The lock is an flock on a file in the folder, held by the system for the open descriptor:
// a copy that is killed or crashes lets go of it with its last breath, so a lock never goes stale.
// Main thread; the descriptor is not inherited by programs the process starts.
class InstanceLock {
public:
    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&&) = delete;
    InstanceLock(const InstanceLock&) = delete;
    ~InstanceLock();

    // The lock on `folder` (created 0700 when missing), or the French reason why it cannot be had.
    struct Outcome;
    static Outcome acquire(const QString& folder);

    static QString lockFile(const QString& folder);

private:
    explicit InstanceLock(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

struct InstanceLock::Outcome {
    std::optional<InstanceLock> lock;
    QString refusal; // empty when `lock` is set
};
