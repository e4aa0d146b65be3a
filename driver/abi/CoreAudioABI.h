#pragma once

// The Core Audio plug-in ABI, as the driver and our HAL layer see it. On Apple systems the SDK headers are
// the truth; elsewhere we declare the same names with the same layouts (64-bit natural alignment), plus the
// few Core Foundation stand-ins the driver touches. Sources written against this header compile unchanged
// against the SDK.
//
// ORLEA_APPLE_SDK selects Apple's headers. It follows from __APPLE__; the type-check of our macOS sources
// sets it elsewhere, with a declaration-only subset of the SDK on the include path.

#if defined(__APPLE__) && !defined(ORLEA_APPLE_SDK)
#define ORLEA_APPLE_SDK 1
#endif

#if defined(ORLEA_APPLE_SDK)

#include <CoreAudio/AudioServerPlugIn.h>
#include <CoreFoundation/CoreFoundation.h>

#else

// In this order: each needs the names of those before it.
#include "driver/abi/BaseTypes.h"
// clang-format off
#include "driver/abi/CoreFoundationStandIn.h"
#include "driver/abi/PlugInCOM.h"
#include "driver/abi/CoreAudioTypes.h"
// clang-format on

using orlea_abi::fourCharCode;

#endif

#include <cstddef>

// The layouts the driver and the simulated host rely on. Checked against our declarations here, and
// against the SDK's on a Mac, so a difference between the two fails the build instead of a call.
static_assert(sizeof(CFUUIDBytes) == 16);
static_assert(sizeof(AudioObjectPropertyAddress) == 12);
static_assert(sizeof(AudioStreamBasicDescription) == 40);
static_assert(sizeof(AudioStreamRangedDescription) == 56);
static_assert(sizeof(AudioChannelLayout) == 32 && offsetof(AudioChannelLayout, mChannelDescriptions) == 12);
static_assert(sizeof(SMPTETime) == 24);
static_assert(sizeof(AudioTimeStamp) == 64 && offsetof(AudioTimeStamp, mSMPTETime) == 32 &&
              offsetof(AudioTimeStamp, mFlags) == 56);
static_assert(sizeof(AudioServerPlugInIOCycleInfo) == 224 &&
              offsetof(AudioServerPlugInIOCycleInfo, mNominalIOBufferFrameSize) == 8 &&
              offsetof(AudioServerPlugInIOCycleInfo, mCurrentTime) == 16 &&
              offsetof(AudioServerPlugInIOCycleInfo, mInputTime) == 80 &&
              offsetof(AudioServerPlugInIOCycleInfo, mOutputTime) == 144 &&
              offsetof(AudioServerPlugInIOCycleInfo, mMainHostTicksPerFrame) == 208 &&
              offsetof(AudioServerPlugInIOCycleInfo, mDeviceHostTicksPerFrame) == 216);
static_assert(sizeof(AudioServerPlugInClientInfo) == 24 &&
              offsetof(AudioServerPlugInClientInfo, mBundleID) == 16);
static_assert(sizeof(AudioBuffer) == 16 && sizeof(AudioBufferList) == 24 &&
              offsetof(AudioBufferList, mBuffers) == 8);
static_assert(sizeof(AudioServerPlugInHostInterface) == 5 * sizeof(void*));
// The driver table: 23 pointer-sized slots, each where the host looks for it.
static_assert(sizeof(AudioServerPlugInDriverInterface) == 23 * sizeof(void*) &&
              offsetof(AudioServerPlugInDriverInterface, QueryInterface) == 1 * sizeof(void*) &&
              offsetof(AudioServerPlugInDriverInterface, Initialize) == 4 * sizeof(void*) &&
              offsetof(AudioServerPlugInDriverInterface, HasProperty) == 11 * sizeof(void*) &&
              offsetof(AudioServerPlugInDriverInterface, GetPropertyData) == 14 * sizeof(void*) &&
              offsetof(AudioServerPlugInDriverInterface, StartIO) == 16 * sizeof(void*) &&
              offsetof(AudioServerPlugInDriverInterface, GetZeroTimeStamp) == 18 * sizeof(void*) &&
              offsetof(AudioServerPlugInDriverInterface, DoIOOperation) == 21 * sizeof(void*) &&
              offsetof(AudioServerPlugInDriverInterface, EndIOOperation) == 22 * sizeof(void*));
