#pragma once

// The Core Audio names the plug-in ABI and the HAL use (AudioHardwareBase.h, AudioServerPlugIn.h,
// CoreAudioBaseTypes.h), with the SDK's layouts on 64-bit systems. Used by the stand-in build, and by the
// declaration-only SDK subset that type-checks our macOS sources, so both see exactly one set of names.
// Expects the Mac base types, CFUUIDBytes, CFStringRef, CFDictionaryRef, CFPropertyListRef and the COM types
// to be declared already.

#include <sys/types.h>

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

// --- Status codes -----------------------------------------------------------------------------------------

namespace orlea_abi {
constexpr UInt32 fourCharCode(const char (&code)[5])
{
    return (UInt32(UInt8(code[0])) << 24) | (UInt32(UInt8(code[1])) << 16) | (UInt32(UInt8(code[2])) << 8) |
           UInt32(UInt8(code[3]));
}
} // namespace orlea_abi

enum : OSStatus {
    kAudioHardwareNoError = 0,
    kAudioHardwareNotRunningError = OSStatus(orlea_abi::fourCharCode("stop")),
    kAudioHardwareUnspecifiedError = OSStatus(orlea_abi::fourCharCode("what")),
    kAudioHardwareUnknownPropertyError = OSStatus(orlea_abi::fourCharCode("who?")),
    kAudioHardwareBadPropertySizeError = OSStatus(orlea_abi::fourCharCode("!siz")),
    kAudioHardwareIllegalOperationError = OSStatus(orlea_abi::fourCharCode("nope")),
    kAudioHardwareBadObjectError = OSStatus(orlea_abi::fourCharCode("!obj")),
    kAudioHardwareBadDeviceError = OSStatus(orlea_abi::fourCharCode("!dev")),
    kAudioHardwareBadStreamError = OSStatus(orlea_abi::fourCharCode("!str")),
    kAudioHardwareUnsupportedOperationError = OSStatus(orlea_abi::fourCharCode("unop")),
    kAudioDeviceUnsupportedFormatError = OSStatus(orlea_abi::fourCharCode("!dat")),
};

// --- Objects, scopes, classes -----------------------------------------------------------------------------

enum : UInt32 {
    kAudioObjectUnknown = 0,
    kAudioObjectSystemObject = 1,
    kAudioObjectPlugInObject = 1,
    kAudioServerPlugInHostClientID = 0,

    kAudioObjectPropertyScopeGlobal = orlea_abi::fourCharCode("glob"),
    kAudioObjectPropertyScopeInput = orlea_abi::fourCharCode("inpt"),
    kAudioObjectPropertyScopeOutput = orlea_abi::fourCharCode("outp"),
    kAudioObjectPropertyScopePlayThrough = orlea_abi::fourCharCode("ptru"),
    kAudioObjectPropertyScopeWildcard = orlea_abi::fourCharCode("****"),
    kAudioObjectPropertySelectorWildcard = orlea_abi::fourCharCode("****"),
    kAudioObjectPropertyElementMain = 0,
    kAudioObjectPropertyElementWildcard = 0xFFFFFFFF,
    kAudioObjectClassIDWildcard = orlea_abi::fourCharCode("****"),

    kAudioObjectClassID = orlea_abi::fourCharCode("aobj"),
    kAudioPlugInClassID = orlea_abi::fourCharCode("aplg"),
    kAudioDeviceClassID = orlea_abi::fourCharCode("adev"),
    kAudioStreamClassID = orlea_abi::fourCharCode("astr"),
    kAudioBoxClassID = orlea_abi::fourCharCode("abox"),
    kAudioSystemObjectClassID = orlea_abi::fourCharCode("asys"),

    kAudioDeviceTransportTypeUnknown = 0,
    kAudioDeviceTransportTypeBuiltIn = orlea_abi::fourCharCode("bltn"),
    kAudioDeviceTransportTypeVirtual = orlea_abi::fourCharCode("virt"),
    kAudioStreamTerminalTypeLine = orlea_abi::fourCharCode("line"),
};

// --- Property selectors -----------------------------------------------------------------------------------

enum : AudioObjectPropertySelector {
    kAudioObjectPropertyBaseClass = orlea_abi::fourCharCode("bcls"),
    kAudioObjectPropertyClass = orlea_abi::fourCharCode("clas"),
    kAudioObjectPropertyOwner = orlea_abi::fourCharCode("stdv"),
    kAudioObjectPropertyName = orlea_abi::fourCharCode("lnam"),
    kAudioObjectPropertyManufacturer = orlea_abi::fourCharCode("lmak"),
    kAudioObjectPropertyOwnedObjects = orlea_abi::fourCharCode("ownd"),
    kAudioObjectPropertyControlList = orlea_abi::fourCharCode("ctrl"),

    kAudioPlugInPropertyBundleID = orlea_abi::fourCharCode("piid"),
    kAudioPlugInPropertyDeviceList = orlea_abi::fourCharCode("dev#"),
    kAudioPlugInPropertyBoxList = orlea_abi::fourCharCode("box#"),
    kAudioPlugInPropertyTranslateUIDToDevice = orlea_abi::fourCharCode("uidd"),
    kAudioPlugInPropertyResourceBundle = orlea_abi::fourCharCode("rsrc"),

    kAudioHardwarePropertyDevices = orlea_abi::fourCharCode("dev#"),
    kAudioHardwarePropertyDefaultInputDevice = orlea_abi::fourCharCode("dIn "),
    kAudioHardwarePropertyDefaultOutputDevice = orlea_abi::fourCharCode("dOut"),
    kAudioHardwarePropertyTranslateUIDToDevice = orlea_abi::fourCharCode("uidd"),

    kAudioDevicePropertyDeviceUID = orlea_abi::fourCharCode("uid "),
    kAudioDevicePropertyModelUID = orlea_abi::fourCharCode("muid"),
    kAudioDevicePropertyTransportType = orlea_abi::fourCharCode("tran"),
    kAudioDevicePropertyRelatedDevices = orlea_abi::fourCharCode("akin"),
    kAudioDevicePropertyClockDomain = orlea_abi::fourCharCode("clkd"),
    kAudioDevicePropertyDeviceIsAlive = orlea_abi::fourCharCode("livn"),
    kAudioDevicePropertyDeviceIsRunning = orlea_abi::fourCharCode("goin"),
    kAudioDevicePropertyDeviceCanBeDefaultDevice = orlea_abi::fourCharCode("dflt"),
    kAudioDevicePropertyDeviceCanBeDefaultSystemDevice = orlea_abi::fourCharCode("sflt"),
    kAudioDevicePropertyLatency = orlea_abi::fourCharCode("ltnc"),
    kAudioDevicePropertyStreams = orlea_abi::fourCharCode("stm#"),
    kAudioDevicePropertySafetyOffset = orlea_abi::fourCharCode("saft"),
    kAudioDevicePropertyNominalSampleRate = orlea_abi::fourCharCode("nsrt"),
    kAudioDevicePropertyAvailableNominalSampleRates = orlea_abi::fourCharCode("nsr#"),
    kAudioDevicePropertyIcon = orlea_abi::fourCharCode("icon"),
    kAudioDevicePropertyIsHidden = orlea_abi::fourCharCode("hidn"),
    kAudioDevicePropertyPreferredChannelsForStereo = orlea_abi::fourCharCode("dch2"),
    kAudioDevicePropertyPreferredChannelLayout = orlea_abi::fourCharCode("srnd"),
    kAudioDevicePropertyZeroTimeStampPeriod = orlea_abi::fourCharCode("ring"),

    kAudioStreamPropertyIsActive = orlea_abi::fourCharCode("sact"),
    kAudioStreamPropertyDirection = orlea_abi::fourCharCode("sdir"),
    kAudioStreamPropertyTerminalType = orlea_abi::fourCharCode("term"),
    kAudioStreamPropertyStartingChannel = orlea_abi::fourCharCode("schn"),
    kAudioStreamPropertyLatency = orlea_abi::fourCharCode("ltnc"),
    kAudioStreamPropertyVirtualFormat = orlea_abi::fourCharCode("sfmt"),
    kAudioStreamPropertyAvailableVirtualFormats = orlea_abi::fourCharCode("sfma"),
    kAudioStreamPropertyPhysicalFormat = orlea_abi::fourCharCode("pft "),
    kAudioStreamPropertyAvailablePhysicalFormats = orlea_abi::fourCharCode("pfta"),
};

// --- Formats ----------------------------------------------------------------------------------------------

enum : UInt32 {
    kAudioFormatLinearPCM = orlea_abi::fourCharCode("lpcm"),
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
    kAudioServerPlugInIOOperationThread = orlea_abi::fourCharCode("thrd"),
    kAudioServerPlugInIOOperationCycle = orlea_abi::fourCharCode("cycl"),
    kAudioServerPlugInIOOperationReadInput = orlea_abi::fourCharCode("read"),
    kAudioServerPlugInIOOperationConvertInput = orlea_abi::fourCharCode("cinp"),
    kAudioServerPlugInIOOperationProcessInput = orlea_abi::fourCharCode("pinp"),
    kAudioServerPlugInIOOperationProcessOutput = orlea_abi::fourCharCode("pout"),
    kAudioServerPlugInIOOperationMixOutput = orlea_abi::fourCharCode("mixo"),
    kAudioServerPlugInIOOperationProcessMix = orlea_abi::fourCharCode("pmix"),
    kAudioServerPlugInIOOperationConvertMix = orlea_abi::fourCharCode("cmix"),
    kAudioServerPlugInIOOperationWriteMix = orlea_abi::fourCharCode("rite"),
};

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
