#pragma once

// Core Foundation stand-ins for builds without Apple's SDK: only what the driver and the HAL layer touch.
// Our convention, so that any host can load the module: a UUID reference points to its 16 bytes; a string
// reference points to { 'CFSt', length in UTF-16 code units, characters }.

#include "driver/abi/BaseTypes.h"

#include <cstddef>
#include <cstring>

struct CFUUIDBytes {
    UInt8 byte0, byte1, byte2, byte3, byte4, byte5, byte6, byte7;
    UInt8 byte8, byte9, byte10, byte11, byte12, byte13, byte14, byte15;
};

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
