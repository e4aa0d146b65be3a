#pragma once

// Declaration-only stand-in for part of Apple's SDK, used only to type-check our macOS sources on other
// systems. Unverified until a Mac build confirms it.

// AudioHardwareBase.h and CoreAudioBaseTypes.h: the object, property, format and plug-in names are those of
// the driver's own ABI header, reused rather than repeated.
#include <CoreFoundation/CoreFoundation.h>

#include "driver/abi/CoreAudioTypes.h"
