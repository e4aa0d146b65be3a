#include "app/audio/PropertyWatch.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace {

struct Entry {
    PropertyWatch::Changed changed;
    std::vector<std::thread::id> callers; // threads inside `changed` now
};

struct Table {
    std::mutex mutex;
    std::condition_variable idle;
    std::uintptr_t next = 1;
    std::unordered_map<std::uintptr_t, std::shared_ptr<Entry>> entries;
};

// Never destroyed: a notification thread may still look a number up while the process exits.
Table& table()
{
    static Table* instance = new Table;
    return *instance;
}

} // namespace

PropertyWatch::PropertyWatch(hal::AudioHardware& hardware, AudioObjectID object,
                             std::vector<AudioObjectPropertyAddress> addresses, Changed changed)
    : m_hardware(hardware), m_object(object)
{
    Table& watches = table();
    {
        std::lock_guard lock(watches.mutex);
        m_token = watches.next++;
        auto entry = std::make_shared<Entry>();
        entry->changed = std::move(changed);
        watches.entries.emplace(m_token, std::move(entry));
    }
    m_listening = true;
    for (const AudioObjectPropertyAddress& address : addresses) {
        if (m_hardware.addPropertyListener(m_object, address, listener, reinterpret_cast<void*>(m_token)) ==
            kAudioHardwareNoError)
            m_added.push_back(address);
        else
            m_listening = false;
    }
}

PropertyWatch::~PropertyWatch()
{
    for (const AudioObjectPropertyAddress& address : m_added)
        m_hardware.removePropertyListener(m_object, address, listener, reinterpret_cast<void*>(m_token));
    Table& watches = table();
    std::unique_lock lock(watches.mutex);
    const auto found = watches.entries.find(m_token);
    if (found == watches.entries.end())
        return;
    const std::shared_ptr<Entry> entry = found->second;
    watches.entries.erase(found);
    // A call already inside `changed` on another thread finishes first; one on this thread is our caller.
    const std::thread::id self = std::this_thread::get_id();
    watches.idle.wait(lock, [&] {
        return std::all_of(entry->callers.begin(), entry->callers.end(),
                           [&](std::thread::id caller) { return caller == self; });
    });
}

void PropertyWatch::listener(AudioObjectID, UInt32, const AudioObjectPropertyAddress*, void* clientData)
{
    Table& watches = table();
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard lock(watches.mutex);
        const auto found = watches.entries.find(reinterpret_cast<std::uintptr_t>(clientData));
        if (found == watches.entries.end())
            return; // removed: its owner may be gone
        entry = found->second;
        entry->callers.push_back(std::this_thread::get_id());
    }
    entry->changed();
    {
        std::lock_guard lock(watches.mutex);
        const auto caller =
            std::find(entry->callers.begin(), entry->callers.end(), std::this_thread::get_id());
        if (caller != entry->callers.end())
            entry->callers.erase(caller);
    }
    watches.idle.notify_all();
}
