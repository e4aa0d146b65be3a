#pragma once

#include "app/audio/PropertyWatch.h"
#include "app/audio/engine/AudioEngine.h"
#include "platform/hal/AudioHardware.h"

#include <atomic>
#include <memory>
#include <vector>

// An AudioEngine bound to hal devices: its input node captures in the input device's IO proc and its
// output node renders in the output device's, at each device's rate and channel count. A device that
// vanishes or stops under a running engine stops it "by the system", which the bridge notices.
//
// Threads: configuration, start and stop on the main thread; the IO procs on the devices' IO threads
// (real-time, they only reach the engine's render and capture); the device listeners on the
// hardware's notification thread, where they may stop the engine. stop() removes the listeners and
// waits for one in progress before it frees what they use.
class DeviceAudioEngine {
public:
    explicit DeviceAudioEngine(hal::AudioHardware& hardware);
    ~DeviceAudioEngine();
    DeviceAudioEngine(const DeviceAudioEngine&) = delete;
    DeviceAudioEngine& operator=(const DeviceAudioEngine&) = delete;

    AudioEngine& engine() { return m_engine; }
    hal::AudioHardware& hardware() { return m_hardware; }

    // Main thread, engine stopped: the device whose input the input node delivers (the current device
    // of the input unit) and the device the output node plays to. The node takes the device's current
    // stream format (0 channels when the device has no stream in that direction). Non-zero status when
    // the device is unknown.
    OSStatus setInputDevice(AudioObjectID device);
    OSStatus setOutputDevice(AudioObjectID device);
    AudioObjectID inputDevice() const { return m_inputDevice; }
    AudioObjectID outputDevice() const { return m_outputDevice; }

    // The device's stream format as the hardware reports it now; invalid when it cannot be read.
    AudioFormat currentInputFormat() const;
    AudioFormat currentOutputFormat() const;
    static AudioFormat deviceFormat(hal::AudioHardware& hardware, AudioObjectID device,
                                    AudioObjectPropertyScope scope);

    // Main thread. Starts the engine, then the IO procs of its devices; throws AppError (engine
    // stopped, IO released) when the graph or a device refuses.
    void start();
    // Main thread. Stops and releases the IO procs, then the engine; a stop a device listener makes at
    // the same time is waited for.
    void stop();
    bool isRunning() const { return m_engine.isRunning(); }
    bool wasStoppedBySystem() const { return m_engine.wasStoppedBySystem(); }
    // Delivers what the IO cycles made so far to taps and completions (tests, orderly shutdown).
    void synchronize() { m_engine.synchronize(); }

private:
    struct Binding {
        DeviceAudioEngine* owner = nullptr;
        AudioObjectID device = 0;
        bool captures = false;
        bool renders = false;
        int inputChannels = 0;
        int outputChannels = 0;
        hal::IOProcID proc = nullptr;
        std::unique_ptr<PropertyWatch> watch;
    };

    static OSStatus ioProc(AudioObjectID device, const AudioTimeStamp* now, const AudioBufferList* input,
                           const AudioTimeStamp* inputTime, AudioBufferList* output,
                           const AudioTimeStamp* outputTime, void* clientData);
    // Notification thread: stops the engine when `device` no longer runs for it.
    void deviceChanged(AudioObjectID device);
    // Main thread: listeners first (waiting for one in progress), then the IO procs.
    void releaseBindings();
    bool deviceStillRuns(AudioObjectID device);

    hal::AudioHardware& m_hardware;
    AudioEngine m_engine;
    AudioObjectID m_inputDevice = kAudioObjectUnknown;
    AudioObjectID m_outputDevice = kAudioObjectUnknown;
    std::vector<std::unique_ptr<Binding>> m_bindings;
    std::atomic<bool> m_ioStarted{false};
};
