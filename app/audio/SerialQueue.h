#pragma once

#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

// A serial queue on a thread of its own: tasks run one after the other in submission order.
// Releasing the queue does not wait; the thread finishes what was submitted, then ends.
class SerialQueue {
public:
    explicit SerialQueue(const QString& label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const QString& label() const { return m_label; }
    // Any thread.
    void async(std::function<void()> task);
    // Blocks until every task submitted before the call has run. Not from a task of this queue.
    void waitUntilIdle();

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::function<void()>> tasks;
        bool closed = false;
    };
    static void run(std::shared_ptr<Shared> shared);

    QString m_label;
    std::shared_ptr<Shared> m_shared;
};
