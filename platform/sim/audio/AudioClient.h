#pragma once

// A simulated client process of the audio server (the Phone app, a test): it opens IO on one device, plays
// queued samples into the device's output and keeps what the device's input delivers.

#include "platform/hal/AudioHardware.h"
#include "platform/sim/audio/InputSource.h"

#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace sim {

class AudioClient {
public:
    // Hears what the device's input delivers, in the IO cycle (the server's IO thread), interleaved.
    class InputTap {
    public:
        virtual ~InputTap() = default;
        virtual void heard(const float* interleaved, size_t frames, unsigned channels) = 0;
    };

    AudioClient(hal::AudioHardware& hardware, AudioObjectID device);
    ~AudioClient();
    AudioClient(const AudioClient&) = delete;
    AudioClient& operator=(const AudioClient&) = delete;

    // The status of opening the device; every other call is a no-op when it is not 0.
    OSStatus openStatus() const { return m_status; }
    OSStatus start();
    OSStatus stop();

    UInt32 inputChannels() const { return m_inputChannels; }
    UInt32 outputChannels() const { return m_outputChannels; }

    // Interleaved samples at the device's channel count, played after what is already queued.
    void play(const std::vector<float>& interleaved);
    size_t queuedSamples() const;
    // Once the queue is empty the device plays this source (a voice that keeps talking); null: silence.
    void setOutputSource(std::shared_ptr<InputSource> source);
    // Keeps at most the last `samples` recorded samples (0 keeps nothing), so that a client that only
    // plays, or one left running for hours, does not pile up what its device hears.
    void setRecordingLimit(size_t samples);
    // Also hands each cycle's input to `tap` (null: none).
    void setInputTap(std::shared_ptr<InputTap> tap);
    // Everything the device's input delivered since the last call, interleaved.
    std::vector<float> takeRecorded();
    // Sample times of the last cycle, for latency checks.
    Float64 lastInputSampleTime() const;
    Float64 lastOutputSampleTime() const;

private:
    static OSStatus ioProc(AudioObjectID device, const AudioTimeStamp* now, const AudioBufferList* input,
                           const AudioTimeStamp* inputTime, AudioBufferList* output,
                           const AudioTimeStamp* outputTime, void* clientData);

    hal::AudioHardware& m_hardware;
    AudioObjectID m_device;
    hal::IOProcID m_proc = nullptr;
    OSStatus m_status = 0;
    UInt32 m_inputChannels = 0;
    UInt32 m_outputChannels = 0;
    mutable std::mutex m_mutex;
    std::deque<float> m_queue;
    std::vector<float> m_recorded;
    std::shared_ptr<InputSource> m_outputSource;
    std::shared_ptr<InputTap> m_tap;
    size_t m_recordingLimit = std::numeric_limits<size_t>::max();
    Float64 m_inputSampleTime = -1;
    Float64 m_outputSampleTime = -1;
};

} // namespace sim
