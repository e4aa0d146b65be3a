#pragma once

// Declaration-only stand-in for part of Apple's SDK, used only to type-check our macOS sources on other
// systems. Written from Apple's documentation, not copied from the SDK; unverified until a Mac build
// confirms it. Declares only what our sources use; each group names the SDK header it stands for.

#include <MacTypes.h>

#ifdef __cplusplus
extern "C" {
#endif

// CFBase.h
typedef const void* CFTypeRef;
typedef unsigned long CFTypeID;
typedef signed long CFIndex;
typedef const struct __attribute__((objc_bridge(id))) __CFAllocator* CFAllocatorRef;
typedef const struct __attribute__((objc_bridge(NSString))) __CFString* CFStringRef;
typedef CFTypeRef CFPropertyListRef;
typedef struct {
    CFIndex location;
    CFIndex length;
} CFRange;
typedef CFIndex CFComparisonResult;
enum { kCFCompareLessThan = -1, kCFCompareEqualTo = 0, kCFCompareGreaterThan = 1 };
extern const CFAllocatorRef kCFAllocatorDefault;
CFRange CFRangeMake(CFIndex location, CFIndex length);
CFTypeRef CFRetain(CFTypeRef object);
void CFRelease(CFTypeRef object);
CFTypeID CFGetTypeID(CFTypeRef object);
Boolean CFEqual(CFTypeRef first, CFTypeRef second);

// CFString.h
typedef unsigned long CFStringCompareFlags;
// CFSTR: the compiler's constant-string builtin, as the SDK defines it for clang.
#define CFSTR(cStr) ((CFStringRef)__builtin___CFStringMakeConstantString("" cStr ""))
CFTypeID CFStringGetTypeID(void);
CFIndex CFStringGetLength(CFStringRef string);
void CFStringGetCharacters(CFStringRef string, CFRange range, UniChar* buffer);
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef allocator, const UniChar* characters, CFIndex length);
CFComparisonResult CFStringCompare(CFStringRef first, CFStringRef second, CFStringCompareFlags options);

// CFNumber.h
typedef const struct __attribute__((objc_bridge(NSNumber))) __CFBoolean* CFBooleanRef;
typedef const struct __attribute__((objc_bridge(NSNumber))) __CFNumber* CFNumberRef;
typedef CFIndex CFNumberType;
enum { kCFNumberDoubleType = 13 };
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;
CFTypeID CFBooleanGetTypeID(void);
Boolean CFBooleanGetValue(CFBooleanRef boolean);
CFTypeID CFNumberGetTypeID(void);
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* value);

// CFArray.h
typedef const struct __attribute__((objc_bridge(NSArray))) __CFArray* CFArrayRef;
CFTypeID CFArrayGetTypeID(void);
CFIndex CFArrayGetCount(CFArrayRef array);
const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index);

// CFDictionary.h: the callback tables are only passed by address here, so their members are left out.
typedef const struct __attribute__((objc_bridge(NSDictionary))) __CFDictionary* CFDictionaryRef;
typedef struct CFDictionaryKeyCallBacks CFDictionaryKeyCallBacks;
typedef struct CFDictionaryValueCallBacks CFDictionaryValueCallBacks;
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;
CFDictionaryRef CFDictionaryCreate(CFAllocatorRef allocator, const void** keys, const void** values,
                                   CFIndex count, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks);

// CFURL.h
typedef const struct __attribute__((objc_bridge(NSURL))) __CFURL* CFURLRef;

// CFBundle.h
typedef struct __CFBundle* CFBundleRef;
CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID);
CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName, CFStringRef resourceType,
                                 CFStringRef subDirName);

// CFUUID.h
typedef struct {
    UInt8 byte0, byte1, byte2, byte3, byte4, byte5, byte6, byte7;
    UInt8 byte8, byte9, byte10, byte11, byte12, byte13, byte14, byte15;
} CFUUIDBytes;
typedef const struct __CFUUID* CFUUIDRef;
CFUUIDBytes CFUUIDGetUUIDBytes(CFUUIDRef uuid);

#ifdef __cplusplus
}
#endif

// CFPlugInCOM.h: shared with the driver's own ABI header.
#include "driver/abi/PlugInCOM.h"
