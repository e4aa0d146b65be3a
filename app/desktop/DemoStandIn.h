#pragma once

#include <QString>
#include <QThread>
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
    DemoStandIn();
    ~DemoStandIn();
    DemoStandIn(const DemoStandIn&) = delete;
    DemoStandIn& operator=(const DemoStandIn&) = delete;

    // Blocks until the server listens (true) or failed (false, see errorString).
    bool start();
    void stop();
    QUrl url() const { return m_url; }
    QString errorString() const { return m_errorString; }

    // Steady-clock time at which the first "input_audio_buffer.append" holding a sample at or above
    // `kSoundPeak` arrived; nullopt until then.
    std::optional<std::chrono::steady_clock::time_point> firstSoundReceived() const;
    // About -40 dBFS, in 16-bit sample units.
    static constexpr int kSoundPeak = 300;

private:
    QThread m_thread;
    QObject* m_anchor = nullptr; // lives on m_thread; owns the server and the agent
    QUrl m_url;
    QString m_errorString;
    std::atomic<std::int64_t> m_firstSoundNs{-1};
};
