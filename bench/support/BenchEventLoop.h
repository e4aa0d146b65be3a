#pragma once

// What the benchmarks that run the program's own event loop share.

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <ctime>
#include <functional>

namespace bench {

// CPU time of the whole process so far, in seconds.
inline double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Runs the event loop, asleep between events as the program is, until `condition` holds (checked every
// `pollMs`) or `timeoutMs` passed.
inline bool waitFor(const std::function<bool()>& condition, int timeoutMs, int pollMs)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(pollMs);
    loop.exec();
    return condition();
}

} // namespace bench
