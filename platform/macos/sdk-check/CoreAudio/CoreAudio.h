#pragma once

// Declaration-only stand-in for part of Apple's SDK, used only to type-check our macOS sources on other
// systems. Unverified until a Mac build confirms it.

// CoreAudio.h: the framework's umbrella.
#include <CoreAudio/AudioHardware.h>
#include <CoreAudio/AudioServerPlugIn.h>
