#pragma once

// Interleaved float frames between one writer thread and one reader thread (a sound server's stream
// callback on one side, a device's IO cycle on the other). Storage is allocated once; neither side
// allocates, locks or waits. A full ring keeps what it has and refuses the rest.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <vector>

namespace hostsound {

class SampleRing {
public:
    SampleRing(size_t channels, size_t capacityFrames)
        : m_channels(std::max<size_t>(channels, 1)), m_capacity(std::max<size_t>(capacityFrames, 1)),
          m_samples(m_capacity * m_channels)
    {
    }
    SampleRing(const SampleRing&) = delete;
    SampleRing& operator=(const SampleRing&) = delete;

    size_t channels() const { return m_channels; }
    size_t capacityFrames() const { return m_capacity; }
    size_t readableFrames() const
    {
        return m_written.load(std::memory_order_acquire) - m_read.load(std::memory_order_acquire);
    }
    size_t writableFrames() const { return m_capacity - readableFrames(); }

    // Writer side: up to `frames` frames (null: silence); returns how many fit. Real-time safe.
    size_t write(const float* interleaved, size_t frames)
    {
        const size_t w = m_written.load(std::memory_order_relaxed);
        const size_t n = std::min(frames, m_capacity - (w - m_read.load(std::memory_order_acquire)));
        copy(interleaved, n, w, true);
        m_written.store(w + n, std::memory_order_release);
        return n;
    }

    // Reader side: up to `frames` frames (null: dropped); returns how many there were. Real-time safe.
    size_t read(float* interleaved, size_t frames)
    {
        const size_t r = m_read.load(std::memory_order_relaxed);
        const size_t n = std::min(frames, m_written.load(std::memory_order_acquire) - r);
        if (interleaved != nullptr)
            copy(interleaved, n, r, false);
        m_read.store(r + n, std::memory_order_release);
        return n;
    }

private:
    // Copies n frames at ring position `at`, in two runs when they wrap.
    void copy(const float* in, size_t n, size_t at, bool intoRing)
    {
        copyRuns(const_cast<float*>(in), n, at, intoRing);
    }
    void copyRuns(float* outside, size_t n, size_t at, bool intoRing)
    {
        size_t done = 0;
        while (done < n) {
            const size_t slot = (at + done) % m_capacity;
            const size_t run = std::min(n - done, m_capacity - slot);
            float* ring = &m_samples[slot * m_channels];
            const size_t bytes = run * m_channels * sizeof(float);
            if (!intoRing)
                std::memcpy(outside + done * m_channels, ring, bytes);
            else if (outside != nullptr)
                std::memcpy(ring, outside + done * m_channels, bytes);
            else
                std::memset(ring, 0, bytes);
            done += run;
        }
    }

    size_t m_channels;
    size_t m_capacity;
    std::vector<float> m_samples;
    std::atomic<size_t> m_written{0};
    std::atomic<size_t> m_read{0};
};

} // namespace hostsound
