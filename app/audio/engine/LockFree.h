#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <vector>

// The three hand-over structures between the render thread and the rest of the program. None of
// their real-time sides allocates, locks or waits.

// Frames of a fixed channel count, one writer thread and one reader thread. Storage is interleaved
// and allocated once; a full ring drops what does not fit (the writer is the real-time side).
class FrameRing {
public:
    FrameRing(int channels, size_t capacityFrames)
        : m_channels(channels), m_capacity(capacityFrames), m_samples(capacityFrames * size_t(channels))
    {
    }

    int channels() const { return m_channels; }
    size_t capacityFrames() const { return m_capacity; }

    size_t availableFrames() const
    {
        return m_written.load(std::memory_order_acquire) - m_read.load(std::memory_order_acquire);
    }

    // Writer side. `channelData[c][i × stride]` is frame i of channel c. Real-time safe.
    size_t write(const float* const* channelData, int stride, size_t frames)
    {
        const size_t w = m_written.load(std::memory_order_relaxed);
        const size_t free = m_capacity - (w - m_read.load(std::memory_order_acquire));
        const size_t n = std::min(frames, free);
        for (size_t i = 0; i < n; ++i) {
            float* frame = &m_samples[((w + i) % m_capacity) * size_t(m_channels)];
            for (int c = 0; c < m_channels; ++c)
                frame[c] = channelData[c][i * size_t(stride)];
        }
        m_written.store(w + n, std::memory_order_release);
        if (n < frames)
            m_droppedFrames.fetch_add(frames - n, std::memory_order_relaxed);
        return n;
    }

    // Reader side: up to `frames` frames into planar buffers.
    size_t read(float* const* channelData, size_t frames)
    {
        const size_t r = m_read.load(std::memory_order_relaxed);
        const size_t n = std::min(frames, m_written.load(std::memory_order_acquire) - r);
        for (size_t i = 0; i < n; ++i) {
            const float* frame = &m_samples[((r + i) % m_capacity) * size_t(m_channels)];
            for (int c = 0; c < m_channels; ++c)
                channelData[c][i] = frame[c];
        }
        m_read.store(r + n, std::memory_order_release);
        return n;
    }

    // Reader side: forget what is buffered.
    void discard() { m_read.store(m_written.load(std::memory_order_acquire), std::memory_order_release); }

    size_t droppedFrames() const { return m_droppedFrames.load(std::memory_order_relaxed); }

private:
    int m_channels;
    size_t m_capacity;
    std::vector<float> m_samples;
    std::atomic<size_t> m_written{0};
    std::atomic<size_t> m_read{0};
    std::atomic<size_t> m_droppedFrames{0};
};

// Unbounded intrusive queue after Dmitry Vyukov: any number of producers, one consumer. Producers
// never wait (one atomic exchange); the consumer never allocates, since the nodes are the items.
// T must have a member `std::atomic<T*> next`.
template <class T> class MpscQueue {
public:
    MpscQueue() : m_head(&m_stub), m_tail(&m_stub) { m_stub.next.store(nullptr); }
    MpscQueue(const MpscQueue&) = delete;
    MpscQueue& operator=(const MpscQueue&) = delete;

    void push(T* item)
    {
        item->next.store(nullptr, std::memory_order_relaxed);
        T* previous = m_head.exchange(item, std::memory_order_acq_rel);
        previous->next.store(item, std::memory_order_release);
    }

    // Consumer side; nullptr when empty (or while a push is half done, which the next call sees).
    T* pop()
    {
        T* tail = m_tail;
        T* next = tail->next.load(std::memory_order_acquire);
        if (tail == &m_stub) {
            if (!next)
                return nullptr;
            m_tail = next;
            tail = next;
            next = next->next.load(std::memory_order_acquire);
        }
        if (next) {
            m_tail = next;
            return tail;
        }
        if (tail != m_head.load(std::memory_order_acquire))
            return nullptr;
        push(&m_stub);
        next = tail->next.load(std::memory_order_acquire);
        if (next) {
            m_tail = next;
            return tail;
        }
        return nullptr;
    }

    // Consumer side: the item pop() would return next, left in place.
    T* peek()
    {
        if (!m_peeked)
            m_peeked = pop();
        return m_peeked;
    }
    T* take()
    {
        T* item = peek();
        m_peeked = nullptr;
        return item;
    }

private:
    T m_stub;
    std::atomic<T*> m_head;
    T* m_tail;
    T* m_peeked = nullptr;
};

// Latest-value hand-over of a trivially copyable T from one writer to one reader, wait-free on
// both sides: the writer fills its back slot and swaps it into the middle; the reader swaps the
// middle into its front slot when something new is there.
template <class T> class TripleBuffer {
public:
    explicit TripleBuffer(const T& initial = T()) { m_slots.fill(initial); }

    // Writer side.
    void write(const T& value)
    {
        m_slots[m_back] = value;
        const unsigned previous = m_middle.exchange(m_back | kFresh, std::memory_order_acq_rel);
        m_back = previous & kIndex;
    }

    // Reader side: the most recent value written, or the previous one when nothing is new.
    const T& read()
    {
        if (m_middle.load(std::memory_order_relaxed) & kFresh) {
            const unsigned previous = m_middle.exchange(m_front, std::memory_order_acq_rel);
            m_front = previous & kIndex;
        }
        return m_slots[m_front];
    }

    // Reader side: true when a value has been written since the last read.
    bool hasFresh() const { return m_middle.load(std::memory_order_acquire) & kFresh; }

private:
    static constexpr unsigned kFresh = 4;
    static constexpr unsigned kIndex = 3;
    std::array<T, 3> m_slots;
    std::atomic<unsigned> m_middle{1};
    unsigned m_front = 0;
    unsigned m_back = 2;
};
