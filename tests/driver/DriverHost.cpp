#include "tests/driver/DriverHost.h"

#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

std::mutex notificationLock;
std::vector<HostNotification> received;

OSStatus propertiesChanged(AudioServerPlugInHostRef, AudioObjectID object, UInt32 count,
                           const AudioObjectPropertyAddress* addresses)
{
    std::lock_guard guard(notificationLock);
    for (UInt32 i = 0; i < count; ++i)
        received.push_back({object, addresses[i].mSelector, addresses[i].mScope});
    return 0;
}

const AudioServerPlugInHostInterface hostInterface = {propertiesChanged, nullptr, nullptr, nullptr, nullptr};

const __CFUUID kPlugInType = {
    {0x44, 0x3A, 0xBA, 0xB8, 0xE7, 0xB3, 0x49, 0x1A, 0xB9, 0x85, 0xBE, 0xB9, 0x18, 0x70, 0x30, 0xDB}};
const CFUUIDBytes kDriverInterface = {0xEE, 0xA5, 0x77, 0x3D, 0xCC, 0x43, 0x49, 0xF1,
                                      0x8E, 0x00, 0x8F, 0x96, 0xE7, 0xD2, 0x3B, 0x17};

} // namespace

std::string driverModulePath()
{
    // ctest passes the build folder; the compiled-in one serves when the test runs by hand.
    const char* buildDir = std::getenv("ORLEA_BUILD_DIR");
    return std::string(buildDir && *buildDir ? buildDir : ORLEA_TEST_BUILD_DIR) + "/lib/VelkaroAudio.so";
}

DriverHost::DriverHost()
{
    const std::string path = driverModulePath();
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        ADD_FAILURE() << "cannot load " << path << ": " << dlerror();
        return;
    }
    using Factory = void* (*)(CFAllocatorRef, CFUUIDRef);
    auto factory = reinterpret_cast<Factory>(dlsym(module, "VelkaroAudioFactory"));
    if (factory == nullptr) {
        ADD_FAILURE() << "VelkaroAudioFactory is not exported";
        return;
    }
    m_factory = factory(nullptr, &kPlugInType);
    if (m_factory == nullptr) {
        ADD_FAILURE() << "the factory refused the plug-in type";
        return;
    }
    auto* unknown = *static_cast<AudioServerPlugInDriverInterface**>(m_factory);
    void* driver = nullptr;
    if (unknown->QueryInterface(m_factory, kDriverInterface, &driver) != S_OK || driver == nullptr) {
        ADD_FAILURE() << "QueryInterface refused the driver interface";
        return;
    }
    m_ref = static_cast<AudioServerPlugInDriverRef>(driver);
    (*m_ref)->Release(m_ref);
    EXPECT_EQ((*m_ref)->Initialize(m_ref, &hostInterface), 0);
    clearNotifications();
}

std::vector<HostNotification> DriverHost::notifications() const
{
    std::lock_guard guard(notificationLock);
    return received;
}

void DriverHost::clearNotifications()
{
    std::lock_guard guard(notificationLock);
    received.clear();
}

OSStatus DriverHost::get(AudioObjectID object, AudioObjectPropertySelector selector, UInt32 size, void* out,
                         AudioObjectPropertyScope scope, UInt32 qualifierSize, const void* qualifier,
                         UInt32* outSize) const
{
    const AudioObjectPropertyAddress address = {selector, scope, kAudioObjectPropertyElementMain};
    UInt32 used = 0;
    return driver().GetPropertyData(m_ref, object, 0, &address, qualifierSize, qualifier, size,
                                    outSize ? outSize : &used, out);
}

std::u16string DriverHost::string(AudioObjectID object, AudioObjectPropertySelector selector) const
{
    CFStringRef text = nullptr;
    if (get(object, selector, sizeof text, &text) != 0 || text == nullptr)
        return u"<unreadable>";
    return toU16(text);
}

std::vector<AudioObjectID> DriverHost::ids(AudioObjectID object, AudioObjectPropertySelector selector,
                                           AudioObjectPropertyScope scope, UInt32 qualifierSize,
                                           const void* qualifier) const
{
    const AudioObjectPropertyAddress address = {selector, scope, kAudioObjectPropertyElementMain};
    UInt32 size = 0;
    if (driver().GetPropertyDataSize(m_ref, object, 0, &address, qualifierSize, qualifier, &size) != 0)
        return {999};
    std::vector<AudioObjectID> list(size / 4);
    UInt32 used = 0;
    if (driver().GetPropertyData(m_ref, object, 0, &address, qualifierSize, qualifier, size, &used,
                                 list.data()) != 0 ||
        used != size)
        return {998};
    return list;
}

static AudioServerPlugInIOCycleInfo cycleAt(Float64 inputTime, Float64 outputTime)
{
    AudioServerPlugInIOCycleInfo cycle{};
    cycle.mInputTime.mSampleTime = inputTime;
    cycle.mOutputTime.mSampleTime = outputTime;
    return cycle;
}

OSStatus DriverHost::write(AudioObjectID device, AudioObjectID stream, Float64 sampleTime, UInt32 frames,
                           void* buffer) const
{
    const AudioServerPlugInIOCycleInfo cycle = cycleAt(0, sampleTime);
    return driver().DoIOOperation(m_ref, device, stream, 0, kAudioServerPlugInIOOperationWriteMix, frames,
                                  &cycle, buffer, nullptr);
}

OSStatus DriverHost::read(AudioObjectID device, AudioObjectID stream, Float64 sampleTime, UInt32 frames,
                          void* buffer) const
{
    const AudioServerPlugInIOCycleInfo cycle = cycleAt(sampleTime, 0);
    return driver().DoIOOperation(m_ref, device, stream, 0, kAudioServerPlugInIOOperationReadInput, frames,
                                  &cycle, buffer, nullptr);
}

HostString::HostString(const std::u16string& text) : units(text)
{
    value = {kCFStringStandInIsa, UInt32(units.size()), reinterpret_cast<const UInt16*>(units.data())};
}

std::u16string toU16(CFStringRef string)
{
    if (string == nullptr || string->isa != kCFStringStandInIsa)
        return u"<not a string>";
    return std::u16string(reinterpret_cast<const char16_t*>(string->characters), string->length);
}

UInt64 frameBits(float left, float right)
{
    const float frame[2] = {left, right};
    UInt64 bits;
    std::memcpy(&bits, frame, sizeof bits);
    return bits;
}
