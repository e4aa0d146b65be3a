// The VelkaroAudio module as a host sees it: loaded from the build folder and driven only through its
// factory and driver interface.

#include "tests/driver/DriverHost.h"
#include "tests/driver/DriverSelectors.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr AudioObjectID kPlugIn = 1, kCall = 2, kCallIn = 3, kCallOut = 4, kVoice = 5, kVoiceIn = 6,
                        kVoiceOut = 7;

std::string code(UInt32 value)
{
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i)
        text[i] = char((value >> (24 - 8 * i)) & 0xFF);
    return text;
}

AudioStreamBasicDescription streamFormat()
{
    return {
        48000.0, kAudioFormatLinearPCM, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked, 8, 1, 8, 2, 32,
        0};
}

class Driver : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(host.ref(), nullptr) << "the driver module did not load"; }

    void TearDown() override
    {
        if (host.ref() == nullptr)
            return;
        // Leave both devices stopped and every stream active for the next test.
        for (AudioObjectID device : {kCall, kVoice})
            while (host.driver().StopIO(host.ref(), device, 0) == 0) {
            }
        const UInt32 on = 1;
        for (AudioObjectID stream : {kCallIn, kCallOut, kVoiceIn, kVoiceOut}) {
            const AudioObjectPropertyAddress address = {kAudioStreamPropertyIsActive,
                                                        kAudioObjectPropertyScopeGlobal, 0};
            host.driver().SetPropertyData(host.ref(), stream, 0, &address, 0, nullptr, 4, &on);
        }
    }

    std::vector<UInt64> readFrames(AudioObjectID device, AudioObjectID stream, Float64 time, UInt32 count)
    {
        std::vector<UInt64> frames(count, 0xDEADBEEF);
        EXPECT_EQ(host.read(device, stream, time, count, frames.data()), 0);
        return frames;
    }

    DriverHost host;
};

TEST_F(Driver, FactoryAndReferenceCountingBehaveLikeCom)
{
    ASSERT_NE(host.ref(), nullptr);
    AudioServerPlugInDriverInterface& driver = host.driver();
    EXPECT_EQ(driver._reserved, nullptr);

    const __CFUUID otherType = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
    void* handle = dlopen(driverModulePath().c_str(), RTLD_NOW);
    auto factory =
        reinterpret_cast<void* (*)(CFAllocatorRef, CFUUIDRef)>(dlsym(handle, "VelkaroAudioFactory"));
    EXPECT_EQ(factory(nullptr, &otherType), nullptr) << "a foreign plug-in type must be refused";
    EXPECT_EQ(factory(nullptr, nullptr), nullptr);

    const CFUUIDBytes unknownUUID = {0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    const CFUUIDBytes bogusUUID = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    void* out = &driver;
    EXPECT_EQ(driver.QueryInterface(host.ref(), bogusUUID, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr) << "the out pointer is cleared before refusing";
    EXPECT_EQ(driver.QueryInterface(host.ref(), unknownUUID, nullptr), E_POINTER);
    int notTheDriver = 0;
    EXPECT_EQ(driver.QueryInterface(&notTheDriver, unknownUUID, &out), E_NOINTERFACE);

    const ULONG before = driver.AddRef(host.ref());
    EXPECT_EQ(driver.QueryInterface(host.ref(), unknownUUID, &out), S_OK);
    EXPECT_EQ(out, host.ref());
    EXPECT_EQ(driver.Release(host.ref()), before);
    ULONG count = before;
    for (int i = 0; i < 10; ++i)
        count = driver.Release(host.ref());
    EXPECT_EQ(count, 1u) << "the static driver's count never falls below 1";
    EXPECT_EQ(driver.AddRef(host.ref()), 2u);
    EXPECT_EQ(driver.Release(host.ref()), 1u);

    int bogus = 0;
    EXPECT_EQ(driver.Initialize(reinterpret_cast<AudioServerPlugInDriverRef>(&bogus), nullptr),
              kAudioHardwareBadObjectError);
    AudioObjectID created = 77;
    EXPECT_EQ(driver.CreateDevice(host.ref(), nullptr, nullptr, &created),
              kAudioHardwareUnsupportedOperationError);
    EXPECT_EQ(created, 0u);
    EXPECT_EQ(driver.DestroyDevice(host.ref(), kCall), kAudioHardwareUnsupportedOperationError);
    for (AudioObjectID object : {0u, 1u, 3u, 4u, 6u, 8u, 100u}) {
        SCOPED_TRACE(object);
        EXPECT_EQ(driver.AddDeviceClient(host.ref(), object, nullptr), kAudioHardwareBadObjectError);
        EXPECT_EQ(driver.RemoveDeviceClient(host.ref(), object, nullptr), kAudioHardwareBadObjectError);
        EXPECT_EQ(driver.PerformDeviceConfigurationChange(host.ref(), object, 0, nullptr),
                  kAudioHardwareBadObjectError);
        EXPECT_EQ(driver.AbortDeviceConfigurationChange(host.ref(), object, 0, nullptr),
                  kAudioHardwareBadObjectError);
        EXPECT_EQ(driver.StartIO(host.ref(), object, 0), kAudioHardwareBadObjectError);
        EXPECT_EQ(driver.StopIO(host.ref(), object, 0), kAudioHardwareBadObjectError);
        EXPECT_EQ(driver.BeginIOOperation(host.ref(), object, 0, kAudioServerPlugInIOOperationReadInput, 512,
                                          nullptr),
                  kAudioHardwareBadObjectError);
        EXPECT_EQ(driver.EndIOOperation(host.ref(), object, 0, kAudioServerPlugInIOOperationReadInput, 512,
                                        nullptr),
                  kAudioHardwareBadObjectError);
    }
    for (AudioObjectID device : {kCall, kVoice}) {
        EXPECT_EQ(driver.AddDeviceClient(host.ref(), device, nullptr), 0);
        EXPECT_EQ(driver.RemoveDeviceClient(host.ref(), device, nullptr), 0);
        EXPECT_EQ(driver.PerformDeviceConfigurationChange(host.ref(), device, 0, nullptr), 0);
        EXPECT_EQ(driver.BeginIOOperation(host.ref(), device, 0, kAudioServerPlugInIOOperationWriteMix, 512,
                                          nullptr),
                  0);
    }
}

TEST_F(Driver, ObjectTreeNamesAndIdentity)
{
    EXPECT_EQ(host.string(kPlugIn, kAudioObjectPropertyName), u"Velkaro Audio");
    EXPECT_EQ(host.string(kCall, kAudioObjectPropertyName), u"Velkaro — Appel vers IA");
    EXPECT_EQ(host.string(kVoice, kAudioObjectPropertyName), u"Velkaro — IA vers appel");
    EXPECT_EQ(host.string(kCallIn, kAudioObjectPropertyName), u"Entrée stéréo");
    EXPECT_EQ(host.string(kVoiceOut, kAudioObjectPropertyName), u"Sortie stéréo");
    EXPECT_EQ(host.string(kVoiceIn, kAudioObjectPropertyManufacturer), u"Velkaro");
    EXPECT_EQ(host.string(kCall, kAudioDevicePropertyDeviceUID), u"fr.velkaro.audio.call");
    EXPECT_EQ(host.string(kVoice, kAudioDevicePropertyDeviceUID), u"fr.velkaro.audio.voice");
    EXPECT_EQ(host.string(kVoice, kAudioDevicePropertyModelUID), u"fr.velkaro.audio.stereo48.v1");
    EXPECT_EQ(host.string(kPlugIn, kAudioPlugInPropertyBundleID), u"fr.velkaro.audio.driver");
    EXPECT_EQ(host.string(kPlugIn, kAudioPlugInPropertyResourceBundle), u"");

    EXPECT_EQ(host.value<UInt32>(kPlugIn, kAudioObjectPropertyClass), kAudioPlugInClassID);
    EXPECT_EQ(host.value<UInt32>(kVoice, kAudioObjectPropertyClass), kAudioDeviceClassID);
    EXPECT_EQ(host.value<UInt32>(kCallOut, kAudioObjectPropertyClass), kAudioStreamClassID);
    EXPECT_EQ(host.value<UInt32>(kCallOut, kAudioObjectPropertyBaseClass), kAudioObjectClassID);
    EXPECT_EQ(host.value<UInt32>(kPlugIn, kAudioObjectPropertyOwner), 0u);
    EXPECT_EQ(host.value<UInt32>(kVoice, kAudioObjectPropertyOwner), kPlugIn);
    EXPECT_EQ(host.value<UInt32>(kVoiceIn, kAudioObjectPropertyOwner), kVoice);
    EXPECT_EQ(host.value<UInt32>(kCallOut, kAudioObjectPropertyOwner), kCall);

    using Ids = std::vector<AudioObjectID>;
    EXPECT_EQ(host.ids(kPlugIn, kAudioPlugInPropertyDeviceList), (Ids{kCall, kVoice}));
    EXPECT_EQ(host.ids(kPlugIn, kAudioObjectPropertyOwnedObjects), (Ids{kCall, kVoice}));
    EXPECT_EQ(host.ids(kPlugIn, kAudioPlugInPropertyBoxList), Ids{});
    EXPECT_EQ(host.ids(kCall, kAudioObjectPropertyOwnedObjects), (Ids{kCallIn, kCallOut}));
    EXPECT_EQ(host.ids(kVoice, kAudioDevicePropertyStreams), (Ids{kVoiceIn, kVoiceOut}));
    EXPECT_EQ(host.ids(kVoice, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput), Ids{kVoiceIn});
    EXPECT_EQ(host.ids(kVoice, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeOutput), Ids{kVoiceOut});
    EXPECT_EQ(host.ids(kCall, kAudioObjectPropertyOwnedObjects, kAudioObjectPropertyScopeOutput),
              Ids{kCallOut});
    EXPECT_EQ(host.ids(kCallIn, kAudioObjectPropertyOwnedObjects), Ids{});
    EXPECT_EQ(host.ids(kCall, kAudioDevicePropertyRelatedDevices), Ids{kCall});
    EXPECT_EQ(host.ids(kCall, kAudioObjectPropertyControlList), Ids{});

    const AudioClassID devicesOnly[] = {kAudioDeviceClassID};
    const AudioClassID streamsOnly[] = {kAudioBoxClassID, kAudioStreamClassID};
    const AudioClassID anything[] = {kAudioObjectClassID};
    EXPECT_EQ(
        host.ids(kPlugIn, kAudioObjectPropertyOwnedObjects, kAudioObjectPropertyScopeGlobal, 4, devicesOnly),
        (Ids{kCall, kVoice}));
    EXPECT_EQ(
        host.ids(kPlugIn, kAudioObjectPropertyOwnedObjects, kAudioObjectPropertyScopeGlobal, 8, streamsOnly),
        Ids{});
    EXPECT_EQ(
        host.ids(kCall, kAudioObjectPropertyOwnedObjects, kAudioObjectPropertyScopeGlobal, 8, streamsOnly),
        (Ids{kCallIn, kCallOut}));
    EXPECT_EQ(host.ids(kCall, kAudioObjectPropertyOwnedObjects, kAudioObjectPropertyScopeGlobal, 4, anything),
              (Ids{kCallIn, kCallOut}));
    EXPECT_EQ(
        host.ids(kCall, kAudioObjectPropertyOwnedObjects, kAudioObjectPropertyScopeGlobal, 3, devicesOnly),
        (Ids{kCallIn, kCallOut}))
        << "a qualifier shorter than one class id is no filter";
}

TEST_F(Driver, DeviceAndStreamPropertiesDescribeOneFixedFormat)
{
    for (AudioObjectID device : {kCall, kVoice}) {
        SCOPED_TRACE(device);
        EXPECT_EQ(host.value<Float64>(device, kAudioDevicePropertyNominalSampleRate), 48000.0);
        const AudioValueRange range =
            host.value<AudioValueRange>(device, kAudioDevicePropertyAvailableNominalSampleRates);
        EXPECT_EQ(range.mMinimum, 48000.0);
        EXPECT_EQ(range.mMaximum, 48000.0);
        EXPECT_EQ(host.value<UInt32>(device, kAudioDevicePropertyTransportType),
                  kAudioDeviceTransportTypeVirtual);
        EXPECT_EQ(host.value<UInt32>(device, kAudioDevicePropertyLatency, kAudioObjectPropertyScopeInput),
                  2048u);
        EXPECT_EQ(host.value<UInt32>(device, kAudioDevicePropertyLatency, kAudioObjectPropertyScopeOutput),
                  0u);
        EXPECT_EQ(host.value<UInt32>(device, kAudioDevicePropertyZeroTimeStampPeriod), 512u);
        EXPECT_EQ(host.value<UInt32>(device, kAudioDevicePropertyDeviceCanBeDefaultDevice), 1u);
        EXPECT_EQ(host.value<UInt32>(device, kAudioDevicePropertyDeviceCanBeDefaultSystemDevice), 0u);
        EXPECT_EQ(host.value<UInt32>(device, kAudioDevicePropertyDeviceIsAlive), 1u);
        EXPECT_EQ(host.value<UInt32>(device, kAudioDevicePropertyIsHidden), 0u);
        EXPECT_EQ(host.value<UInt32>(device, kAudioDevicePropertySafetyOffset), 0u);
        const auto stereo =
            host.value<std::array<UInt32, 2>>(device, kAudioDevicePropertyPreferredChannelsForStereo);
        EXPECT_EQ(stereo[0], 1u);
        EXPECT_EQ(stereo[1], 2u);
        UInt8 layout[12];
        UInt32 used = 0;
        EXPECT_EQ(host.get(device, kAudioDevicePropertyPreferredChannelLayout, sizeof layout, layout,
                           kAudioObjectPropertyScopeGlobal, 0, nullptr, &used),
                  0);
        EXPECT_EQ(used, 12u);
        UInt32 tag;
        std::memcpy(&tag, layout, 4);
        EXPECT_EQ(tag, 0x00650002u);
        CFURLRef icon = reinterpret_cast<CFURLRef>(1);
        EXPECT_EQ(host.get(device, kAudioDevicePropertyIcon, sizeof icon, &icon), 0);
        EXPECT_EQ(icon, nullptr) << "no bundle to find the icon in";
    }
    for (AudioObjectID stream : {kCallIn, kCallOut, kVoiceIn, kVoiceOut}) {
        SCOPED_TRACE(stream);
        const bool input = stream == kCallIn || stream == kVoiceIn;
        EXPECT_EQ(host.value<UInt32>(stream, kAudioStreamPropertyDirection), input ? 1u : 0u);
        EXPECT_EQ(host.value<UInt32>(stream, kAudioStreamPropertyTerminalType), kAudioStreamTerminalTypeLine);
        EXPECT_EQ(host.value<UInt32>(stream, kAudioStreamPropertyStartingChannel), 1u);
        EXPECT_EQ(host.value<UInt32>(stream, kAudioStreamPropertyLatency), 0u);
        EXPECT_EQ(host.value<UInt32>(stream, kAudioStreamPropertyIsActive), 1u);
        for (auto selector : {kAudioStreamPropertyPhysicalFormat, kAudioStreamPropertyVirtualFormat}) {
            const auto format = host.value<AudioStreamBasicDescription>(stream, selector);
            EXPECT_EQ(format.mSampleRate, 48000.0);
            EXPECT_EQ(format.mFormatID, kAudioFormatLinearPCM);
            EXPECT_EQ(format.mFormatFlags, 9u);
            EXPECT_EQ(format.mBytesPerFrame, 8u);
            EXPECT_EQ(format.mChannelsPerFrame, 2u);
            EXPECT_EQ(format.mBitsPerChannel, 32u);
        }
        const auto ranged =
            host.value<AudioStreamRangedDescription>(stream, kAudioStreamPropertyAvailableVirtualFormats);
        EXPECT_EQ(ranged.mFormat.mBytesPerPacket, 8u);
        EXPECT_EQ(ranged.mSampleRateRange.mMinimum, 48000.0);
        EXPECT_EQ(ranged.mSampleRateRange.mMaximum, 48000.0);
    }
}

TEST_F(Driver, TranslateUIDToDevice)
{
    const AudioObjectPropertyAddress address = {kAudioPlugInPropertyTranslateUIDToDevice,
                                                kAudioObjectPropertyScopeGlobal, 0};
    auto translate = [&](const void* qualifier, UInt32 qualifierSize, AudioObjectID* device) {
        UInt32 used = 0;
        return host.driver().GetPropertyData(host.ref(), kPlugIn, 0, &address, qualifierSize, qualifier, 4,
                                             &used, device);
    };
    const HostString voice(u"fr.velkaro.audio.voice"), call(u"fr.velkaro.audio.call"),
        other(u"fr.velkaro.audio.Voice"), prefix(u"fr.velkaro.audio.voic");
    AudioObjectID device = 99;
    CFStringRef text = voice.ref();
    EXPECT_EQ(translate(&text, 8, &device), 0);
    EXPECT_EQ(device, kVoice);
    text = call.ref();
    EXPECT_EQ(translate(&text, 8, &device), 0);
    EXPECT_EQ(device, kCall);
    for (CFStringRef unknown : {other.ref(), prefix.ref()}) {
        device = 99;
        EXPECT_EQ(translate(&unknown, 8, &device), 0);
        EXPECT_EQ(device, 0u) << "UIDs match exactly, case included";
    }
    const UInt64 notAString[2] = {0, 0};
    const void* pointer = notAString;
    device = 99;
    EXPECT_EQ(translate(&pointer, 8, &device), 0);
    EXPECT_EQ(device, 0u) << "a qualifier that is not a string translates to no device";
    CFStringRef none = nullptr;
    EXPECT_EQ(translate(&none, 8, &device), 0);
    EXPECT_EQ(device, 0u);
    text = voice.ref();
    EXPECT_EQ(translate(&text, 4, &device), kAudioHardwareBadPropertySizeError);
    EXPECT_EQ(translate(nullptr, 8, &device), kAudioHardwareBadPropertySizeError);
    UInt32 size = 0;
    EXPECT_EQ(host.driver().GetPropertyDataSize(host.ref(), kPlugIn, 0, &address, 0, nullptr, &size), 0);
    EXPECT_EQ(size, 4u);
}

TEST_F(Driver, EveryPropertyRefusesShortBuffersAndUnknownAddresses)
{
    AudioServerPlugInDriverInterface& driver = host.driver();
    int present = 0;
    for (AudioObjectID object = 0; object <= 9; ++object) {
        for (AudioObjectPropertySelector selector : kAllSelectors) {
            SCOPED_TRACE("object " + std::to_string(object) + " '" + code(selector) + "'");
            for (AudioObjectPropertyScope scope :
                 {kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyScopeInput,
                  kAudioObjectPropertyScopeOutput}) {
                AudioObjectPropertyAddress address = {selector, scope, 0};
                HostString uid(u"fr.velkaro.audio.call");
                CFStringRef qualifierString = uid.ref();
                const bool translating = selector == kAudioPlugInPropertyTranslateUIDToDevice;
                const UInt32 qualifierSize = translating ? 8 : 0;
                const void* qualifier = translating ? &qualifierString : nullptr;
                UInt32 size = 12345;
                alignas(8) UInt8 buffer[128];
                UInt32 used = 0;
                if (!driver.HasProperty(host.ref(), object, 0, &address)) {
                    EXPECT_EQ(driver.GetPropertyDataSize(host.ref(), object, 0, &address, 0, nullptr, &size),
                              kAudioHardwareUnknownPropertyError);
                    EXPECT_EQ(driver.GetPropertyData(host.ref(), object, 0, &address, 0, nullptr,
                                                     sizeof buffer, &used, buffer),
                              kAudioHardwareUnknownPropertyError);
                    continue;
                }
                ++present;
                EXPECT_GE(object, 1u);
                EXPECT_LE(object, 7u);
                ASSERT_EQ(driver.GetPropertyDataSize(host.ref(), object, 0, &address, qualifierSize,
                                                     qualifier, &size),
                          0);
                ASSERT_LE(size, sizeof buffer);
                EXPECT_EQ(driver.GetPropertyData(host.ref(), object, 0, &address, qualifierSize, qualifier,
                                                 size, &used, buffer),
                          0);
                EXPECT_EQ(used, size) << "the size reported and the size written agree";
                if (size > 0) {
                    EXPECT_EQ(driver.GetPropertyData(host.ref(), object, 0, &address, qualifierSize,
                                                     qualifier, size - 1, &used, buffer),
                              kAudioHardwareBadPropertySizeError);
                    EXPECT_EQ(driver.GetPropertyData(host.ref(), object, 0, &address, qualifierSize,
                                                     qualifier, size, &used, nullptr),
                              kAudioHardwareBadPropertySizeError);
                }
                address.mElement = 1;
                EXPECT_FALSE(driver.HasProperty(host.ref(), object, 0, &address))
                    << "only the main element exists";
            }
        }
    }
    EXPECT_GT(present, 150) << "the property tables look empty";
    const AudioObjectPropertyAddress bogus = {fourCharCode("zzzz"), kAudioObjectPropertyScopeGlobal, 0};
    EXPECT_FALSE(driver.HasProperty(host.ref(), kCall, 0, &bogus));
    EXPECT_FALSE(driver.HasProperty(host.ref(), kCall, 0, nullptr));
    UInt32 size = 0;
    const AudioObjectPropertyAddress name = {kAudioObjectPropertyName, kAudioObjectPropertyScopeGlobal, 0};
    EXPECT_EQ(driver.GetPropertyDataSize(host.ref(), kCall, 0, &name, 0, nullptr, nullptr),
              kAudioHardwareIllegalOperationError);
    EXPECT_EQ(driver.GetPropertyDataSize(host.ref(), kCall, 0, &name, 0, nullptr, &size), 0);
    EXPECT_EQ(size, 8u);
}

TEST_F(Driver, SettingRatesFormatsAndStreamActivity)
{
    AudioServerPlugInDriverInterface& driver = host.driver();
    auto set = [&](AudioObjectID object, AudioObjectPropertySelector selector, UInt32 size,
                   const void* data) {
        const AudioObjectPropertyAddress address = {selector, kAudioObjectPropertyScopeGlobal, 0};
        return driver.SetPropertyData(host.ref(), object, 0, &address, 0, nullptr, size, data);
    };
    auto settable = [&](AudioObjectID object, AudioObjectPropertySelector selector, Boolean* out) {
        const AudioObjectPropertyAddress address = {selector, kAudioObjectPropertyScopeGlobal, 0};
        return driver.IsPropertySettable(host.ref(), object, 0, &address, out);
    };
    Boolean canSet = 2;
    EXPECT_EQ(settable(kCall, kAudioDevicePropertyNominalSampleRate, &canSet), 0);
    EXPECT_TRUE(canSet);
    EXPECT_EQ(settable(kCallIn, kAudioStreamPropertyIsActive, &canSet), 0);
    EXPECT_TRUE(canSet);
    EXPECT_EQ(settable(kCallIn, kAudioStreamPropertyPhysicalFormat, &canSet), 0);
    EXPECT_TRUE(canSet);
    EXPECT_EQ(settable(kCall, kAudioObjectPropertyName, &canSet), 0);
    EXPECT_FALSE(canSet);
    EXPECT_EQ(settable(kCall, kAudioStreamPropertyIsActive, &canSet), kAudioHardwareUnknownPropertyError);
    EXPECT_EQ(settable(kCall, kAudioObjectPropertyName, nullptr), kAudioHardwareIllegalOperationError);

    const Float64 rates[] = {48000.0, 44100.0, 96000.0, 0.0};
    for (Float64 rate : rates)
        EXPECT_EQ(set(kVoice, kAudioDevicePropertyNominalSampleRate, 8, &rate),
                  rate == 48000.0 ? 0 : kAudioHardwareUnsupportedOperationError)
            << rate;
    EXPECT_EQ(set(kVoice, kAudioDevicePropertyNominalSampleRate, 4, &rates[0]),
              kAudioHardwareBadPropertySizeError);
    EXPECT_EQ(set(kVoice, kAudioDevicePropertyNominalSampleRate, 8, nullptr),
              kAudioHardwareIllegalOperationError);
    EXPECT_EQ(host.value<Float64>(kVoice, kAudioDevicePropertyNominalSampleRate), 48000.0);

    AudioStreamBasicDescription format = streamFormat();
    EXPECT_EQ(set(kCallOut, kAudioStreamPropertyVirtualFormat, 40, &format), 0);
    AudioStreamBasicDescription sixteenBit = {48000.0,
                                              kAudioFormatLinearPCM,
                                              kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked,
                                              4,
                                              1,
                                              4,
                                              2,
                                              16,
                                              0};
    EXPECT_EQ(set(kCallOut, kAudioStreamPropertyVirtualFormat, 40, &sixteenBit),
              kAudioDeviceUnsupportedFormatError);
    EXPECT_EQ(set(kCallOut, kAudioStreamPropertyPhysicalFormat, 40, &sixteenBit),
              kAudioDeviceUnsupportedFormatError);
    format.mReserved = 1;
    EXPECT_EQ(set(kCallOut, kAudioStreamPropertyPhysicalFormat, 40, &format),
              kAudioDeviceUnsupportedFormatError);
    EXPECT_EQ(set(kCallOut, kAudioStreamPropertyPhysicalFormat, 39, &format),
              kAudioHardwareBadPropertySizeError);

    const UInt32 name = 0;
    EXPECT_EQ(set(kCall, kAudioObjectPropertyName, 8, &name), kAudioHardwareUnknownPropertyError);
    EXPECT_EQ(set(kCall, kAudioStreamPropertyIsActive, 4, &name), kAudioHardwareUnknownPropertyError);

    host.clearNotifications();
    const UInt32 off = 0, on = 1, two = 2;
    EXPECT_EQ(set(kCallIn, kAudioStreamPropertyIsActive, 4, &two), kAudioHardwareIllegalOperationError);
    EXPECT_EQ(set(kCallIn, kAudioStreamPropertyIsActive, 2, &off), kAudioHardwareBadPropertySizeError);
    EXPECT_EQ(set(kCallIn, kAudioStreamPropertyIsActive, 4, &on), 0);
    EXPECT_TRUE(host.notifications().empty()) << "no change, no notification";
    EXPECT_EQ(set(kCallIn, kAudioStreamPropertyIsActive, 4, &off), 0);
    EXPECT_EQ(host.value<UInt32>(kCallIn, kAudioStreamPropertyIsActive), 0u);
    const auto notes = host.notifications();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].object, kCallIn);
    EXPECT_EQ(notes[0].selector, kAudioStreamPropertyIsActive);
}

TEST_F(Driver, LoopbackDelaysEveryFrameBy2048)
{
    AudioServerPlugInDriverInterface& driver = host.driver();
    ASSERT_EQ(driver.StartIO(host.ref(), kCall, 0), 0);
    ASSERT_EQ(driver.StartIO(host.ref(), kVoice, 0), 0);

    for (UInt64 frame : readFrames(kCall, kCallIn, 0, 4096))
        ASSERT_EQ(frame, 0u) << "input never written reads silence";

    std::vector<UInt64> written(512);
    for (UInt32 i = 0; i < 512; ++i)
        written[i] = frameBits(float(i + 1), -float(i + 1));
    ASSERT_EQ(host.write(kCall, kCallOut, 1000, 512, written.data()), 0);

    const auto back = readFrames(kCall, kCallIn, 3048, 512);
    for (UInt32 i = 0; i < 512; ++i)
        ASSERT_EQ(back[i], written[i])
            << "frame " << i << " of the write at 1000 must come back at " << 3048 + i;
    const auto around = readFrames(kCall, kCallIn, 2900, 1000);
    for (UInt32 i = 0; i < 1000; ++i) {
        const UInt64 n = 2900 + i;
        const UInt64 expected = n >= 3048 && n < 3560 ? written[n - 3048] : 0;
        ASSERT_EQ(around[i], expected) << "input frame " << n;
    }
    for (UInt64 frame : readFrames(kVoice, kVoiceIn, 3048, 512))
        ASSERT_EQ(frame, 0u) << "the two devices never mix";

    // Input before 2048 is silence even where the ring holds frames for those slots.
    std::vector<UInt64> early(2048, frameBits(0.5f, 0.5f));
    ASSERT_EQ(host.write(kVoice, kVoiceOut, 0, 2048, early.data()), 0);
    ASSERT_EQ(host.write(kVoice, kVoiceOut, 32768, 2048, early.data()), 0);
    for (UInt64 frame : readFrames(kVoice, kVoiceIn, 0, 2048))
        ASSERT_EQ(frame, 0u);
    // A frame overwritten 32,768 frames later is gone for its old time and there for its new one.
    for (UInt64 frame : readFrames(kVoice, kVoiceIn, 2048, 2048))
        ASSERT_EQ(frame, 0u);
    for (UInt64 frame : readFrames(kVoice, kVoiceIn, 32768 + 2048, 2048))
        ASSERT_EQ(frame, frameBits(0.5f, 0.5f));
}

TEST_F(Driver, StartStopCountingClockAndNotifications)
{
    AudioServerPlugInDriverInterface& driver = host.driver();
    Float64 sampleTime = -1;
    UInt64 hostTime = 0, seed = 0;
    ASSERT_EQ(driver.GetZeroTimeStamp(host.ref(), kVoice, 0, &sampleTime, &hostTime, &seed), 0);
    const UInt64 seedBefore = seed;

    host.clearNotifications();
    ASSERT_EQ(driver.StopIO(host.ref(), kVoice, 0), kAudioHardwareIllegalOperationError)
        << "stopping a stopped device";
    ASSERT_EQ(driver.StartIO(host.ref(), kVoice, 0), 0);
    EXPECT_EQ(host.value<UInt32>(kVoice, kAudioDevicePropertyDeviceIsRunning), 1u);
    EXPECT_EQ(host.value<UInt32>(kCall, kAudioDevicePropertyDeviceIsRunning), 0u);
    ASSERT_EQ(driver.GetZeroTimeStamp(host.ref(), kVoice, 0, &sampleTime, &hostTime, &seed), 0);
    EXPECT_EQ(seed, seedBefore + 1) << "a first start restarts the clock with a new seed";
    const UInt64 anchor = hostTime - UInt64(sampleTime);
    EXPECT_EQ(std::fmod(sampleTime, 512.0), 0.0);

    std::vector<UInt64> frames(512, frameBits(0.25f, -0.25f));
    ASSERT_EQ(host.write(kVoice, kVoiceOut, 10000, 512, frames.data()), 0);
    ASSERT_EQ(driver.StartIO(host.ref(), kVoice, 0), 0);
    const UInt64 seedRunning = seed;
    ASSERT_EQ(driver.GetZeroTimeStamp(host.ref(), kVoice, 0, &sampleTime, &hostTime, &seed), 0);
    EXPECT_EQ(seed, seedRunning) << "a second start keeps the clock";
    EXPECT_EQ(hostTime - UInt64(sampleTime), anchor)
        << "a second start keeps the anchor (1 ns per frame tick)";
    EXPECT_EQ(readFrames(kVoice, kVoiceIn, 12048, 512), frames) << "a second start keeps the ring";

    ASSERT_EQ(driver.StopIO(host.ref(), kVoice, 0), 0);
    EXPECT_EQ(host.value<UInt32>(kVoice, kAudioDevicePropertyDeviceIsRunning), 1u);
    auto notes = host.notifications();
    ASSERT_EQ(notes.size(), 1u) << "only the first start reports 'goin'";
    EXPECT_EQ(notes[0].object, kVoice);
    EXPECT_EQ(notes[0].selector, kAudioDevicePropertyDeviceIsRunning);
    EXPECT_EQ(notes[0].scope, kAudioObjectPropertyScopeGlobal);

    ASSERT_EQ(driver.StopIO(host.ref(), kVoice, 0), 0);
    EXPECT_EQ(host.value<UInt32>(kVoice, kAudioDevicePropertyDeviceIsRunning), 0u);
    EXPECT_EQ(host.notifications().size(), 2u) << "the last stop reports 'goin'";
    for (UInt64 frame : readFrames(kVoice, kVoiceIn, 12048, 512))
        ASSERT_EQ(frame, 0u) << "a stopped device reads silence";
    EXPECT_EQ(host.write(kVoice, kVoiceOut, 20000, 512, frames.data()), 0)
        << "writes to a stopped device are dropped";
    ASSERT_EQ(driver.StopIO(host.ref(), kVoice, 0), kAudioHardwareIllegalOperationError);

    ASSERT_EQ(driver.StartIO(host.ref(), kVoice, 0), 0);
    for (UInt64 frame : readFrames(kVoice, kVoiceIn, 12048, 512))
        ASSERT_EQ(frame, 0u) << "a fresh start clears the ring";
    for (UInt64 frame : readFrames(kVoice, kVoiceIn, 22048, 512))
        ASSERT_EQ(frame, 0u) << "the write while stopped was dropped";

    EXPECT_EQ(driver.GetZeroTimeStamp(host.ref(), kVoice, 0, nullptr, &hostTime, &seed),
              kAudioHardwareIllegalOperationError);
    EXPECT_EQ(driver.GetZeroTimeStamp(host.ref(), kVoiceIn, 0, &sampleTime, &hostTime, &seed),
              kAudioHardwareIllegalOperationError);
}

TEST_F(Driver, InactiveStreamsReadSilenceAndDropWrites)
{
    AudioServerPlugInDriverInterface& driver = host.driver();
    ASSERT_EQ(driver.StartIO(host.ref(), kCall, 0), 0);
    std::vector<UInt64> frames(256, frameBits(1.0f, 1.0f));
    const AudioObjectPropertyAddress activeAddress = {kAudioStreamPropertyIsActive,
                                                      kAudioObjectPropertyScopeGlobal, 0};
    const UInt32 off = 0, on = 1;

    ASSERT_EQ(host.write(kCall, kCallOut, 0, 256, frames.data()), 0);
    ASSERT_EQ(driver.SetPropertyData(host.ref(), kCallIn, 0, &activeAddress, 0, nullptr, 4, &off), 0);
    for (UInt64 frame : readFrames(kCall, kCallIn, 2048, 256))
        ASSERT_EQ(frame, 0u) << "an inactive input stream reads zeros";
    ASSERT_EQ(driver.SetPropertyData(host.ref(), kCallIn, 0, &activeAddress, 0, nullptr, 4, &on), 0);
    EXPECT_EQ(readFrames(kCall, kCallIn, 2048, 256), frames) << "reactivated input sees the ring again";

    ASSERT_EQ(driver.SetPropertyData(host.ref(), kCallOut, 0, &activeAddress, 0, nullptr, 4, &off), 0);
    ASSERT_EQ(host.write(kCall, kCallOut, 1000, 256, frames.data()), 0);
    for (UInt64 frame : readFrames(kCall, kCallIn, 3048, 256))
        ASSERT_EQ(frame, 0u) << "writes to an inactive output stream are dropped";
}

TEST_F(Driver, IOOperationsValidateTheirArguments)
{
    AudioServerPlugInDriverInterface& driver = host.driver();
    ASSERT_EQ(driver.StartIO(host.ref(), kCall, 0), 0);
    std::vector<UInt64> buffer(32769, 0);
    AudioServerPlugInIOCycleInfo cycle{};
    auto doIO = [&](AudioObjectID device, AudioObjectID stream, UInt32 operation, UInt32 frames,
                    const AudioServerPlugInIOCycleInfo* info, void* data) {
        return driver.DoIOOperation(host.ref(), device, stream, 0, operation, frames, info, data, nullptr);
    };
    const UInt32 read = kAudioServerPlugInIOOperationReadInput, write = kAudioServerPlugInIOOperationWriteMix;
    EXPECT_EQ(doIO(kCall, kVoiceIn, read, 16, &cycle, buffer.data()), kAudioHardwareBadObjectError);
    EXPECT_EQ(doIO(kVoice, kCallOut, write, 16, &cycle, buffer.data()), kAudioHardwareBadObjectError);
    EXPECT_EQ(doIO(kCallIn, kCallIn, read, 16, &cycle, buffer.data()), kAudioHardwareBadObjectError);
    EXPECT_EQ(doIO(kCall, kVoice, read, 16, &cycle, buffer.data()), kAudioHardwareBadObjectError);
    EXPECT_EQ(doIO(9, 3, read, 16, &cycle, buffer.data()), kAudioHardwareBadObjectError);
    EXPECT_EQ(doIO(kCall, kCallIn, read, 32769, &cycle, buffer.data()), kAudioHardwareIllegalOperationError);
    EXPECT_EQ(doIO(kCall, kCallIn, read, 32768, &cycle, buffer.data()), 0);
    EXPECT_EQ(doIO(kCall, kCallIn, read, 16, nullptr, buffer.data()), kAudioHardwareIllegalOperationError);
    EXPECT_EQ(doIO(kCall, kCallIn, read, 16, &cycle, nullptr), kAudioHardwareIllegalOperationError);
    EXPECT_EQ(doIO(kCall, kCallOut, read, 16, &cycle, buffer.data()), kAudioHardwareIllegalOperationError);
    EXPECT_EQ(doIO(kCall, kCallIn, write, 16, &cycle, buffer.data()), kAudioHardwareIllegalOperationError);
    EXPECT_EQ(doIO(kCall, kCallOut, kAudioServerPlugInIOOperationMixOutput, 16, &cycle, buffer.data()),
              kAudioHardwareUnsupportedOperationError);
    EXPECT_EQ(doIO(kCall, kCallOut, write, 0, &cycle, buffer.data()), 0);
    for (Float64 bad :
         {-1.0, std::nan(""), std::numeric_limits<Float64>::infinity(), 4611686018427387904.0}) {
        SCOPED_TRACE(bad);
        cycle.mInputTime.mSampleTime = bad;
        cycle.mOutputTime.mSampleTime = bad;
        EXPECT_EQ(doIO(kCall, kCallIn, read, 16, &cycle, buffer.data()), kAudioHardwareIllegalOperationError);
        EXPECT_EQ(doIO(kCall, kCallOut, write, 16, &cycle, buffer.data()),
                  kAudioHardwareIllegalOperationError);
    }
    cycle.mOutputTime.mSampleTime = 4611686018427387904.0 - 1024.0;
    EXPECT_EQ(doIO(kCall, kCallOut, write, 16, &cycle, buffer.data()), 0) << "the largest times still work";

    Boolean willDo = 2, inPlace = 2;
    for (UInt32 operation :
         {kAudioServerPlugInIOOperationReadInput, kAudioServerPlugInIOOperationWriteMix,
          kAudioServerPlugInIOOperationMixOutput, kAudioServerPlugInIOOperationConvertInput}) {
        ASSERT_EQ(driver.WillDoIOOperation(host.ref(), kVoice, 0, operation, &willDo, &inPlace), 0);
        EXPECT_EQ(bool(willDo), operation == read || operation == write) << code(operation);
        EXPECT_TRUE(inPlace);
    }
    EXPECT_EQ(driver.WillDoIOOperation(host.ref(), kVoice, 0, read, &willDo, nullptr),
              kAudioHardwareIllegalOperationError);
    EXPECT_EQ(driver.WillDoIOOperation(host.ref(), kPlugIn, 0, read, &willDo, &inPlace),
              kAudioHardwareIllegalOperationError);
}

} // namespace
