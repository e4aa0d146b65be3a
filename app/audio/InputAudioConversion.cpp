#include "app/audio/InputAudioConversion.h"

std::unique_ptr<AudioConverter> InputAudioConversion::make(const AudioFormat& from, const AudioFormat& to)
{
    if (to.channels != 1)
        return nullptr;
    // Our converter maps a mono target to channel 0 with no down-mix.
    return AudioConverter::make(from, to);
}
