#pragma once

// Declaration-only stand-in for part of Apple's SDK, used only to type-check our macOS sources on other
// systems. Unverified until a Mac build confirms it.

// AudioServerPlugIn.h: the driver and host interfaces are declared with the base names.
#include <CoreAudio/AudioHardwareBase.h>
