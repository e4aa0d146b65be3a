#include "platform/macos/MacAudioHardware.h"

#include <CoreAudio/AudioHardware.h>

#include <algorithm>

namespace macos {

struct MacAudioHardware::Listener {
    AudioObjectID object;
    AudioObjectPropertyAddress address;
    hal::PropertyListener listener;
    void* clientData;

    bool same(AudioObjectID otherObject, const AudioObjectPropertyAddress& otherAddress,
              hal::PropertyListener otherListener, void* otherClientData) const
    {
        return object == otherObject && address.mSelector == otherAddress.mSelector &&
               address.mScope == otherAddress.mScope && address.mElement == otherAddress.mElement &&
               listener == otherListener && clientData == otherClientData;
    }

    // HAL notification thread.
    static OSStatus forward(AudioObjectID object, UInt32 count, const AudioObjectPropertyAddress* addresses,
                            void* record)
    {
        const Listener& self = *static_cast<const Listener*>(record);
        self.listener(object, count, addresses, self.clientData);
        return kAudioHardwareNoError;
    }
};

// The IO proc id the HAL hands out is itself a function pointer; it crosses our seam as an opaque token.
static_assert(sizeof(AudioDeviceIOProcID) == sizeof(hal::IOProcID));

namespace {

hal::IOProcID toToken(AudioDeviceIOProcID id)
{
    return reinterpret_cast<hal::IOProcID>(id);
}

AudioDeviceIOProcID fromToken(hal::IOProcID token)
{
    return reinterpret_cast<AudioDeviceIOProcID>(token);
}

} // namespace

MacAudioHardware::MacAudioHardware() = default;

MacAudioHardware::~MacAudioHardware()
{
    const std::lock_guard lock(m_mutex);
    for (const auto& record : m_listeners)
        AudioObjectRemovePropertyListener(record->object, &record->address, Listener::forward, record.get());
}

bool MacAudioHardware::hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address)
{
    return AudioObjectHasProperty(object, &address);
}

OSStatus MacAudioHardware::isPropertySettable(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                              bool& settable)
{
    Boolean answer = false;
    const OSStatus status = AudioObjectIsPropertySettable(object, &address, &answer);
    if (status == kAudioHardwareNoError)
        settable = answer != 0;
    return status;
}

OSStatus MacAudioHardware::getPropertyDataSize(AudioObjectID object,
                                               const AudioObjectPropertyAddress& address,
                                               UInt32 qualifierSize, const void* qualifier, UInt32& size)
{
    return AudioObjectGetPropertyDataSize(object, &address, qualifierSize, qualifier, &size);
}

OSStatus MacAudioHardware::getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                           UInt32 qualifierSize, const void* qualifier, UInt32& ioSize,
                                           void* data)
{
    return AudioObjectGetPropertyData(object, &address, qualifierSize, qualifier, &ioSize, data);
}

OSStatus MacAudioHardware::setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                           UInt32 qualifierSize, const void* qualifier, UInt32 size,
                                           const void* data)
{
    return AudioObjectSetPropertyData(object, &address, qualifierSize, qualifier, size, data);
}

OSStatus MacAudioHardware::addPropertyListener(AudioObjectID object,
                                               const AudioObjectPropertyAddress& address,
                                               hal::PropertyListener listener, void* clientData)
{
    if (listener == nullptr)
        return kAudioHardwareIllegalOperationError;
    auto record = std::make_unique<Listener>(Listener{object, address, listener, clientData});
    const std::lock_guard lock(m_mutex);
    const OSStatus status = AudioObjectAddPropertyListener(object, &address, Listener::forward, record.get());
    if (status == kAudioHardwareNoError)
        m_listeners.push_back(std::move(record));
    return status;
}

OSStatus MacAudioHardware::removePropertyListener(AudioObjectID object,
                                                  const AudioObjectPropertyAddress& address,
                                                  hal::PropertyListener listener, void* clientData)
{
    const std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_listeners.begin(), m_listeners.end(), [&](const auto& record) {
        return record->same(object, address, listener, clientData);
    });
    if (it == m_listeners.end())
        return kAudioHardwareIllegalOperationError;
    const OSStatus status = AudioObjectRemovePropertyListener(object, &address, Listener::forward, it->get());
    // A device that vanished has dropped its listeners already; the registration is over either way.
    m_removed.push_back(std::move(*it));
    m_listeners.erase(it);
    return status;
}

OSStatus MacAudioHardware::createIOProcID(AudioObjectID device, hal::IOProc proc, void* clientData,
                                          hal::IOProcID& procID)
{
    AudioDeviceIOProcID id = nullptr;
    const OSStatus status = AudioDeviceCreateIOProcID(device, proc, clientData, &id);
    if (status == kAudioHardwareNoError)
        procID = toToken(id);
    return status;
}

OSStatus MacAudioHardware::destroyIOProcID(AudioObjectID device, hal::IOProcID procID)
{
    return AudioDeviceDestroyIOProcID(device, fromToken(procID));
}

OSStatus MacAudioHardware::start(AudioObjectID device, hal::IOProcID procID)
{
    return AudioDeviceStart(device, fromToken(procID));
}

OSStatus MacAudioHardware::stop(AudioObjectID device, hal::IOProcID procID)
{
    return AudioDeviceStop(device, fromToken(procID));
}

} // namespace macos
