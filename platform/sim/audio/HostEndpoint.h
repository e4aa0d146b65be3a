#pragma once

// A device of the computer (through its sound server) behind a simulated built-in device. The simulated
// device takes its format and runs on its clock: an input device's IO cycle runs when a cycle's worth of
// frames has arrived, an output device's when the computer's device has played enough of what was queued.
//
// Threads: made and handed over on the main thread; read and written only by the simulated server's IO
// cycles (its clock thread, or the thread stepping it by hand), while the sound server's own thread fills
// or drains the other side. Every call here is real-time safe: no allocation, no lock, no wait.

#include <cstddef>

namespace sim {

class HostEndpoint {
public:
    virtual ~HostEndpoint() = default;
    virtual double sampleRateHz() const = 0;
    virtual unsigned channels() const = 0;
    // False once the computer's device went away (unplugged, the server gone): the simulated device dies.
    virtual bool isAlive() const = 0;
    // Input: frames waiting to be read. Output: frames queued and not yet played.
    virtual size_t queuedFrames() const = 0;
    // Input: up to `frames` interleaved frames (null: dropped); returns how many there were.
    virtual size_t read(float* interleaved, size_t frames) = 0;
    // Output: queues up to `frames` interleaved frames; returns how many fit.
    virtual size_t write(const float* interleaved, size_t frames) = 0;
};

} // namespace sim
