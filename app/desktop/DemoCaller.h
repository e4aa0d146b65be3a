#pragma once

#include "platform/sim/audio/InputSource.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

// The demo's caller: the French phrases the Simulateur speaks (espeak-ng), or beeps in the same rhythm
// when the synthesiser is missing, after a lead-in that lets the AI's greeting finish. It notes when its
// first sound left the Phone app, to measure the way to the AI.
class DemoCaller final : public sim::InputSource {
public:
    // `cacheFolder` keeps the synthesised voice between runs.
    static std::shared_ptr<DemoCaller> make(const QString& cacheFolder);

    // Real-time: no allocation, no lock.
    void render(float* out, uint32_t frames, uint32_t channels) override;

    // How many turns the caller speaks.
    int turns() const { return m_turns; }
    // Empty when the synthesised phrases are used; otherwise why the beeps replace them.
    QString fallbackReason() const { return m_fallbackReason; }
    // Steady-clock time at which the first sample at or above `kSoundLevel` was played; nullopt before.
    std::optional<std::chrono::steady_clock::time_point> firstSound() const;

    // The person at the Mac reading the microphone check's sentence, over and over (a tone when the
    // synthesiser is missing).
    static std::shared_ptr<sim::InputSource> personAtTheMac(const QString& cacheFolder);

    // The greeting starts 1.5 s after the answer and lasts about 4 s; the phrases already pause 8 s first.
    static constexpr double kLeadInSeconds = 0.5;
    static constexpr float kSoundLevel = 0.01f; // -40 dBFS
    static constexpr double kSampleRateHz = 48000;

private:
    DemoCaller(std::shared_ptr<sim::InputSource> voice, int turns, QString fallbackReason);

    std::shared_ptr<sim::InputSource> m_voice;
    int m_turns;
    QString m_fallbackReason;
    uint64_t m_leadInFrames;
    std::atomic<int64_t> m_firstSoundNs{-1};
};
