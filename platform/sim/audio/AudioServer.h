#pragma once

// The simulated system audio server. It hosts driver plug-ins found in its plug-in folder exactly as the
// real server does (factory, QueryInterface, Initialize, property calls, StartIO/StopIO, the IO cycle), adds
// the system object and the Mac's built-in microphone and speakers, and runs every device's clock either
// in real time on a thread or stepped by hand.

#include "platform/hal/AudioHardware.h"
#include "platform/sim/audio/InputSource.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

class AudioServer : public hal::AudioHardware {
public:
    static constexpr AudioObjectID kMicrophoneID = 40;
    static constexpr AudioObjectID kSpeakersID = 50;
    static constexpr UInt32 kBufferFrames = 512;
    static constexpr Float64 kSampleRateHz = 48000.0;
    static constexpr size_t kCaptureLimitSeconds = 300;

    explicit AudioServer(std::string plugInFolder);
    ~AudioServer() override;
    AudioServer(const AudioServer&) = delete;
    AudioServer& operator=(const AudioServer&) = delete;

    // hal::AudioHardware
    bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) override;
    OSStatus isPropertySettable(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                bool& settable) override;
    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 UInt32 qualifierSize, const void* qualifier, UInt32& size) override;
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             UInt32 qualifierSize, const void* qualifier, UInt32& ioSize,
                             void* data) override;
    OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             UInt32 qualifierSize, const void* qualifier, UInt32 size,
                             const void* data) override;
    OSStatus addPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 hal::PropertyListener listener, void* clientData) override;
    OSStatus removePropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                    hal::PropertyListener listener, void* clientData) override;
    OSStatus createIOProcID(AudioObjectID device, hal::IOProc proc, void* clientData,
                            hal::IOProcID& procID) override;
    OSStatus destroyIOProcID(AudioObjectID device, hal::IOProcID procID) override;
    OSStatus start(AudioObjectID device, hal::IOProcID procID) override;
    OSStatus stop(AudioObjectID device, hal::IOProcID procID) override;

    // Plug-ins. Bundles are folders "<name>.driver" holding "Contents/Info.plist" and the module in
    // "Contents/MacOS" (see PlugInBundle.h).
    const std::string& plugInFolder() const { return m_plugInFolder; }
    // Loads every bundle of the folder that is not loaded yet; returns how many were loaded.
    int loadPlugIns();
    bool loadPlugIn(const std::string& bundlePath, std::string* error = nullptr);
    // Makes a plug-in's devices vanish (running IO is stopped first). The module stays mapped, as strings
    // it handed out may still be referenced.
    bool unloadPlugIn(const std::string& bundleID);
    bool isPlugInLoaded(const std::string& bundleID) const;
    std::vector<std::string> loadErrors() const;

    // Devices.
    bool removeDevice(AudioObjectID device);
    bool isRunning(AudioObjectID device) const;
    // Built-in input devices hear this source (silence by default).
    void setInputSource(AudioObjectID device, std::shared_ptr<InputSource> source);
    // What built-in output devices played, interleaved: at least the last kCaptureLimitSeconds.
    std::vector<float> capturedOutput(AudioObjectID device) const;
    void clearCapturedOutput(AudioObjectID device);

    // Fault injection: property reads and writes of this selector on this object fail with `status`
    // (0 removes the fault).
    void injectPropertyFault(AudioObjectID object, AudioObjectPropertySelector selector, OSStatus status);

    // Clocks. Manual: each call runs every running device's cycles for that many frames. Real time: a
    // thread runs each device's cycles as its clock (for a plug-in device, its zero time stamps) comes due.
    void advanceFrames(UInt64 frames);
    void startRealTime();
    void stopRealTime();

private:
    struct PlugIn;
    struct Device;
    struct Proc;
    struct Object;
    struct Listener;
    struct Pending;
    class Guard;

    static OSStatus hostPropertiesChanged(AudioServerPlugInHostRef host, AudioObjectID object, UInt32 count,
                                          const AudioObjectPropertyAddress* addresses);

    void addBuiltInDevices();
    void enumeratePlugInDevices(PlugIn& plugIn);
    void forgetDevice(Device& device);
    void chooseDefaultsAfterRemoval(AudioObjectID removed);
    void notify(AudioObjectID object, const AudioObjectPropertyAddress& address);
    Device* device(AudioObjectID id) const;
    const Object* object(AudioObjectID id) const;

    OSStatus systemProperty(const AudioObjectPropertyAddress& address, UInt32 qualifierSize,
                            const void* qualifier, UInt32& ioSize, void* data, bool sizeOnly);
    OSStatus builtInProperty(const Object& object, const AudioObjectPropertyAddress& address, UInt32& ioSize,
                             void* data, bool sizeOnly);
    OSStatus forwardGet(const Object& object, const AudioObjectPropertyAddress& address, UInt32 qualifierSize,
                        const void* qualifier, UInt32& ioSize, void* data, bool sizeOnly);
    AudioObjectID serverID(const PlugIn& plugIn, AudioObjectID driverID) const;
    std::vector<AudioObjectID> deviceList() const;

    OSStatus startDevice(Device& device);
    void stopDevice(Device& device);
    void runCycle(Device& device);
    void fillTimeStamp(const Device& device, Float64 sampleTime, AudioTimeStamp& stamp) const;
    void runDueCycles();
    void realTimeLoop();

    std::string m_plugInFolder;
    mutable std::recursive_mutex m_mutex;
    int m_depth = 0;
    std::vector<Pending> m_pending;
    std::vector<Listener> m_listeners;
    std::vector<std::unique_ptr<PlugIn>> m_plugIns;
    std::map<AudioObjectID, std::unique_ptr<Device>> m_devices;
    std::map<AudioObjectID, Object> m_objects;
    std::map<std::pair<AudioObjectID, AudioObjectPropertySelector>, OSStatus> m_faults;
    std::vector<std::string> m_loadErrors;
    AudioObjectID m_nextObjectID = 100;
    AudioObjectID m_defaultInput = kMicrophoneID;
    AudioObjectID m_defaultOutput = kSpeakersID;
    UInt32 m_nextClientID = 1;
    uintptr_t m_nextProcToken = 1;
    Float64 m_ticksPerFrame = 0;

    std::thread m_clockThread;
    std::mutex m_clockMutex;
    std::condition_variable m_clockWake;
    bool m_clockStop = false;
};

} // namespace sim
