#pragma once

// The simulated system audio server. It hosts driver plug-ins found in its plug-in folder exactly as the
// real server does (factory, QueryInterface, Initialize, property calls, StartIO/StopIO, the IO cycle), adds
// the system object and the Mac's built-in microphone and speakers, and runs every device's clock either
// in real time on a thread or stepped by hand.
//
// Threads: every call may come from any thread; one recursive lock guards the server's state, and IO
// procs run under it (on the clock thread in real time, on the caller's thread when stepped by hand).
// Property listeners are called as the real server calls them: later, on the server's own notification
// thread, never under its lock and never on the thread that made the change. A listener is matched to a
// change when the change is made, so one removed meanwhile may still be called once, as on a Mac.

#include "platform/hal/AudioHardware.h"
#include "platform/hal/HalString.h"
#include "platform/sim/audio/HostEndpoint.h"
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

// Who hands property changes to the listeners.
enum class NotificationDelivery {
    // The server's own notification thread, as on a Mac.
    Thread,
    // Whoever calls flushNotifications(), on that thread: for tests that want every step in hand.
    Manual,
};

// A device of the Mac's own hardware or plugged in later (a headset, a sound server's device): it hears
// its input source and keeps what it plays, like the built-in ones.
struct DeviceDescription {
    std::u16string name;
    std::u16string uid;
    UInt32 inputChannels = 0;
    UInt32 outputChannels = 0;
    UInt32 transportType = kAudioDeviceTransportTypeBuiltIn;
};

class AudioServer : public hal::AudioHardware {
public:
    static constexpr AudioObjectID kMicrophoneID = 40;
    static constexpr AudioObjectID kSpeakersID = 50;
    static constexpr UInt32 kBufferFrames = 512;
    static constexpr Float64 kSampleRateHz = 48000.0;
    static constexpr size_t kCaptureLimitSeconds = 300;

    explicit AudioServer(std::string plugInFolder,
                         NotificationDelivery delivery = NotificationDelivery::Thread);
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

    // Devices. Any thread; listeners hear of the change on the notification thread.
    AudioObjectID addDevice(const DeviceDescription& description);
    bool removeDevice(AudioObjectID device);
    bool isRunning(AudioObjectID device) const;
    // Built-in input devices hear this source (silence by default).
    void setInputSource(AudioObjectID device, std::shared_ptr<InputSource> source);
    // Backs a built-in device with a device of the computer (null: back to the simulated hardware). The
    // device takes the endpoint's rate and channels and runs on its clock; running IO stops first, as a
    // format change stops it on a Mac. An endpoint that dies makes the device report itself not alive and
    // stops its IO until it is backed again.
    bool setHostEndpoint(AudioObjectID device, std::shared_ptr<HostEndpoint> endpoint);
    bool isAlive(AudioObjectID device) const;
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

    // Every change made before this call has reached its listeners when it returns: delivered here in
    // manual mode; waited for otherwise (at once when called from a listener, which runs on that thread).
    void flushNotifications();

private:
    struct PlugIn;
    struct Device;
    struct Proc;
    struct Object;
    struct Listener;
    struct Pending;
    struct Notification;
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
    void runHostCycles(Device& device);
    Float64 ticksPerFrame(const Device& device) const;
    void realTimeLoop();
    void queueNotifications(std::vector<Notification> batch);
    void notificationLoop();
    CFStringRef keepString(const std::u16string& text);

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

    // Strings handed out for added devices live as long as the server: clients may still hold them.
    std::vector<std::unique_ptr<hal::StringRef>> m_strings;

    NotificationDelivery m_delivery;
    std::mutex m_notifyMutex; // taken under m_mutex, never the other way round
    std::condition_variable m_notifyWake;
    std::condition_variable m_notifyDone;
    std::vector<Notification> m_notifications;
    UInt64 m_notificationsQueued = 0;
    UInt64 m_notificationsDelivered = 0;
    bool m_notifyStop = false;
    std::thread m_notifyThread;
    std::thread::id m_notifyThreadID;

    std::thread m_clockThread;
    std::mutex m_clockMutex;
    std::condition_variable m_clockWake;
    bool m_clockStop = false;
};

} // namespace sim
