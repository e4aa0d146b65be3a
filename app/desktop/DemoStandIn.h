#pragma once

#include "tools/realtime-standin/RealtimeStandInThread.h"

#include <QString>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

// The demo's AI inside the process: the realtime stand-in with its scripted agent on a thread of its
// own, reached by the client over a real loopback socket. It also notes when the first audio carrying
// sound arrived from the client, to measure the caller's path to the AI.
class DemoStandIn {
public:
    // Blocks until the server listens (true) or failed (false, see errorString).
    bool start();
    void stop() { m_server.stop(); }
    QUrl url() const { return m_server.url(); }
    QString errorString() const { return m_server.errorString(); }

    // Steady-clock time at which the first "input_audio_buffer.append" holding a sample at or above
    // `kSoundPeak` arrived; nullopt until then.
    std::optional<std::chrono::steady_clock::time_point> firstSoundReceived() const;
    // About -40 dBFS, in 16-bit sample units.
    static constexpr int kSoundPeak = 300;

private:
    std::atomic<std::int64_t> m_firstSoundNs{-1};
    // Last, so its thread stops before the field its callback writes goes away.
    RealtimeStandInThread m_server;
};
