#include "app/audio/SerialQueue.h"

#include <future>
#include <pthread.h>
#include <thread>

SerialQueue::SerialQueue(const QString& label) : m_label(label), m_shared(std::make_shared<Shared>())
{
    std::thread worker([shared = m_shared, name = label.left(15).toUtf8()] {
        pthread_setname_np(pthread_self(), name.constData()); // the kernel keeps 15 characters
        run(shared);
    });
    worker.detach();
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->closed = true;
    }
    m_shared->wake.notify_one();
}

void SerialQueue::async(std::function<void()> task)
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->tasks.push_back(std::move(task));
    }
    m_shared->wake.notify_one();
}

void SerialQueue::waitUntilIdle()
{
    std::promise<void> done;
    std::future<void> future = done.get_future();
    async([&done] { done.set_value(); });
    future.wait();
}

void SerialQueue::run(std::shared_ptr<Shared> shared)
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(shared->mutex);
            shared->wake.wait(lock, [&] { return shared->closed || !shared->tasks.empty(); });
            if (shared->tasks.empty())
                return; // closed and drained
            task = std::move(shared->tasks.front());
            shared->tasks.pop_front();
        }
        task();
    }
}
