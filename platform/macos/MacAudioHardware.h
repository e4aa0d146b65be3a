#pragma once

#include "platform/hal/AudioHardware.h"

#include <memory>
#include <mutex>
#include <vector>

namespace macos {

// The HAL seam on the system's Core Audio: every call forwards to the AudioObject*/AudioDevice* function of
// the same name, with the same statuses. IO procs are handed to the HAL as they are (the signatures are
// the HAL's own) and run on the device's IO thread.
//
// Property listeners run on the HAL's notification thread. Our listener type returns nothing, so each
// registration is kept in a small record that a forwarding function receives as its client data; the
// records are guarded by a mutex the notification thread never takes. A removed record is kept until the
// backend goes, since a notification already on its way may still read it.
class MacAudioHardware final : public hal::AudioHardware {
public:
    MacAudioHardware();
    // Removes the listeners still registered.
    ~MacAudioHardware() override;
    MacAudioHardware(const MacAudioHardware&) = delete;
    MacAudioHardware& operator=(const MacAudioHardware&) = delete;

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

private:
    struct Listener;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Listener>> m_listeners;
    std::vector<std::unique_ptr<Listener>> m_removed;
};

} // namespace macos
