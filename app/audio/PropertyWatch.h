#pragma once

#include "platform/hal/AudioHardware.h"

#include <cstdint>
#include <functional>
#include <vector>

// A property listener that outlives nothing. The hardware calls listeners on its own notification
// thread, and may still call one that was removed a moment before (the change was matched to it when
// it was made), so a listener's client data cannot point at an object its owner frees. This one hands
// the hardware a number instead, looked up in a table that lives as long as the process.
//
// Threads: construction and destruction on the owner's thread; `changed` on the hardware's notification
// thread, never after the destructor has returned. The destructor waits for a call in progress on
// another thread; `changed` may destroy its own watch.
class PropertyWatch {
public:
    using Changed = std::function<void()>;

    // Listens to each address of `object`; `changed` runs once per notification.
    PropertyWatch(hal::AudioHardware& hardware, AudioObjectID object,
                  std::vector<AudioObjectPropertyAddress> addresses, Changed changed);
    ~PropertyWatch();
    PropertyWatch(const PropertyWatch&) = delete;
    PropertyWatch& operator=(const PropertyWatch&) = delete;

    // Every address was accepted by the hardware.
    bool isListening() const { return m_listening; }

private:
    static void listener(AudioObjectID object, UInt32 count, const AudioObjectPropertyAddress* addresses,
                         void* clientData);

    hal::AudioHardware& m_hardware;
    AudioObjectID m_object;
    std::vector<AudioObjectPropertyAddress> m_added;
    std::uintptr_t m_token;
    bool m_listening = false;
};
