#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>

class ManualClock;
class QTimer;

// A handle on a scheduled task. Cancelling is idempotent; a default handle is inactive.
class TaskHandle {
public:
    TaskHandle() = default;

    void cancel();
    // True until the task has run (one-shot) or was cancelled.
    bool isActive() const;

private:
    friend class QtScheduler;
    friend class ManualScheduler;
    struct State {
        bool cancelled = false;
        bool done = false;
        std::function<void()> onCancel;
    };
    explicit TaskHandle(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    std::shared_ptr<State> m_state;
};

// Delayed work on the main thread. Every delay of the switchboard goes through here so tests can
// run minutes of timers in microseconds.
class Scheduler {
public:
    virtual ~Scheduler() = default;
    virtual TaskHandle after(double delaySeconds, std::function<void()> task) = 0;
    virtual TaskHandle every(double periodSeconds, std::function<void()> task) = 0;
};

// QTimer-backed scheduler; tasks run on the thread that owns the scheduler (the main thread).
class QtScheduler final : public QObject, public Scheduler {
    Q_OBJECT
public:
    explicit QtScheduler(QObject* parent = nullptr) : QObject(parent) {}
    TaskHandle after(double delaySeconds, std::function<void()> task) override;
    TaskHandle every(double periodSeconds, std::function<void()> task) override;

private:
    QTimer* armTimer(const std::shared_ptr<TaskHandle::State>& state, double seconds, bool repeat);
};

// Runs tasks when a test advances time; the clock it drives is moved to each task's due time
// before the task runs, so tasks observe the time they were scheduled for.
class ManualScheduler final : public Scheduler {
public:
    explicit ManualScheduler(ManualClock& clock) : m_clock(clock) {}

    TaskHandle after(double delaySeconds, std::function<void()> task) override;
    TaskHandle every(double periodSeconds, std::function<void()> task) override;

    // Moves time forward by `seconds`, running every task that falls due on the way, in order.
    void advance(double seconds);
    // Runs the tasks due now (a zero delay included) without moving time.
    void runDue() { advance(0.0); }
    std::size_t pendingCount() const;

    // Called after each task has run, e.g. to let a test pump the Qt event loop.
    std::function<void()> afterEachTask;

private:
    struct Entry {
        std::shared_ptr<TaskHandle::State> state;
        std::function<void()> task;
        double periodSeconds = 0; // 0 = one-shot
    };
    ManualClock& m_clock;
    double m_elapsed = 0; // seconds advanced since construction; due times are on this axis
    std::uint64_t m_seq = 0;
    std::multimap<std::pair<double, std::uint64_t>, Entry> m_queue;
};
