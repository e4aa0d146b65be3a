#pragma once

#include "app/audio/engine/AudioConverter.h"

#include <memory>

// The converter from a captured device format to the mono format the bridge sends on.
class InputAudioConversion {
public:
    // Nothing unless `to` is mono and the formats are usable. The mono output is the source's first
    // channel alone: the other channels are dropped, never mixed in.
    static std::unique_ptr<AudioConverter> make(const AudioFormat& from, const AudioFormat& to);
};
