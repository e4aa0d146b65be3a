#pragma once

#include "app/audio/AudioFlowHealth.h"
#include "app/audio/DeviceAudioEngine.h"
#include "app/audio/MacAudioRoute.h"
#include "app/audio/MicrophoneLimiter.h"
#include "app/audio/VoiceEQSettings.h"
#include "app/audio/VoiceOutputChain.h"
#include "app/audio/engine/AudioConverter.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class CallAudioRecorder;

// Moves sound between two devices and the AI conversation. Phone mode: captures the caller from the
// call device and hands it on as wire PCM (24 kHz mono 16-bit little-endian) through onPCM; plays the
// AI voice given to enqueue() through the voice chain into the voice device. Mac mode: one engine on
// the Mac microphone (voice processing on) and speakers. Every block is counted in health() and, with
// a recorder attached, recorded: track 0 the caller side, track 1 what the phone receives.
//
// Operations run on the main thread; the taps and completions run on the engines' service threads
// and share only health() (under its lock), onPCM and the monitor bridge. The player's count of
// frames played is an atomic its render writes and voicePlayedFrames() reads.
class AudioBridge {
public:
    struct Levels {
        double raw = 0;
        double converted = 0;
    };

    static constexpr int kTapBufferFrames = 2048;
    static constexpr float kVoiceHeadroom = 0.85f;
    static constexpr int kMaxPlayBytes = 2'000'000;
    // 100 ms at 24 kHz: what the intervention's players hold in hand against capture jitter.
    static constexpr int kMonitorLeadFrames = 2400;

    explicit AudioBridge(hal::AudioHardware& hardware);
    ~AudioBridge();
    AudioBridge(const AudioBridge&) = delete;
    AudioBridge& operator=(const AudioBridge&) = delete;

    // Set by the owner before start(). onPCM runs on the capture tap thread.
    std::shared_ptr<CallAudioRecorder> recorder;
    std::function<void(const QByteArray& pcm)> onPCM;

    // Builds both engines and starts them; throws AppError with the reason.
    void start(AudioObjectID inputID, AudioObjectID outputID, bool conversationOnMac);
    void stop();
    void enqueue(const QByteArray& pcm);
    void interrupt();
    void startIntervention(AudioObjectID microphoneID, AudioObjectID listeningID, AudioObjectID callInputID);
    void stopIntervention();

    // The AI voice's timeline, in 24 kHz frames since the bridge was made. Played: what the player has
    // rendered toward the phone (already on its way through the voice chain, so the caller hears all of
    // it); queued: where the next enqueued chunk starts. interrupt(), stop() and start() pull the queued
    // end back to what was played. Main thread.
    int64_t voicePlayedFrames() const;
    int64_t voiceQueuedFrames() const { return std::max(m_voiceQueuedEnd, voicePlayedFrames()); }

    bool needsRestart() const;
    bool enginesRunning() const;
    void resumeStoppedEngines();
    QString flowStatus() const;
    Levels inputLevels() const;
    void applyVoiceEQ(const VoiceEQSettings& settings);

    // A play block of the wire bytes in the play format (sample ÷ 32768), or nothing when the chunk is
    // shorter than one sample or 2,000,000 bytes or more.
    static std::shared_ptr<PcmBlock> playbackBuffer(const QByteArray& pcm);

    AudioFlowHealth& health() { return m_health; }
    const AudioFlowHealth& health() const { return m_health; }
    const QString& routeDescription() const { return m_routeDescription; }
    bool intervening() const { return m_monitor != nullptr; }
    AudioBridge* monitorBridge() const { return m_monitor.get(); }
    // Delivers every tap block and completion the IO cycles have made so far (tests and probes).
    void synchronize();

    static AudioFormat wireFormat() { return AudioFormat{24000.0, 1, SampleType::Int16, true}; }
    static AudioFormat playFormat() { return AudioFormat::standard(24000.0, 1); }

    // The engines of the current start (the same one in Mac mode), for diagnostics and fault tests.
    DeviceAudioEngine& captureEngine() const { return *(m_capture ? m_capture : m_playback); }
    DeviceAudioEngine& playbackEngine() const { return *m_playback; }

private:
    void captureBlock(const PcmBlock& block);
    void outputBlock(const PcmBlock& block);
    void schedule(AudioPlayerNode& player, AudioFlowHealth& health, std::shared_ptr<PcmBlock> block);

    hal::AudioHardware& m_hardware;
    // The capture engine is null in Mac mode, where the playback engine captures too.
    std::unique_ptr<DeviceAudioEngine> m_capture;
    std::unique_ptr<DeviceAudioEngine> m_playback;
    std::shared_ptr<AudioPlayerNode> m_player;
    std::shared_ptr<AudioPlayerNode> m_operatorPlayer;
    std::shared_ptr<AudioMixerNode> m_microphoneMixer;
    std::unique_ptr<VoiceOutputChain> m_voiceOutput;
    VoiceEQSettings m_voiceEQ;
    MacAudioRoute m_interventionRoute;
    std::unique_ptr<AudioBridge> m_monitor;
    std::atomic<AudioBridge*> m_monitorForTap{nullptr};
    bool m_tapped = false;
    bool m_outputTapped = false;
    std::optional<AudioFormat> m_captureFormat;
    std::optional<AudioFormat> m_mixerFormat;
    mutable AudioFlowHealth m_health; // its lock guards the counters, also in const readers
    QString m_routeDescription;

    // What the taps of the current start keep.
    bool m_macMode = false;
    std::unique_ptr<AudioConverter> m_inputConverter;
    std::unique_ptr<AudioConverter> m_outputConverter;
    std::unique_ptr<MicrophoneLimiter> m_limiter;
    std::shared_ptr<CallAudioRecorder> m_tapRecorder;

    // Voice timeline: frames played by the players of earlier starts, and the end of the queue.
    int64_t m_voicePlayedBase = 0;
    int64_t m_voiceQueuedEnd = 0;
};
