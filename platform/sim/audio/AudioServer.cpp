#include "platform/sim/audio/AudioServerPrivate.h"

#include "driver/HostClock.h"
#include "platform/sim/audio/PlugInBundle.h"

#include <algorithm>
#include <dlfcn.h>
#include <filesystem>
#include <pthread.h>

namespace sim {
namespace {

const __CFUUID kPlugInType = {
    {0x44, 0x3A, 0xBA, 0xB8, 0xE7, 0xB3, 0x49, 0x1A, 0xB9, 0x85, 0xBE, 0xB9, 0x18, 0x70, 0x30, 0xDB}};
const CFUUIDBytes kDriverInterface = {0xEE, 0xA5, 0x77, 0x3D, 0xCC, 0x43, 0x49, 0xF1,
                                      0x8E, 0x00, 0x8F, 0x96, 0xE7, 0xD2, 0x3B, 0x17};

bool matches(UInt32 wanted, UInt32 actual, UInt32 wildcard)
{
    return wanted == actual || wanted == wildcard || actual == wildcard;
}

} // namespace

AudioServer::Guard::Guard(const AudioServer& server) : m_server(const_cast<AudioServer&>(server))
{
    m_server.m_mutex.lock();
    ++m_server.m_depth;
}

AudioServer::Guard::~Guard()
{
    if (--m_server.m_depth == 0 && !m_server.m_pending.empty()) {
        std::vector<Notification> batch;
        for (const Pending& change : m_server.m_pending)
            for (const Listener& listener : m_server.m_listeners)
                if (listener.object == change.object &&
                    matches(listener.address.mSelector, change.address.mSelector,
                            kAudioObjectPropertySelectorWildcard) &&
                    matches(listener.address.mScope, change.address.mScope,
                            kAudioObjectPropertyScopeWildcard) &&
                    matches(listener.address.mElement, change.address.mElement,
                            kAudioObjectPropertyElementWildcard))
                    batch.push_back({listener, change});
        m_server.m_pending.clear();
        // Queued under the server lock, so batches keep the order in which their changes were made.
        if (!batch.empty())
            m_server.queueNotifications(std::move(batch));
    }
    m_server.m_mutex.unlock();
}

AudioServer::AudioServer(std::string plugInFolder, NotificationDelivery delivery)
    : m_plugInFolder(std::move(plugInFolder)), m_delivery(delivery)
{
    UInt32 numerator = 1, denominator = 1;
    hostClockTimebase(numerator, denominator);
    m_ticksPerFrame = Float64(denominator) * 1e9 / Float64(numerator) / kSampleRateHz;
    addBuiltInDevices();
    if (m_delivery == NotificationDelivery::Thread) {
        m_notifyThread = std::thread([this] { notificationLoop(); });
        m_notifyThreadID = m_notifyThread.get_id();
    }
}

AudioServer::~AudioServer()
{
    stopRealTime();
    {
        Guard guard(*this);
        for (auto& [id, device] : m_devices)
            if (device->runningProcs > 0)
                stopDevice(*device);
        m_pending.clear();
    }
    // Changes nobody was told about yet die with the server.
    {
        std::lock_guard lock(m_notifyMutex);
        m_notifyStop = true;
        m_notificationsDelivered = m_notificationsQueued;
        m_notifications.clear();
    }
    m_notifyWake.notify_all();
    m_notifyDone.notify_all();
    if (m_notifyThread.joinable())
        m_notifyThread.join();
    // Modules stay mapped: a driver's static strings may outlive this server in its clients' hands.
}

void AudioServer::queueNotifications(std::vector<Notification> batch)
{
    {
        std::lock_guard lock(m_notifyMutex);
        m_notificationsQueued += batch.size();
        m_notifications.insert(m_notifications.end(), std::make_move_iterator(batch.begin()),
                               std::make_move_iterator(batch.end()));
    }
    m_notifyWake.notify_one();
}

void AudioServer::notificationLoop()
{
    pthread_setname_np(pthread_self(), "sim.audio.notify");
    std::unique_lock lock(m_notifyMutex);
    for (;;) {
        m_notifyWake.wait(lock, [this] { return m_notifyStop || !m_notifications.empty(); });
        if (m_notifyStop)
            return;
        std::vector<Notification> batch = std::move(m_notifications);
        m_notifications.clear();
        lock.unlock();
        for (const Notification& call : batch)
            call.listener.proc(call.change.object, 1, &call.change.address, call.listener.clientData);
        lock.lock();
        m_notificationsDelivered += batch.size();
        m_notifyDone.notify_all();
    }
}

void AudioServer::flushNotifications()
{
    if (m_delivery == NotificationDelivery::Manual) {
        for (;;) {
            std::vector<Notification> batch;
            {
                std::lock_guard lock(m_notifyMutex);
                batch = std::move(m_notifications);
                m_notifications.clear();
                m_notificationsDelivered += batch.size();
            }
            if (batch.empty())
                return;
            for (const Notification& call : batch)
                call.listener.proc(call.change.object, 1, &call.change.address, call.listener.clientData);
        }
    }
    if (std::this_thread::get_id() == m_notifyThreadID)
        return;
    std::unique_lock lock(m_notifyMutex);
    const UInt64 target = m_notificationsQueued;
    m_notifyDone.wait(lock, [&] { return m_notificationsDelivered >= target; });
}

CFStringRef AudioServer::keepString(const std::u16string& text)
{
    m_strings.push_back(std::make_unique<hal::StringRef>(text));
    return m_strings.back()->get();
}

void AudioServer::addBuiltInDevices()
{
    addDevice(
        {u"MacBook Pro Microphone", u"BuiltInMicrophoneDevice", 1, 0, kAudioDeviceTransportTypeBuiltIn});
    addDevice({u"MacBook Pro Speakers", u"BuiltInSpeakerDevice", 0, 2, kAudioDeviceTransportTypeBuiltIn});
}

AudioObjectID AudioServer::addDevice(const DeviceDescription& description)
{
    Guard guard(*this);
    // The Mac's own microphone and speakers keep their well-known ids; later devices take new ones.
    AudioObjectID id = m_nextObjectID;
    if (m_devices.empty())
        id = kMicrophoneID;
    else if (m_devices.size() == 1 && m_devices.count(kMicrophoneID) != 0)
        id = kSpeakersID;
    else
        m_nextObjectID += 3;
    auto device = std::make_unique<Device>();
    device->id = id;
    device->name = description.name;
    device->uid = description.uid;
    device->nameRef = keepString(description.name);
    device->uidRef = keepString(description.uid);
    device->transportType = description.transportType;
    device->inputChannels = description.inputChannels;
    device->outputChannels = description.outputChannels;
    m_objects[id] = {Object::Kind::BuiltInDevice, nullptr, 0, device.get(), false};
    AudioObjectID stream = id;
    if (description.inputChannels > 0) {
        device->inputStream = ++stream;
        device->source = InputSource::silence();
        m_objects[stream] = {Object::Kind::BuiltInStream, nullptr, 0, device.get(), true};
    }
    if (description.outputChannels > 0) {
        device->outputStream = ++stream;
        m_objects[stream] = {Object::Kind::BuiltInStream, nullptr, 0, device.get(), false};
    }
    m_devices[id] = std::move(device);
    notify(kAudioObjectSystemObject, hal::address(kAudioHardwarePropertyDevices));
    return id;
}

OSStatus AudioServer::hostPropertiesChanged(AudioServerPlugInHostRef host, AudioObjectID object, UInt32 count,
                                            const AudioObjectPropertyAddress* addresses)
{
    auto* plugIn = reinterpret_cast<PlugIn*>(const_cast<AudioServerPlugInHostInterface*>(host));
    if (plugIn == nullptr || plugIn->server == nullptr || (count > 0 && addresses == nullptr))
        return kAudioHardwareIllegalOperationError;
    AudioServer& server = *plugIn->server;
    Guard guard(server);
    const AudioObjectID id = server.serverID(*plugIn, object);
    if (id == kAudioObjectUnknown)
        return kAudioHardwareBadObjectError;
    for (UInt32 i = 0; i < count; ++i)
        server.notify(id, addresses[i]);
    return kAudioHardwareNoError;
}

void AudioServer::notify(AudioObjectID object, const AudioObjectPropertyAddress& address)
{
    m_pending.push_back({object, address});
}

int AudioServer::loadPlugIns()
{
    std::error_code error;
    std::vector<std::filesystem::path> bundles;
    for (const auto& entry : std::filesystem::directory_iterator(m_plugInFolder, error))
        if (entry.is_directory() && entry.path().extension() == ".driver")
            bundles.push_back(entry.path());
    std::sort(bundles.begin(), bundles.end());
    int loaded = 0;
    for (const auto& bundle : bundles) {
        const QVariantMap info = readPropertyList((bundle / "Contents" / "Info.plist").string()).toMap();
        if (isPlugInLoaded(info.value(QStringLiteral("CFBundleIdentifier")).toString().toStdString()))
            continue;
        std::string failure;
        if (loadPlugIn(bundle.string(), &failure))
            ++loaded;
        else {
            Guard guard(*this);
            m_loadErrors.push_back(bundle.string() + ": " + failure);
        }
    }
    return loaded;
}

bool AudioServer::loadPlugIn(const std::string& bundlePath, std::string* error)
{
    auto fail = [&](const std::string& message) {
        if (error)
            *error = message;
        return false;
    };
    // The factory is found as the system finds it: the plug-in type's factory UUID, then that factory's
    // exported function.
    PlugInBundle bundle;
    std::string reason;
    if (!readPlugInBundle(bundlePath, kPlugInType.bytes, bundle, reason))
        return fail(reason);
    if (isPlugInLoaded(bundle.identifier))
        return fail("a plug-in with this identifier is already loaded");

    void* module = dlopen(bundle.executablePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr)
        return fail(std::string("cannot load the module: ") + dlerror());
    using Factory = void* (*)(CFAllocatorRef, CFUUIDRef);
    auto factory = reinterpret_cast<Factory>(dlsym(module, bundle.factoryFunction.c_str()));
    if (factory == nullptr)
        return fail("the factory function is missing");
    void* unknown = factory(nullptr, &kPlugInType);
    if (unknown == nullptr)
        return fail("the factory refused the audio server plug-in type");
    auto* unknownInterface = *static_cast<AudioServerPlugInDriverInterface**>(unknown);
    void* driverPointer = nullptr;
    if (unknownInterface->QueryInterface(unknown, kDriverInterface, &driverPointer) != S_OK ||
        driverPointer == nullptr)
        return fail("the plug-in has no driver interface");
    unknownInterface->Release(unknown);

    auto plugIn = std::make_unique<PlugIn>();
    plugIn->hostInterface = {hostPropertiesChanged, nullptr, nullptr, nullptr, nullptr};
    plugIn->server = this;
    plugIn->bundlePath = bundlePath;
    plugIn->bundleID = bundle.identifier;
    plugIn->module = module;
    plugIn->driver = static_cast<AudioServerPlugInDriverRef>(driverPointer);

    Guard guard(*this);
    const OSStatus status = (*plugIn->driver)->Initialize(plugIn->driver, &plugIn->hostInterface);
    if (status != kAudioHardwareNoError)
        return fail("Initialize failed (" + std::to_string(status) + ")");
    plugIn->loaded = true;
    PlugIn& added = *plugIn;
    m_plugIns.push_back(std::move(plugIn));
    enumeratePlugInDevices(added);
    notify(kAudioObjectSystemObject, hal::address(kAudioHardwarePropertyDevices));
    return true;
}

void AudioServer::enumeratePlugInDevices(PlugIn& plugIn)
{
    AudioServerPlugInDriverInterface& driver = **plugIn.driver;
    auto readIDs = [&](AudioObjectID object, AudioObjectPropertySelector selector,
                       AudioObjectPropertyScope scope) {
        const AudioObjectPropertyAddress where = {selector, scope, kAudioObjectPropertyElementMain};
        UInt32 size = 0;
        std::vector<AudioObjectID> ids;
        if (driver.GetPropertyDataSize(plugIn.driver, object, 0, &where, 0, nullptr, &size) != 0)
            return ids;
        ids.resize(size / sizeof(AudioObjectID));
        UInt32 used = 0;
        if (driver.GetPropertyData(plugIn.driver, object, 0, &where, 0, nullptr, size, &used, ids.data()) !=
            0)
            ids.clear();
        ids.resize(std::min<size_t>(ids.size(), used / sizeof(AudioObjectID)));
        return ids;
    };
    auto channels = [&](AudioObjectID stream) {
        const AudioObjectPropertyAddress where = {kAudioStreamPropertyVirtualFormat,
                                                  kAudioObjectPropertyScopeGlobal,
                                                  kAudioObjectPropertyElementMain};
        AudioStreamBasicDescription format{};
        UInt32 used = 0;
        if (driver.GetPropertyData(plugIn.driver, stream, 0, &where, 0, nullptr, sizeof format, &used,
                                   &format) != 0)
            return UInt32(0);
        return format.mChannelsPerFrame;
    };

    const AudioObjectID plugInObject = m_nextObjectID++;
    plugIn.serverIDs[kAudioObjectPlugInObject] = plugInObject;
    m_objects[plugInObject] = {Object::Kind::PlugIn, &plugIn, kAudioObjectPlugInObject, nullptr, false};

    for (AudioObjectID driverDevice :
         readIDs(kAudioObjectPlugInObject, kAudioPlugInPropertyDeviceList, kAudioObjectPropertyScopeGlobal)) {
        auto device = std::make_unique<Device>();
        device->id = m_nextObjectID++;
        device->plugIn = &plugIn;
        device->driverID = driverDevice;
        plugIn.serverIDs[driverDevice] = device->id;
        m_objects[device->id] = {Object::Kind::PlugInDevice, &plugIn, driverDevice, device.get(), false};
        for (AudioObjectID stream :
             readIDs(driverDevice, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeGlobal)) {
            const AudioObjectID streamID = m_nextObjectID++;
            plugIn.serverIDs[stream] = streamID;
            m_objects[streamID] = {Object::Kind::PlugInStream, &plugIn, stream, device.get(), false};
        }
        const auto inputs =
            readIDs(driverDevice, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput);
        const auto outputs =
            readIDs(driverDevice, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeOutput);
        if (!inputs.empty()) {
            device->driverInputStream = inputs.front();
            device->inputStream = serverID(plugIn, inputs.front());
            device->inputChannels = channels(inputs.front());
        }
        if (!outputs.empty()) {
            device->driverOutputStream = outputs.front();
            device->outputStream = serverID(plugIn, outputs.front());
            device->outputChannels = channels(outputs.front());
        }
        Boolean willDo = false, inPlace = false;
        device->willRead =
            driver.WillDoIOOperation(plugIn.driver, driverDevice, 0, kAudioServerPlugInIOOperationReadInput,
                                     &willDo, &inPlace) == 0 &&
            willDo;
        device->willWrite =
            driver.WillDoIOOperation(plugIn.driver, driverDevice, 0, kAudioServerPlugInIOOperationWriteMix,
                                     &willDo, &inPlace) == 0 &&
            willDo;
        m_devices[device->id] = std::move(device);
    }
}

AudioObjectID AudioServer::serverID(const PlugIn& plugIn, AudioObjectID driverID) const
{
    const auto found = plugIn.serverIDs.find(driverID);
    return found == plugIn.serverIDs.end() ? kAudioObjectUnknown : found->second;
}

bool AudioServer::unloadPlugIn(const std::string& bundleID)
{
    Guard guard(*this);
    for (auto& plugIn : m_plugIns) {
        if (!plugIn->loaded || plugIn->bundleID != bundleID)
            continue;
        std::vector<AudioObjectID> devices;
        for (const auto& [id, device] : m_devices)
            if (device->plugIn == plugIn.get())
                devices.push_back(id);
        for (AudioObjectID id : devices)
            removeDevice(id);
        for (const auto& [driverID, serverID] : plugIn->serverIDs)
            m_objects.erase(serverID);
        plugIn->serverIDs.clear();
        plugIn->loaded = false;
        plugIn->server = nullptr;
        return true;
    }
    return false;
}

bool AudioServer::isPlugInLoaded(const std::string& bundleID) const
{
    Guard guard(*this);
    return std::any_of(m_plugIns.begin(), m_plugIns.end(),
                       [&](const auto& plugIn) { return plugIn->loaded && plugIn->bundleID == bundleID; });
}

std::vector<std::string> AudioServer::loadErrors() const
{
    Guard guard(*this);
    return m_loadErrors;
}

bool AudioServer::removeDevice(AudioObjectID id)
{
    Guard guard(*this);
    const auto found = m_devices.find(id);
    if (found == m_devices.end())
        return false;
    Device& device = *found->second;
    if (device.runningProcs > 0)
        stopDevice(device);
    if (device.plugIn != nullptr) {
        for (const auto& proc : device.procs) {
            const AudioServerPlugInClientInfo client = {proc->clientID, 0, true, nullptr};
            (*device.plugIn->driver)->RemoveDeviceClient(device.plugIn->driver, device.driverID, &client);
        }
    }
    for (auto it = m_objects.begin(); it != m_objects.end();)
        it = it->second.device == &device ? m_objects.erase(it) : std::next(it);
    if (device.plugIn != nullptr)
        for (auto it = device.plugIn->serverIDs.begin(); it != device.plugIn->serverIDs.end();)
            it = (it->second == id || it->second == device.inputStream || it->second == device.outputStream ||
                  m_objects.count(it->second) == 0)
                     ? device.plugIn->serverIDs.erase(it)
                     : std::next(it);
    notify(id, hal::address(kAudioDevicePropertyDeviceIsAlive));
    m_devices.erase(found);
    notify(kAudioObjectSystemObject, hal::address(kAudioHardwarePropertyDevices));
    chooseDefaultsAfterRemoval(id);
    return true;
}

void AudioServer::chooseDefaultsAfterRemoval(AudioObjectID removed)
{
    // Like the Mac, fall back to the first device that can take the role.
    if (m_defaultInput == removed) {
        m_defaultInput = kAudioObjectUnknown;
        for (const auto& [id, device] : m_devices)
            if (device->inputStream != 0) {
                m_defaultInput = id;
                break;
            }
        notify(kAudioObjectSystemObject, hal::address(kAudioHardwarePropertyDefaultInputDevice));
    }
    if (m_defaultOutput == removed) {
        m_defaultOutput = kAudioObjectUnknown;
        for (const auto& [id, device] : m_devices)
            if (device->outputStream != 0) {
                m_defaultOutput = id;
                break;
            }
        notify(kAudioObjectSystemObject, hal::address(kAudioHardwarePropertyDefaultOutputDevice));
    }
}

AudioServer::Device* AudioServer::device(AudioObjectID id) const
{
    const auto found = m_devices.find(id);
    return found == m_devices.end() ? nullptr : found->second.get();
}

const AudioServer::Object* AudioServer::object(AudioObjectID id) const
{
    const auto found = m_objects.find(id);
    return found == m_objects.end() ? nullptr : &found->second;
}

std::vector<AudioObjectID> AudioServer::deviceList() const
{
    std::vector<AudioObjectID> ids;
    for (const auto& [id, device] : m_devices)
        ids.push_back(id);
    return ids;
}

void AudioServer::setInputSource(AudioObjectID id, std::shared_ptr<InputSource> source)
{
    Guard guard(*this);
    if (Device* found = device(id); found != nullptr && found->plugIn == nullptr)
        found->source = source ? std::move(source) : InputSource::silence();
}

std::vector<float> AudioServer::capturedOutput(AudioObjectID id) const
{
    Guard guard(*this);
    const Device* found = device(id);
    return found ? found->captured : std::vector<float>{};
}

void AudioServer::clearCapturedOutput(AudioObjectID id)
{
    Guard guard(*this);
    if (Device* found = device(id))
        found->captured.clear();
}

void AudioServer::injectPropertyFault(AudioObjectID object, AudioObjectPropertySelector selector,
                                      OSStatus status)
{
    Guard guard(*this);
    if (status == kAudioHardwareNoError)
        m_faults.erase({object, selector});
    else
        m_faults[{object, selector}] = status;
}

OSStatus AudioServer::addPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                          hal::PropertyListener listener, void* clientData)
{
    if (listener == nullptr)
        return kAudioHardwareIllegalOperationError;
    Guard guard(*this);
    if (object != kAudioObjectSystemObject && this->object(object) == nullptr)
        return kAudioHardwareBadObjectError;
    m_listeners.push_back({object, address, listener, clientData});
    return kAudioHardwareNoError;
}

OSStatus AudioServer::removePropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                             hal::PropertyListener listener, void* clientData)
{
    Guard guard(*this);
    const auto found = std::find_if(m_listeners.begin(), m_listeners.end(), [&](const Listener& candidate) {
        return candidate.object == object && candidate.address.mSelector == address.mSelector &&
               candidate.address.mScope == address.mScope && candidate.address.mElement == address.mElement &&
               candidate.proc == listener && candidate.clientData == clientData;
    });
    if (found == m_listeners.end())
        return kAudioHardwareIllegalOperationError;
    m_listeners.erase(found);
    return kAudioHardwareNoError;
}

} // namespace sim
