// libFuzzer target: arbitrary objects, addresses, sizes, qualifiers and IO arguments against the driver's
// entry points. Pointers stay honest (a host never passes a wild pointer); everything else is up to the
// input.

#include "driver/abi/CoreAudioABI.h"
#include "tests/driver/DriverSelectors.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

extern "C" void* VelkaroAudioFactory(CFAllocatorRef allocator, CFUUIDRef requestedType);

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    template <typename T> T take()
    {
        T value{};
        const size_t count = std::min(sizeof(T), m_size - m_offset);
        std::memcpy(&value, m_data + m_offset, count);
        m_offset += count;
        return value;
    }
    size_t remaining() const { return m_size - m_offset; }
    const uint8_t* rest() const { return m_data + m_offset; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
};

AudioServerPlugInDriverRef driver()
{
    static AudioServerPlugInDriverRef ref = [] {
        const __CFUUID type = {
            {0x44, 0x3A, 0xBA, 0xB8, 0xE7, 0xB3, 0x49, 0x1A, 0xB9, 0x85, 0xBE, 0xB9, 0x18, 0x70, 0x30, 0xDB}};
        auto created = static_cast<AudioServerPlugInDriverRef>(VelkaroAudioFactory(nullptr, &type));
        (*created)->Initialize(created, nullptr);
        return created;
    }();
    return ref;
}

alignas(16) UInt8 ioBuffer[32768 * 8 + 64];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    AudioServerPlugInDriverRef ref = driver();
    AudioServerPlugInDriverInterface& api = **ref;
    Input input(data, size);

    const UInt8 operation = input.take<UInt8>();
    const UInt8 objectPick = input.take<UInt8>();
    const AudioObjectID object = objectPick < 200 ? objectPick % 10 : input.take<UInt32>();
    const UInt8 selectorPick = input.take<UInt8>();
    AudioObjectPropertyAddress address;
    address.mSelector = selectorPick < 200
                            ? kAllSelectors[selectorPick % (sizeof kAllSelectors / sizeof kAllSelectors[0])]
                            : input.take<UInt32>();
    const UInt8 scopePick = input.take<UInt8>();
    const UInt32 scopes[] = {kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyScopeInput,
                             kAudioObjectPropertyScopeOutput, kAudioObjectPropertyScopePlayThrough};
    address.mScope = scopePick < 200 ? scopes[scopePick % 4] : input.take<UInt32>();
    address.mElement = input.take<UInt8>() < 230 ? 0 : input.take<UInt32>();

    // The qualifier: a string reference for `uidd`-shaped sizes, raw bytes otherwise.
    const UInt8 qualifierShape = input.take<UInt8>();
    UInt32 qualifierSize = input.take<UInt8>();
    std::vector<UInt8> qualifierBytes(qualifierSize);
    for (UInt8& byte : qualifierBytes)
        byte = input.take<UInt8>();
    std::u16string text;
    for (UInt8 i = 0, length = input.take<UInt8>() % 40; i < length; ++i)
        text.push_back(char16_t(input.take<UInt16>()));
    const __CFString string = {qualifierShape & 1 ? 0u : kCFStringStandInIsa, UInt32(text.size()),
                               reinterpret_cast<const UInt16*>(text.data())};
    CFStringRef stringRef = qualifierShape & 2 ? nullptr : &string;
    const void* qualifier = qualifierBytes.data();
    if (qualifierShape & 4) {
        qualifierSize = sizeof stringRef;
        qualifier = &stringRef;
    } else if (qualifierShape & 8) {
        qualifier = nullptr;
    }
    // `uidd` reads a string reference out of its qualifier: raw bytes there would be a wild pointer.
    if (address.mSelector == kAudioPlugInPropertyTranslateUIDToDevice && qualifier == qualifierBytes.data() &&
        qualifierSize == sizeof stringRef)
        qualifier = &stringRef;

    alignas(16) UInt8 out[128];
    const UInt32 capacity = input.take<UInt8>() % (sizeof out + 1);
    UInt32 used = 0;
    Boolean flag = 0;
    switch (operation % 8) {
    case 0:
        api.HasProperty(ref, object, 0, &address);
        break;
    case 1:
        api.IsPropertySettable(ref, object, 0, &address, input.take<UInt8>() & 1 ? nullptr : &flag);
        break;
    case 2:
        api.GetPropertyDataSize(ref, object, 0, &address, qualifierSize, qualifier, &used);
        break;
    case 3: {
        const OSStatus status = api.GetPropertyData(ref, object, 0, &address, qualifierSize, qualifier,
                                                    capacity, &used, input.take<UInt8>() & 1 ? nullptr : out);
        if (status == 0 && used > capacity)
            __builtin_trap(); // wrote beyond what the caller allowed
        break;
    }
    case 4: {
        const UInt32 dataSize = std::min<UInt32>(input.take<UInt8>(), UInt32(input.remaining()));
        std::vector<UInt8> payload(input.rest(), input.rest() + dataSize);
        api.SetPropertyData(ref, object, 0, &address, qualifierSize, qualifier, dataSize,
                            dataSize == 0 ? nullptr : payload.data());
        break;
    }
    case 5:
        if (input.take<UInt8>() & 1)
            api.StartIO(ref, object, 0);
        else
            api.StopIO(ref, object, 0);
        break;
    case 6: {
        AudioServerPlugInIOCycleInfo cycle{};
        cycle.mInputTime.mSampleTime = input.take<Float64>();
        cycle.mOutputTime.mSampleTime = input.take<Float64>();
        const AudioObjectID stream = input.take<UInt8>() % 10;
        const UInt32 frames = input.take<UInt16>() % 32770;
        const UInt32 op = input.take<UInt8>() & 1 ? kAudioServerPlugInIOOperationReadInput
                                                  : kAudioServerPlugInIOOperationWriteMix;
        api.DoIOOperation(ref, object, stream, 0, op, frames, &cycle, frames <= 32768 ? ioBuffer : nullptr,
                          nullptr);
        break;
    }
    default: {
        Float64 sampleTime = 0;
        UInt64 hostTime = 0, seed = 0;
        api.GetZeroTimeStamp(ref, object, 0, &sampleTime, &hostTime, &seed);
        Boolean willDo = 0, inPlace = 0;
        api.WillDoIOOperation(ref, object, 0, input.take<UInt32>(), &willDo, &inPlace);
        break;
    }
    }
    return 0;
}
