#pragma once

#include "app/audio/engine/AudioFormat.h"
#include "app/audio/engine/PcmBlock.h"

#include <memory>
#include <vector>

struct soxr;

// A streaming converter between two formats: channel map (a mono target takes channel 0 alone, no
// down-mix; a wider target repeats the last source channel), sample-rate conversion with libsoxr
// (its filter state runs on from block to block) and float ↔ 16-bit. Used off the render thread.
class AudioConverter {
public:
    ~AudioConverter();
    AudioConverter(const AudioConverter&) = delete;
    AudioConverter& operator=(const AudioConverter&) = delete;

    // Nothing when either format is unusable or the resampler cannot be built.
    static std::unique_ptr<AudioConverter> make(const AudioFormat& from, const AudioFormat& to);

    // The room an output block needs for `frames` input frames: the exact ratio rounded up, plus a
    // margin for the resampler's uneven output from one call to the next.
    static int outputCapacity(int frames, double inputRateHz, double outputRateHz);

    const AudioFormat& inputFormat() const { return m_from; }
    const AudioFormat& outputFormat() const { return m_to; }

    // Converts `input` into `output`; its frame length is set to what was produced, possibly 0 while
    // the resampler fills. Input that does not fit a short output block is kept for the next call.
    // False on a format mismatch or a resampler error; the converter stays usable.
    bool convert(const PcmBlock& input, PcmBlock& output);

    // Forgets the resampler's history, as for a new stream.
    void reset();

private:
    AudioConverter(const AudioFormat& from, const AudioFormat& to);

    AudioFormat m_from;
    AudioFormat m_to;
    soxr* m_soxr = nullptr;
    std::vector<float> m_in;  // interleaved, target channels; starts with the pending frames
    std::vector<float> m_out; // interleaved, target channels
    size_t m_pendingFrames = 0;
};

// Sample conversions shared by the converter, the bridge and the recorder.
namespace Pcm {
// Full scale 32767, rounded to nearest with halves away from zero, clipped to the 16-bit range.
int16_t floatToInt16(float sample);
inline float int16ToFloat(int16_t sample)
{
    return float(sample) / 32768.0f;
}
} // namespace Pcm
