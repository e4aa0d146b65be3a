#pragma once

// The fixed-width types of the Mac (MacTypes.h), for builds without Apple's SDK.

#include <cstdint>
#include <sys/types.h>

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
