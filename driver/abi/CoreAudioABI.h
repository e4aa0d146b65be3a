#pragma once

// The Core Audio plug-in ABI, as the driver and our HAL layer see it. On Apple platforms the SDK headers
// are the truth; elsewhere we declare the same names with the same layouts (x86-64 natural alignment), plus
// the few Core Foundation stand-ins the driver touches. Sources written against this header compile
// unchanged against the SDK.

#if defined(__APPLE__)

#include <CoreAudio/AudioServerPlugIn.h>
#include <CoreFoundation/CoreFoundation.h>

#else

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sys/types.h>

// --- Base types -------------------------------------------------------------------------------------------

typedef uint8_t UInt8;
typedef uint16_t UInt16;
typedef uint32_t UInt32;
typedef uint64_t UInt64;
typedef int16_t SInt16;
typedef int32_t SInt32;
typedef int64_t SInt64;
typedef float Float32;
typedef double Float64;
typedef SInt32 OSStatus;
typedef unsigned char Boolean;

typedef UInt32 AudioObjectID;
typedef UInt32 AudioClassID;
typedef UInt32 AudioObjectPropertySelector;
typedef UInt32 AudioObjectPropertyScope;
typedef UInt32 AudioObjectPropertyElement;
typedef UInt32 AudioFormatID;
typedef UInt32 AudioFormatFlags;
typedef UInt32 AudioChannelLayoutTag;
typedef UInt32 AudioChannelLabel;
typedef UInt32 AudioChannelBitmap;
typedef UInt32 AudioChannelFlags;

typedef SInt32 HRESULT;
typedef UInt32 ULONG;
typedef void* LPVOID;

// --- Core Foundation stand-ins ----------------------------------------------------------------------------
// Our convention on non-Apple systems, so that any host can load the module: a UUID reference points to its
// 16 bytes; a string reference points to { 'CFSt', length in UTF-16 code units, characters }.

struct CFUUIDBytes {
    UInt8 byte0, byte1, byte2, byte3, byte4, byte5, byte6, byte7;
    UInt8 byte8, byte9, byte10, byte11, byte12, byte13, byte14, byte15;
};
typedef CFUUIDBytes REFIID;

struct __CFUUID {
    UInt8 bytes[16];
};
struct __CFString {
    UInt32 isa;
    UInt32 length;
    const UInt16* characters;
};
struct __CFURL;
struct __CFDictionary;
struct __CFAllocator;

typedef const __CFUUID* CFUUIDRef;
typedef const __CFString* CFStringRef;
typedef const __CFURL* CFURLRef;
typedef const __CFDictionary* CFDictionaryRef;
typedef const __CFAllocator* CFAllocatorRef;
typedef const void* CFTypeRef;
typedef const void* CFPropertyListRef;

constexpr UInt32 kCFStringStandInIsa = 0x43465374; // 'CFSt'

static_assert(sizeof(CFUUIDBytes) == 16);
static_assert(sizeof(__CFString) == 16);

// Every string the driver hands out is a constant: retaining or releasing one changes nothing.
inline CFTypeRef CFRetain(CFTypeRef object)
{
    return object;
}
inline void CFRelease(CFTypeRef) {}

inline CFUUIDBytes CFUUIDGetUUIDBytes(CFUUIDRef uuid)
{
    CFUUIDBytes bytes;
    std::memcpy(&bytes, uuid->bytes, sizeof bytes);
    return bytes;
}

// A constant stand-in string built at compile time from a UTF-16 literal.
template <std::size_t N> struct CFStringConstantUnits {
    UInt16 units[N];
    constexpr CFStringConstantUnits(const char16_t (&text)[N]) : units{}
    {
        for (std::size_t i = 0; i < N; ++i)
            units[i] = static_cast<UInt16>(text[i]);
    }
};

// --- Status codes -----------------------------------------------------------------------------------------

constexpr UInt32 fourCharCode(const char (&code)[5])
{
    return (UInt32(UInt8(code[0])) << 24) | (UInt32(UInt8(code[1])) << 16) | (UInt32(UInt8(code[2])) << 8) |
           UInt32(UInt8(code[3]));
}

enum : OSStatus {
    kAudioHardwareNoError = 0,
    kAudioHardwareNotRunningError = OSStatus(fourCharCode("stop")),
    kAudioHardwareUnspecifiedError = OSStatus(fourCharCode("what")),
    kAudioHardwareUnknownPropertyError = OSStatus(fourCharCode("who?")),
    kAudioHardwareBadPropertySizeError = OSStatus(fourCharCode("!siz")),
    kAudioHardwareIllegalOperationError = OSStatus(fourCharCode("nope")),
    kAudioHardwareBadObjectError = OSStatus(fourCharCode("!obj")),
    kAudioHardwareBadDeviceError = OSStatus(fourCharCode("!dev")),
    kAudioHardwareBadStreamError = OSStatus(fourCharCode("!str")),
    kAudioHardwareUnsupportedOperationError = OSStatus(fourCharCode("unop")),
    kAudioDeviceUnsupportedFormatError = OSStatus(fourCharCode("!dat")),
};

// --- Objects, scopes, classes -----------------------------------------------------------------------------

enum : UInt32 {
    kAudioObjectUnknown = 0,
    kAudioObjectSystemObject = 1,
    kAudioObjectPlugInObject = 1,
    kAudioServerPlugInHostClientID = 0,

    kAudioObjectPropertyScopeGlobal = fourCharCode("glob"),
    kAudioObjectPropertyScopeInput = fourCharCode("inpt"),
    kAudioObjectPropertyScopeOutput = fourCharCode("outp"),
    kAudioObjectPropertyScopePlayThrough = fourCharCode("ptru"),
    kAudioObjectPropertyScopeWildcard = fourCharCode("****"),
    kAudioObjectPropertySelectorWildcard = fourCharCode("****"),
    kAudioObjectPropertyElementMain = 0,
    kAudioObjectPropertyElementWildcard = 0xFFFFFFFF,
    kAudioObjectClassIDWildcard = fourCharCode("****"),

    kAudioObjectClassID = fourCharCode("aobj"),
    kAudioPlugInClassID = fourCharCode("aplg"),
    kAudioDeviceClassID = fourCharCode("adev"),
    kAudioStreamClassID = fourCharCode("astr"),
    kAudioBoxClassID = fourCharCode("abox"),
    kAudioSystemObjectClassID = fourCharCode("asys"),

    kAudioDeviceTransportTypeUnknown = 0,
    kAudioDeviceTransportTypeBuiltIn = fourCharCode("bltn"),
    kAudioDeviceTransportTypeVirtual = fourCharCode("virt"),
    kAudioStreamTerminalTypeLine = fourCharCode("line"),
};

// --- Property selectors -----------------------------------------------------------------------------------

enum : AudioObjectPropertySelector {
    kAudioObjectPropertyBaseClass = fourCharCode("bcls"),
    kAudioObjectPropertyClass = fourCharCode("clas"),
    kAudioObjectPropertyOwner = fourCharCode("stdv"),
    kAudioObjectPropertyName = fourCharCode("lnam"),
    kAudioObjectPropertyManufacturer = fourCharCode("lmak"),
    kAudioObjectPropertyOwnedObjects = fourCharCode("ownd"),
    kAudioObjectPropertyControlList = fourCharCode("ctrl"),

    kAudioPlugInPropertyBundleID = fourCharCode("piid"),
    kAudioPlugInPropertyDeviceList = fourCharCode("dev#"),
    kAudioPlugInPropertyBoxList = fourCharCode("box#"),
    kAudioPlugInPropertyTranslateUIDToDevice = fourCharCode("uidd"),
    kAudioPlugInPropertyResourceBundle = fourCharCode("rsrc"),

    kAudioHardwarePropertyDevices = fourCharCode("dev#"),
    kAudioHardwarePropertyDefaultInputDevice = fourCharCode("dIn "),
    kAudioHardwarePropertyDefaultOutputDevice = fourCharCode("dOut"),
    kAudioHardwarePropertyTranslateUIDToDevice = fourCharCode("uidd"),

    kAudioDevicePropertyDeviceUID = fourCharCode("uid "),
    kAudioDevicePropertyModelUID = fourCharCode("muid"),
    kAudioDevicePropertyTransportType = fourCharCode("tran"),
    kAudioDevicePropertyRelatedDevices = fourCharCode("akin"),
    kAudioDevicePropertyClockDomain = fourCharCode("clkd"),
    kAudioDevicePropertyDeviceIsAlive = fourCharCode("livn"),
    kAudioDevicePropertyDeviceIsRunning = fourCharCode("goin"),
    kAudioDevicePropertyDeviceCanBeDefaultDevice = fourCharCode("dflt"),
    kAudioDevicePropertyDeviceCanBeDefaultSystemDevice = fourCharCode("sflt"),
    kAudioDevicePropertyLatency = fourCharCode("ltnc"),
    kAudioDevicePropertyStreams = fourCharCode("stm#"),
    kAudioDevicePropertySafetyOffset = fourCharCode("saft"),
    kAudioDevicePropertyNominalSampleRate = fourCharCode("nsrt"),
    kAudioDevicePropertyAvailableNominalSampleRates = fourCharCode("nsr#"),
    kAudioDevicePropertyIcon = fourCharCode("icon"),
    kAudioDevicePropertyIsHidden = fourCharCode("hidn"),
    kAudioDevicePropertyPreferredChannelsForStereo = fourCharCode("dch2"),
    kAudioDevicePropertyPreferredChannelLayout = fourCharCode("srnd"),
    kAudioDevicePropertyZeroTimeStampPeriod = fourCharCode("ring"),

    kAudioStreamPropertyIsActive = fourCharCode("sact"),
    kAudioStreamPropertyDirection = fourCharCode("sdir"),
    kAudioStreamPropertyTerminalType = fourCharCode("term"),
    kAudioStreamPropertyStartingChannel = fourCharCode("schn"),
    kAudioStreamPropertyLatency = fourCharCode("ltnc"),
    kAudioStreamPropertyVirtualFormat = fourCharCode("sfmt"),
    kAudioStreamPropertyAvailableVirtualFormats = fourCharCode("sfma"),
    kAudioStreamPropertyPhysicalFormat = fourCharCode("pft "),
    kAudioStreamPropertyAvailablePhysicalFormats = fourCharCode("pfta"),
};

// --- Formats ----------------------------------------------------------------------------------------------

enum : UInt32 {
    kAudioFormatLinearPCM = fourCharCode("lpcm"),
    kAudioFormatFlagIsFloat = 0x1,
    kAudioFormatFlagIsBigEndian = 0x2,
    kAudioFormatFlagIsSignedInteger = 0x4,
    kAudioFormatFlagIsPacked = 0x8,
    kAudioFormatFlagIsAlignedHigh = 0x10,
    kAudioFormatFlagIsNonInterleaved = 0x20,
    kAudioFormatFlagIsNonMixable = 0x40,
    kAudioFormatFlagsNativeFloatPacked = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked,

    kAudioChannelLayoutTag_Stereo = (101u << 16) | 2,
    kAudioChannelLayoutTag_Mono = (100u << 16) | 1,
    kAudioChannelLabel_Left = 1,
    kAudioChannelLabel_Right = 2,

    kAudioTimeStampSampleTimeValid = 1,
    kAudioTimeStampHostTimeValid = 2,
    kAudioTimeStampRateScalarValid = 4,
    kAudioTimeStampWordClockTimeValid = 8,
    kAudioTimeStampSMPTETimeValid = 0x10,
};

// --- IO operations ----------------------------------------------------------------------------------------

enum : UInt32 {
    kAudioServerPlugInIOOperationThread = fourCharCode("thrd"),
    kAudioServerPlugInIOOperationCycle = fourCharCode("cycl"),
    kAudioServerPlugInIOOperationReadInput = fourCharCode("read"),
    kAudioServerPlugInIOOperationConvertInput = fourCharCode("cinp"),
    kAudioServerPlugInIOOperationProcessInput = fourCharCode("pinp"),
    kAudioServerPlugInIOOperationProcessOutput = fourCharCode("pout"),
    kAudioServerPlugInIOOperationMixOutput = fourCharCode("mixo"),
    kAudioServerPlugInIOOperationProcessMix = fourCharCode("pmix"),
    kAudioServerPlugInIOOperationConvertMix = fourCharCode("cmix"),
    kAudioServerPlugInIOOperationWriteMix = fourCharCode("rite"),
};

// --- COM results ------------------------------------------------------------------------------------------

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_NOTIMPL = HRESULT(0x80000001u);
constexpr HRESULT E_NOINTERFACE = HRESULT(0x80000004u);
constexpr HRESULT E_POINTER = HRESULT(0x80000005u);
constexpr HRESULT E_FAIL = HRESULT(0x80000008u);

// --- Structures -------------------------------------------------------------------------------------------

struct AudioObjectPropertyAddress {
    AudioObjectPropertySelector mSelector;
    AudioObjectPropertyScope mScope;
    AudioObjectPropertyElement mElement;
};

struct AudioValueRange {
    Float64 mMinimum;
    Float64 mMaximum;
};

struct AudioStreamBasicDescription {
    Float64 mSampleRate;
    AudioFormatID mFormatID;
    AudioFormatFlags mFormatFlags;
    UInt32 mBytesPerPacket;
    UInt32 mFramesPerPacket;
    UInt32 mBytesPerFrame;
    UInt32 mChannelsPerFrame;
    UInt32 mBitsPerChannel;
    UInt32 mReserved;
};

struct AudioStreamRangedDescription {
    AudioStreamBasicDescription mFormat;
    AudioValueRange mSampleRateRange;
};

struct AudioChannelDescription {
    AudioChannelLabel mChannelLabel;
    AudioChannelFlags mChannelFlags;
    Float32 mCoordinates[3];
};

struct AudioChannelLayout {
    AudioChannelLayoutTag mChannelLayoutTag;
    AudioChannelBitmap mChannelBitmap;
    UInt32 mNumberChannelDescriptions;
    AudioChannelDescription mChannelDescriptions[1];
};

struct SMPTETime {
    SInt16 mSubframes;
    SInt16 mSubframeDivisor;
    UInt32 mCounter;
    UInt32 mType;
    UInt32 mFlags;
    SInt16 mHours;
    SInt16 mMinutes;
    SInt16 mSeconds;
    SInt16 mFrames;
};

struct AudioTimeStamp {
    Float64 mSampleTime;
    UInt64 mHostTime;
    Float64 mRateScalar;
    UInt64 mWordClockTime;
    SMPTETime mSMPTETime;
    UInt32 mFlags;
    UInt32 mReserved;
};

struct AudioServerPlugInIOCycleInfo {
    UInt64 mIOCycleCounter;
    UInt32 mNominalIOBufferFrameSize;
    AudioTimeStamp mCurrentTime;
    AudioTimeStamp mInputTime;
    AudioTimeStamp mOutputTime;
    Float64 mMainHostTicksPerFrame;
    Float64 mDeviceHostTicksPerFrame;
};

struct AudioServerPlugInClientInfo {
    UInt32 mClientID;
    pid_t mProcessID;
    Boolean mIsNativeEndian;
    CFStringRef mBundleID;
};

struct AudioBuffer {
    UInt32 mNumberChannels;
    UInt32 mDataByteSize;
    void* mData;
};

struct AudioBufferList {
    UInt32 mNumberBuffers;
    AudioBuffer mBuffers[1];
};

static_assert(sizeof(AudioObjectPropertyAddress) == 12);
static_assert(sizeof(AudioStreamBasicDescription) == 40);
static_assert(sizeof(AudioStreamRangedDescription) == 56);
static_assert(sizeof(AudioChannelLayout) == 32 && offsetof(AudioChannelLayout, mChannelDescriptions) == 12);
static_assert(sizeof(SMPTETime) == 24);
static_assert(sizeof(AudioTimeStamp) == 64 && offsetof(AudioTimeStamp, mFlags) == 56);
static_assert(sizeof(AudioServerPlugInIOCycleInfo) == 224 &&
              offsetof(AudioServerPlugInIOCycleInfo, mInputTime) == 80 &&
              offsetof(AudioServerPlugInIOCycleInfo, mDeviceHostTicksPerFrame) == 216);
static_assert(sizeof(AudioServerPlugInClientInfo) == 24);
static_assert(sizeof(AudioBufferList) == 24);

// --- Driver and host interfaces ---------------------------------------------------------------------------

struct AudioServerPlugInHostInterface;
typedef const AudioServerPlugInHostInterface* AudioServerPlugInHostRef;
struct AudioServerPlugInDriverInterface;
typedef AudioServerPlugInDriverInterface** AudioServerPlugInDriverRef;

struct AudioServerPlugInHostInterface {
    OSStatus (*PropertiesChanged)(AudioServerPlugInHostRef inHost, AudioObjectID inObjectID,
                                  UInt32 inNumberAddresses, const AudioObjectPropertyAddress* inAddresses);
    OSStatus (*CopyFromStorage)(AudioServerPlugInHostRef inHost, CFStringRef inKey,
                                CFPropertyListRef* outData);
    OSStatus (*WriteToStorage)(AudioServerPlugInHostRef inHost, CFStringRef inKey, CFPropertyListRef inData);
    OSStatus (*DeleteFromStorage)(AudioServerPlugInHostRef inHost, CFStringRef inKey);
    OSStatus (*RequestDeviceConfigurationChange)(AudioServerPlugInHostRef inHost,
                                                 AudioObjectID inDeviceObjectID, UInt64 inChangeAction,
                                                 void* inChangeInfo);
};

struct AudioServerPlugInDriverInterface {
    void* _reserved;
    HRESULT (*QueryInterface)(void* inDriver, REFIID inUUID, LPVOID* outInterface);
    ULONG (*AddRef)(void* inDriver);
    ULONG (*Release)(void* inDriver);
    OSStatus (*Initialize)(AudioServerPlugInDriverRef inDriver, AudioServerPlugInHostRef inHost);
    OSStatus (*CreateDevice)(AudioServerPlugInDriverRef inDriver, CFDictionaryRef inDescription,
                             const AudioServerPlugInClientInfo* inClientInfo,
                             AudioObjectID* outDeviceObjectID);
    OSStatus (*DestroyDevice)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID);
    OSStatus (*AddDeviceClient)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                const AudioServerPlugInClientInfo* inClientInfo);
    OSStatus (*RemoveDeviceClient)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                   const AudioServerPlugInClientInfo* inClientInfo);
    OSStatus (*PerformDeviceConfigurationChange)(AudioServerPlugInDriverRef inDriver,
                                                 AudioObjectID inDeviceObjectID, UInt64 inChangeAction,
                                                 void* inChangeInfo);
    OSStatus (*AbortDeviceConfigurationChange)(AudioServerPlugInDriverRef inDriver,
                                               AudioObjectID inDeviceObjectID, UInt64 inChangeAction,
                                               void* inChangeInfo);
    Boolean (*HasProperty)(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                           pid_t inClientProcessID, const AudioObjectPropertyAddress* inAddress);
    OSStatus (*IsPropertySettable)(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                                   pid_t inClientProcessID, const AudioObjectPropertyAddress* inAddress,
                                   Boolean* outIsSettable);
    OSStatus (*GetPropertyDataSize)(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                                    pid_t inClientProcessID, const AudioObjectPropertyAddress* inAddress,
                                    UInt32 inQualifierDataSize, const void* inQualifierData,
                                    UInt32* outDataSize);
    OSStatus (*GetPropertyData)(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                                pid_t inClientProcessID, const AudioObjectPropertyAddress* inAddress,
                                UInt32 inQualifierDataSize, const void* inQualifierData, UInt32 inDataSize,
                                UInt32* outDataSize, void* outData);
    OSStatus (*SetPropertyData)(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                                pid_t inClientProcessID, const AudioObjectPropertyAddress* inAddress,
                                UInt32 inQualifierDataSize, const void* inQualifierData, UInt32 inDataSize,
                                const void* inData);
    OSStatus (*StartIO)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                        UInt32 inClientID);
    OSStatus (*StopIO)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                       UInt32 inClientID);
    OSStatus (*GetZeroTimeStamp)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                 UInt32 inClientID, Float64* outSampleTime, UInt64* outHostTime,
                                 UInt64* outSeed);
    OSStatus (*WillDoIOOperation)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                  UInt32 inClientID, UInt32 inOperationID, Boolean* outWillDo,
                                  Boolean* outWillDoInPlace);
    OSStatus (*BeginIOOperation)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                 UInt32 inClientID, UInt32 inOperationID, UInt32 inIOBufferFrameSize,
                                 const AudioServerPlugInIOCycleInfo* inIOCycleInfo);
    OSStatus (*DoIOOperation)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                              AudioObjectID inStreamObjectID, UInt32 inClientID, UInt32 inOperationID,
                              UInt32 inIOBufferFrameSize, const AudioServerPlugInIOCycleInfo* inIOCycleInfo,
                              void* ioMainBuffer, void* ioSecondaryBuffer);
    OSStatus (*EndIOOperation)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                               UInt32 inClientID, UInt32 inOperationID, UInt32 inIOBufferFrameSize,
                               const AudioServerPlugInIOCycleInfo* inIOCycleInfo);
};

static_assert(sizeof(AudioServerPlugInDriverInterface) == 23 * sizeof(void*));
static_assert(sizeof(AudioServerPlugInHostInterface) == 5 * sizeof(void*));

#endif
