#pragma once

#include <functional>

// How a probe waits and tells time. The application waits on its event loop (the interface stays
// live) and reads the system uptime; tests advance a simulated device clock instead. A wait may throw
// to cancel the probe, which then cleans up and passes the exception on.
struct ProbeTiming {
    std::function<void(int milliseconds)> wait;
    std::function<double()> uptimeSeconds;

    // Event-loop waits and the monotonic clock.
    static ProbeTiming system();
};
