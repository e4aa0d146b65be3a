#pragma once

// Internal records of the simulated audio server, shared by its source files.

#include "platform/sim/audio/AudioServer.h"

#include <algorithm>

namespace sim {

struct AudioServer::PlugIn {
    // The host interface must come first: the driver hands its address back to us.
    AudioServerPlugInHostInterface hostInterface;
    AudioServer* server = nullptr;
    std::string bundlePath;
    std::string bundleID;
    void* module = nullptr;
    AudioServerPlugInDriverRef driver = nullptr;
    bool loaded = false;
    std::map<AudioObjectID, AudioObjectID> serverIDs; // driver id -> server id
};

struct AudioServer::Proc {
    hal::IOProcID id = nullptr;
    hal::IOProc proc = nullptr;
    void* clientData = nullptr;
    UInt32 clientID = 0;
    bool running = false;
    bool destroyed = false;
};

struct AudioServer::Device {
    AudioObjectID id = 0;
    PlugIn* plugIn = nullptr; // null for built-in devices
    AudioObjectID driverID = 0;
    AudioObjectID inputStream = 0; // server ids, 0 when absent
    AudioObjectID outputStream = 0;
    AudioObjectID driverInputStream = 0;
    AudioObjectID driverOutputStream = 0;
    UInt32 inputChannels = 0;
    UInt32 outputChannels = 0;
    bool willRead = false;
    bool willWrite = false;

    // Built-in devices only.
    std::u16string name;
    std::u16string uid;
    CFStringRef nameRef = nullptr;
    CFStringRef uidRef = nullptr;
    UInt32 transportType = kAudioDeviceTransportTypeBuiltIn;
    std::shared_ptr<InputSource> source;
    std::vector<float> captured;
    Float64 sampleRateHz = AudioServer::kSampleRateHz;
    // The computer's device behind this one, and whether it is still there.
    std::shared_ptr<HostEndpoint> host;
    bool alive = true;
    UInt32 simulatedChannels = 0; // the channel count to return to when the backing goes

    std::vector<std::unique_ptr<Proc>> procs;
    UInt32 runningProcs = 0;

    // The live (not yet destroyed) proc with that id, or procs.end().
    auto liveProc(hal::IOProcID procID)
    {
        return std::find_if(procs.begin(), procs.end(),
                            [&](const auto& proc) { return proc->id == procID && !proc->destroyed; });
    }
    int cycling = 0;

    // The device clock: where the next cycle starts, and the zero time stamp it is anchored to.
    Float64 sampleTime = 0;
    Float64 zeroSampleTime = 0;
    UInt64 zeroHostTime = 0;
    UInt64 seed = 0;
    UInt64 pendingFrames = 0;
    UInt64 cycleCounter = 0;
    std::vector<float> inputBuffer;
    std::vector<float> mixBuffer;
    std::vector<float> procBuffer;
};

struct AudioServer::Object {
    enum class Kind { PlugIn, PlugInDevice, PlugInStream, BuiltInDevice, BuiltInStream };
    Kind kind;
    PlugIn* plugIn = nullptr;
    AudioObjectID driverID = 0;
    Device* device = nullptr; // the device itself, or the stream's device
    bool input = false;       // built-in streams
};

struct AudioServer::Listener {
    AudioObjectID object;
    AudioObjectPropertyAddress address;
    hal::PropertyListener proc;
    void* clientData;
};

struct AudioServer::Pending {
    AudioObjectID object;
    AudioObjectPropertyAddress address;
};

// One listener to call about one change, matched when the change was made.
struct AudioServer::Notification {
    Listener listener;
    Pending change;
};

// Holds the server lock; when the outermost guard goes, the property changes gathered meanwhile are matched
// to the listeners and queued for the notification thread, in the order they were made.
class AudioServer::Guard {
public:
    explicit Guard(const AudioServer& server);
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    AudioServer& m_server;
};

} // namespace sim
