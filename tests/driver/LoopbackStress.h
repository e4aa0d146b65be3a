#pragma once

// One writer and one reader on the same device, the reader chasing the writer so closely that it reads slots
// while they are being written. Every frame read must be silence or exactly the frame written 2048 frames
// earlier: anything else is a torn or misplaced frame.

#include "driver/abi/CoreAudioABI.h"

#include <string>

struct StressResult {
    UInt64 framesWritten = 0;
    UInt64 framesRead = 0;
    UInt64 framesMatched = 0; // read back with the expected content
    UInt64 framesBad = 0;     // neither silence nor the expected frame
    std::string firstBad;
};

enum class StressMode {
    Chasing, // the reader reads slots as they are first written
    Lapping, // the reader reads old frames while the writer replaces them with frames one ring later
};

StressResult runLoopbackStress(AudioServerPlugInDriverRef driver, UInt64 frames, StressMode mode);
