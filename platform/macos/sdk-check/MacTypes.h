#pragma once

// Declaration-only stand-in for part of Apple's SDK, used only to type-check our macOS sources on other
// systems. Written from Apple's documentation, not copied from the SDK; unverified until a Mac build
// confirms it. Declares only what our sources use.

// MacTypes.h: the fixed-width types, with the SDK's underlying types on 64-bit systems.
typedef unsigned char UInt8;
typedef signed char SInt8;
typedef unsigned short UInt16;
typedef signed short SInt16;
typedef unsigned int UInt32;
typedef signed int SInt32;
typedef unsigned long long UInt64;
typedef signed long long SInt64;
typedef float Float32;
typedef double Float64;
typedef unsigned char Boolean;
typedef SInt32 OSStatus;
typedef UInt32 FourCharCode;
typedef UInt16 UniChar;
