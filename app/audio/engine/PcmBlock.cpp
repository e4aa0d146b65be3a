#include "app/audio/engine/PcmBlock.h"

#include <algorithm>

PcmBlock::PcmBlock(const AudioFormat& format, int frameCapacity)
    : m_format(format), m_frameCapacity(std::max(0, frameCapacity))
{
    const size_t samples = size_t(m_frameCapacity) * size_t(std::max(0, format.channels));
    if (format.sampleType == SampleType::Float32)
        m_floats.assign(samples, 0.0f);
    else
        m_int16.assign(samples, 0);
}

std::shared_ptr<PcmBlock> PcmBlock::make(const AudioFormat& format, int frameCapacity)
{
    if (!format.isValid() || frameCapacity <= 0)
        return nullptr;
    return std::make_shared<PcmBlock>(format, frameCapacity);
}

void PcmBlock::setFrameLength(int frames)
{
    m_frameLength = std::clamp(frames, 0, m_frameCapacity);
}

int PcmBlock::offset(int channel) const
{
    return m_format.interleaved ? channel : channel * m_frameCapacity;
}

float* PcmBlock::floatChannelData(int channel)
{
    if (m_floats.empty() || channel < 0 || channel >= m_format.channels)
        return nullptr;
    return m_floats.data() + offset(channel);
}

const float* PcmBlock::floatChannelData(int channel) const
{
    return const_cast<PcmBlock*>(this)->floatChannelData(channel);
}

int16_t* PcmBlock::int16ChannelData(int channel)
{
    if (m_int16.empty() || channel < 0 || channel >= m_format.channels)
        return nullptr;
    return m_int16.data() + offset(channel);
}

const int16_t* PcmBlock::int16ChannelData(int channel) const
{
    return const_cast<PcmBlock*>(this)->int16ChannelData(channel);
}

const void* PcmBlock::bytes() const
{
    if (!m_floats.empty())
        return m_floats.data();
    return m_int16.data();
}

void PcmBlock::clear()
{
    std::fill(m_floats.begin(), m_floats.end(), 0.0f);
    std::fill(m_int16.begin(), m_int16.end(), int16_t(0));
}
