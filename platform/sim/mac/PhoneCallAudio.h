#pragma once

#include "app/common/Scheduler.h"
#include "platform/sim/audio/AudioClient.h"
#include "platform/sim/audio/InputSource.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace sim {

class AudioServer;
class PhoneApp;

// The Phone app's side of a call's sound. While a call is active the Phone app opens its audio on the
// devices it uses (chosen in its "Vidéo" menu, or the system's defaults): it plays the caller's voice
// into its speaker device and records what its microphone device brings, i.e. what the caller hears.
// The audio closes when the call ends and reopens on the new devices when the route changes mid-call.
// Main thread only.
class PhoneCallAudio {
public:
    // Takes over the Phone app's call-state and route hooks; `scheduler` paces the collection of what
    // the microphone records while a call is open.
    PhoneCallAudio(AudioServer& server, PhoneApp& phone, Scheduler& scheduler);
    ~PhoneCallAudio();
    PhoneCallAudio(const PhoneCallAudio&) = delete;
    PhoneCallAudio& operator=(const PhoneCallAudio&) = delete;

    // The far end's voice for the current and later calls (null: the caller is silent). A reopened
    // route carries on where the voice was.
    void setCallerVoice(std::shared_ptr<InputSource> voice);
    std::shared_ptr<InputSource> callerVoice() const { return m_voice; }
    // Hears what the caller hears as it arrives (the person at the computer listening); null: nobody.
    void setCallerEar(std::shared_ptr<AudioClient::InputTap> ear);

    bool isOpen() const { return m_open; }
    // The devices the open audio uses (empty when closed).
    QString speakerDevice() const { return m_speakerName; }
    QString microphoneDevice() const { return m_microphoneName; }
    // Why the last opening left a direction without a device; empty when both opened.
    QString lastError() const { return m_error; }
    int openCount() const { return m_openCount; }

    // What the caller heard: the Phone app's microphone, mono at 48 kHz, the first kKeptSeconds from the
    // moment the call became active (or the last clear), so an index over 48 000 is the time since the
    // answer. Kept after the call ends, until the next call. Tests and the demo's latency look at the
    // first seconds; a long call keeps no more than that.
    std::vector<float> heardByCaller();
    void clearHeard();
    static constexpr double kKeptSeconds = 30;
    // How often the microphone's recording is folded to mono, and how much of it the client may hold
    // when that is late.
    static constexpr double kCollectSeconds = 1;
    static constexpr double kClientSeconds = 4;

    // Opens, closes or reopens to match the Phone app's call and route; the hooks call it.
    void update();
    // Reopens on the current devices when a call is active.
    void reopen();
    // Reopens when the devices the call should use are not the ones open: the system default changed,
    // a device in use vanished, or a missing one appeared.
    void refresh();

    std::function<void()> onChanged;

private:
    void open();
    void close();
    void collect();
    void changed();

    AudioServer& m_server;
    PhoneApp& m_phone;
    Scheduler& m_scheduler;
    TaskHandle m_collector;
    std::shared_ptr<InputSource> m_voice;
    std::shared_ptr<AudioClient::InputTap> m_ear;
    AudioObjectID m_speakerID = 0;
    AudioObjectID m_microphoneID = 0;
    std::unique_ptr<AudioClient> m_speaker;
    std::unique_ptr<AudioClient> m_microphone; // null when the speaker's client records too
    AudioClient* m_recorder = nullptr;
    UInt32 m_recorderChannels = 0;
    bool m_open = false;
    QString m_speakerName;
    QString m_microphoneName;
    QString m_error;
    int m_openCount = 0;
    std::vector<float> m_heard;
};

// A caller voice: a sine tone, endless when `seconds` is 0.
std::shared_ptr<InputSource> toneVoice(double frequencyHz, float amplitude, double seconds = 0);

} // namespace sim
