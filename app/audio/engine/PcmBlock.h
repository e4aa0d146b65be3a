#pragma once

#include "app/audio/engine/AudioFormat.h"

#include <cstdint>
#include <memory>
#include <vector>

// A block of PCM frames in one format, with a fixed capacity and a current length. Planar blocks keep
// channel c at offset c × capacity; interleaved blocks keep frames together.
class PcmBlock {
public:
    PcmBlock(const AudioFormat& format, int frameCapacity);

    // Nothing when the format is unusable or the capacity is not positive.
    static std::shared_ptr<PcmBlock> make(const AudioFormat& format, int frameCapacity);

    const AudioFormat& format() const { return m_format; }
    int frameCapacity() const { return m_frameCapacity; }
    int frameLength() const { return m_frameLength; }
    void setFrameLength(int frames);

    // Distance between two samples of one channel: the channel count when interleaved, else 1.
    int stride() const { return m_format.interleaved ? m_format.channels : 1; }

    // Null when the block does not hold that sample type.
    float* floatChannelData(int channel);
    const float* floatChannelData(int channel) const;
    int16_t* int16ChannelData(int channel);
    const int16_t* int16ChannelData(int channel) const;

    // The bytes of an interleaved (or mono) 16-bit block: frameLength × channels × 2.
    const void* bytes() const;
    int byteLength() const { return m_frameLength * m_format.channels * m_format.bytesPerSample(); }

    void clear();

private:
    int offset(int channel) const;

    AudioFormat m_format;
    int m_frameCapacity;
    int m_frameLength = 0;
    std::vector<float> m_floats;
    std::vector<int16_t> m_int16;
};
