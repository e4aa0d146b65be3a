#pragma once

// A client of the desktop's sound server (PulseAudio, or PipeWire's PulseAudio service) on libpulse's
// asynchronous API: the computer's inputs and outputs, followed as they come, go and change defaults, and
// capture or playback streams on one of them.
//
// Threads: libpulse runs on a loop thread of its own (its threaded main loop), which holds the loop's lock
// around every callback. Operations below take that lock briefly from the calling thread (any thread but
// an audio cycle). The device list is a snapshot under a mutex of its own, replaced by the loop thread. A
// stream's samples cross only through its lock-free ring: the loop thread fills (capture) or drains
// (playback) it, one other thread does the other side, so an audio cycle never waits on the loop's lock.

#include "platform/linux/sound/SampleRing.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace hostsound {

enum class Direction { Input, Output };

// One input (a source that is not a monitor) or output (a sink) of the computer.
struct Device {
    Direction direction = Direction::Output;
    std::string name;        // the server's name: stable while the device exists
    std::string description; // what the desktop shows, e.g. "Built-in Audio Analog Stereo"
    uint32_t sampleRateHz = 0;
    uint32_t channels = 0;
    bool isDefault = false;
    // The sound card behind it ("card:3"), the same for a card's microphone and speakers; empty when the
    // device belongs to no card (a virtual one).
    std::string card;
};

struct Loop;

class Stream {
public:
    enum class State { Connecting, Ready, Gone };

    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    Direction direction() const { return m_direction; }
    const std::string& deviceName() const { return m_device; }
    uint32_t sampleRateHz() const { return m_rateHz; }
    uint32_t channels() const { return m_channels; }
    // Gone once the device vanished, the server failed or the stream was refused: its IO has stopped.
    State state() const { return m_state.load(std::memory_order_acquire); }

    // Capture: frames heard and not yet read. Playback: frames queued and not yet taken by the server.
    size_t readableFrames() const { return m_ring.readableFrames(); }
    size_t writableFrames() const { return m_ring.writableFrames(); }
    // Capture, reader thread: up to `frames` interleaved frames; returns how many. Real-time safe.
    size_t read(float* interleaved, size_t frames)
    {
        m_reading.store(true, std::memory_order_relaxed);
        return m_ring.read(interleaved, frames);
    }
    // Playback, writer thread: queues up to `frames` frames; returns how many fit. Real-time safe.
    size_t write(const float* interleaved, size_t frames) { return m_ring.write(interleaved, frames); }

    // Playback: times the server found nothing to play once playing began. Capture: times captured
    // audio found the ring (or the server's buffer) full and was lost while someone was reading (a
    // stream nobody reads yet loses its oldest news by design).
    uint64_t underruns() const { return m_underruns.load(std::memory_order_relaxed); }
    uint64_t overruns() const { return m_overruns.load(std::memory_order_relaxed); }
    // What the server holds between this stream and its device, as it reports it (milliseconds; -1 when
    // unknown yet). Takes the loop's lock: never from an audio cycle.
    double serverLatencyMs() const;

private:
    friend class SoundServer;
    struct Callbacks;
    Stream(std::shared_ptr<Loop> loop, Direction direction, std::string device, uint32_t rateHz,
           uint32_t channels, size_t ringFrames);

    std::shared_ptr<Loop> m_loop;
    Direction m_direction;
    std::string m_device;
    uint32_t m_rateHz;
    uint32_t m_channels;
    SampleRing m_ring;
    void* m_stream = nullptr; // pa_stream*, touched under the loop's lock
    std::atomic<State> m_state{State::Connecting};
    std::atomic<bool> m_played{false};
    std::atomic<bool> m_reading{false};
    std::atomic<uint64_t> m_underruns{0};
    std::atomic<uint64_t> m_overruns{0};
};

class SoundServer {
public:
    // Connects without starting a server (so that "no server" is a real answer) and waits for the first
    // device list. `server` is a libpulse server string ("unix:/path"); empty: the desktop's own
    // (PULSE_SERVER, then the user's runtime folder). Null with `error` set when none answers.
    static std::unique_ptr<SoundServer> connect(const std::string& server, std::string& error,
                                                const std::string& clientName = "Orlea");
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // False once the server went away; the device list is then empty and every stream gone.
    bool isConnected() const;
    // Inputs then outputs, in the server's order.
    std::vector<Device> devices() const;
    // Bumped each time the list above is replaced.
    uint64_t devicesGeneration() const;
    // Called on the loop thread after the device list changed or the server went away: hop to your own
    // thread, and never destroy a stream or this object from there. Set before anything may change.
    void setOnChanged(std::function<void()> changed);

    // A stream on the named device at its format (float samples); `bufferMs` is the buffering asked of
    // the server per direction. Its IO starts when the server has set it up (state Ready).
    std::shared_ptr<Stream> open(Direction direction, const std::string& deviceName, uint32_t sampleRateHz,
                                 uint32_t channels, double bufferMs = 20);

    // Lists the devices afresh and waits for the new list: what the server had done before this call
    // is then in devices().
    void sync();

private:
    SoundServer();
    std::shared_ptr<Loop> m_loop;
};

} // namespace hostsound
