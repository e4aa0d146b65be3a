#include "app/common/Scheduler.h"

#include "app/common/Clock.h"

#include <QTimer>
#include <cmath>

void TaskHandle::cancel()
{
    if (!m_state || m_state->cancelled || m_state->done)
        return;
    m_state->cancelled = true;
    if (m_state->onCancel)
        std::exchange(m_state->onCancel, nullptr)();
}

bool TaskHandle::isActive() const
{
    return m_state && !m_state->cancelled && !m_state->done;
}

namespace {
int toMilliseconds(double seconds)
{
    return int(std::llround(std::max(0.0, seconds) * 1000.0));
}
} // namespace

// A timer owned by the scheduler; cancelling the handle stops and disposes of it.
QTimer* QtScheduler::armTimer(const std::shared_ptr<TaskHandle::State>& state, double seconds, bool repeat)
{
    auto* timer = new QTimer(this);
    timer->setSingleShot(!repeat);
    timer->setTimerType(Qt::PreciseTimer);
    QPointer<QTimer> guard(timer);
    state->onCancel = [guard] {
        if (guard) {
            guard->stop();
            guard->deleteLater();
        }
    };
    timer->start(toMilliseconds(seconds));
    return timer;
}

TaskHandle QtScheduler::after(double delaySeconds, std::function<void()> task)
{
    auto state = std::make_shared<TaskHandle::State>();
    QTimer* timer = armTimer(state, delaySeconds, false);
    connect(timer, &QTimer::timeout, this, [state, timer, task = std::move(task)] {
        timer->deleteLater();
        if (state->cancelled || state->done)
            return;
        state->done = true;
        state->onCancel = nullptr;
        task();
    });
    return TaskHandle(state);
}

TaskHandle QtScheduler::every(double periodSeconds, std::function<void()> task)
{
    auto state = std::make_shared<TaskHandle::State>();
    QTimer* timer = armTimer(state, periodSeconds, true);
    connect(timer, &QTimer::timeout, this, [state, task = std::move(task)] {
        if (!state->cancelled)
            task();
    });
    return TaskHandle(state);
}

TaskHandle ManualScheduler::after(double delaySeconds, std::function<void()> task)
{
    auto state = std::make_shared<TaskHandle::State>();
    m_queue.emplace(std::make_pair(m_elapsed + std::max(0.0, delaySeconds), m_seq++),
                    Entry{state, std::move(task), 0});
    return TaskHandle(state);
}

TaskHandle ManualScheduler::every(double periodSeconds, std::function<void()> task)
{
    auto state = std::make_shared<TaskHandle::State>();
    const double period = std::max(periodSeconds, 1e-6);
    m_queue.emplace(std::make_pair(m_elapsed + period, m_seq++), Entry{state, std::move(task), period});
    return TaskHandle(state);
}

void ManualScheduler::advance(double seconds)
{
    const double target = m_elapsed + std::max(0.0, seconds);
    while (!m_queue.empty()) {
        auto it = m_queue.begin();
        const double due = it->first.first;
        if (due > target)
            break;
        Entry entry = std::move(it->second);
        m_queue.erase(it);
        if (entry.state->cancelled)
            continue;
        if (due > m_elapsed) {
            m_clock.advance(due - m_elapsed);
            m_elapsed = due;
        }
        if (entry.periodSeconds > 0) {
            auto task = entry.task;
            m_queue.emplace(std::make_pair(due + entry.periodSeconds, m_seq++), std::move(entry));
            task();
        } else {
            entry.state->done = true;
            entry.task();
        }
        if (afterEachTask)
            afterEachTask();
    }
    if (target > m_elapsed) {
        m_clock.advance(target - m_elapsed);
        m_elapsed = target;
    }
}

std::size_t ManualScheduler::pendingCount() const
{
    std::size_t n = 0;
    for (const auto& [key, entry] : m_queue)
        n += entry.state->cancelled ? 0 : 1;
    return n;
}
