#include "app/audio/engine/AudioNodes.h"

#include "app/audio/engine/AudioEngine.h"
#include "app/audio/engine/RateStage.h"
#include "app/audio/engine/VoiceProcessor.h"

#include <algorithm>
#include <cstring>
#include <soxr.h>

// ---- RateStage

RateStage::RateStage(AudioNode& source, double inputRateHz, double outputRateHz, int channels, int maxFrames)
    : m_source(source), m_channels(channels), m_maxFrames(maxFrames),
      m_input(size_t(channels) * size_t(maxFrames), 0.0f),
      m_output(size_t(channels) * size_t(maxFrames), 0.0f)
{
    for (int c = 0; c < channels; ++c)
        m_inputPointers[c] = m_input.data() + size_t(c) * size_t(maxFrames);
    soxr_error_t error = nullptr;
    // Interleaved output: soxr_output() steps through its output as one buffer, not per channel.
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    m_soxr = soxr_create(inputRateHz, outputRateHz, unsigned(channels), &error, &io, &quality, nullptr);
    if (error || !m_soxr) {
        m_soxr = nullptr;
        return;
    }
    soxr_set_input_fn(m_soxr, reinterpret_cast<soxr_input_fn_t>(&RateStage::pull), this, size_t(maxFrames));
    // libsoxr builds its filters and grows its buffers over its first few dozen calls: do that
    // here, on silence, rather than in the first IO cycles. The silence only fills the filter delay.
    m_priming = true;
    for (int i = 0; i < 64; ++i)
        soxr_output(m_soxr, m_output.data(), size_t(maxFrames));
    m_priming = false;
}

RateStage::~RateStage()
{
    if (m_soxr)
        soxr_delete(m_soxr);
}

size_t RateStage::pull(void* state, const void** data, size_t requestedFrames)
{
    auto* self = static_cast<RateStage*>(state);
    const int frames = int(std::min(requestedFrames, size_t(self->m_maxFrames)));
    if (self->m_priming)
        std::fill(self->m_input.begin(), self->m_input.end(), 0.0f);
    else
        self->m_source.renderAndTap(self->m_inputPointers, frames);
    *data = self->m_inputPointers;
    return size_t(frames);
}

void RateStage::produce(float* const* channelData, int frames)
{
    int done = 0;
    while (done < frames) {
        const size_t n = soxr_output(m_soxr, m_output.data(), size_t(frames - done));
        if (n == 0)
            break;
        for (int c = 0; c < m_channels; ++c)
            for (size_t i = 0; i < n; ++i)
                channelData[c][size_t(done) + i] = m_output[i * size_t(m_channels) + size_t(c)];
        done += int(n);
    }
    for (int c = 0; c < m_channels && done < frames; ++c)
        std::fill(channelData[c] + done, channelData[c] + frames, 0.0f);
}

// ---- AudioNode

AudioNode::~AudioNode() = default;

AudioFormat AudioNode::outputFormat(int) const
{
    return m_outputFormat;
}

AudioFormat AudioNode::inputTargetFormat(int) const
{
    return m_outputFormat;
}

void AudioNode::prepareRender(int) {}

bool AudioNode::hasInput(int bus) const
{
    return bus >= 0 && bus < int(m_inputs.size()) && m_inputs[size_t(bus)].source;
}

void AudioNode::prepareLinks(int maxFrames)
{
    for (int bus = 0; bus < int(m_inputs.size()); ++bus) {
        Link& link = m_inputs[size_t(bus)];
        link.rate.reset();
        if (!link.source)
            continue;
        const AudioFormat from = link.source->outputFormat();
        const AudioFormat to = inputTargetFormat(bus);
        link.scratchFrames = maxFrames;
        link.scratch.assign(size_t(from.channels) * size_t(maxFrames), 0.0f);
        if (from.sampleRateHz != to.sampleRateHz)
            link.rate = std::make_unique<RateStage>(*link.source, from.sampleRateHz, to.sampleRateHz,
                                                    from.channels, maxFrames);
    }
}

void AudioNode::renderAndTap(float* const* channelData, int frames)
{
    render(channelData, frames);
    if (!m_tapsOnRender)
        return;
    if (AudioTap* tap = m_tap.load(std::memory_order_acquire))
        tap->ring.write(channelData, 1, size_t(frames));
}

bool AudioNode::pullInput(int bus, float* const* channelData, int frames)
{
    const AudioFormat to = inputTargetFormat(bus);
    if (!hasInput(bus)) {
        for (int c = 0; c < to.channels; ++c)
            std::fill(channelData[c], channelData[c] + frames, 0.0f);
        return false;
    }
    Link& link = m_inputs[size_t(bus)];
    const int sourceChannels = link.source->outputFormat().channels;
    float* scratch[AudioFormat::kMaxChannels];
    for (int c = 0; c < sourceChannels; ++c)
        scratch[c] = link.scratch.data() + size_t(c) * size_t(link.scratchFrames);
    if (link.rate)
        link.rate->produce(scratch, frames);
    else
        link.source->renderAndTap(scratch, frames);
    // Channel map: a narrower target takes the first channels, a wider one repeats the last.
    for (int c = 0; c < to.channels; ++c) {
        const float* src = scratch[std::min(c, sourceChannels - 1)];
        std::memcpy(channelData[c], src, sizeof(float) * size_t(frames));
    }
    return true;
}

// ---- AudioMixerNode

AudioMixerNode::AudioMixerNode()
{
    for (auto& volume : m_inputVolumes)
        volume.store(1.0f);
}

void AudioMixerNode::setInputVolume(int bus, float volume)
{
    if (bus >= 0 && bus < kMaxInputBuses)
        m_inputVolumes[size_t(bus)].store(volume, std::memory_order_relaxed);
}

float AudioMixerNode::inputVolume(int bus) const
{
    if (bus < 0 || bus >= kMaxInputBuses)
        return 0.0f;
    return m_inputVolumes[size_t(bus)].load(std::memory_order_relaxed);
}

void AudioMixerNode::prepareRender(int maxFrames)
{
    m_scratchFrames = maxFrames;
    m_scratch.assign(size_t(std::max(1, m_outputFormat.channels)) * size_t(maxFrames), 0.0f);
}

void AudioMixerNode::render(float* const* channelData, int frames)
{
    const int channels = m_outputFormat.channels;
    for (int c = 0; c < channels; ++c)
        std::fill(channelData[c], channelData[c] + frames, 0.0f);
    float* scratch[AudioFormat::kMaxChannels];
    for (int c = 0; c < channels; ++c)
        scratch[c] = m_scratch.data() + size_t(c) * size_t(m_scratchFrames);
    for (int bus = 0; bus < std::min(inputBusCount(), kMaxInputBuses); ++bus) {
        if (!hasInput(bus))
            continue;
        pullInput(bus, scratch, frames);
        const float volume = m_inputVolumes[size_t(bus)].load(std::memory_order_relaxed);
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < frames; ++i)
                channelData[c][i] += volume * scratch[c][i];
    }
    const float output = m_outputVolume.load(std::memory_order_relaxed);
    if (output != 1.0f)
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < frames; ++i)
                channelData[c][i] *= output;
}

// ---- AudioEffectNode

AudioEffectNode::AudioEffectNode(std::unique_ptr<AudioProcessor> processor)
    : m_processor(std::move(processor))
{
}

void AudioEffectNode::prepareRender(int maxFrames)
{
    m_processor->prepare(m_outputFormat.sampleRateHz, m_outputFormat.channels, maxFrames);
}

void AudioEffectNode::render(float* const* channelData, int frames)
{
    pullInput(0, channelData, frames);
    if (!m_bypass.load(std::memory_order_relaxed))
        m_processor->process(channelData, frames);
}

// ---- AudioPlayerNode

AudioPlayerNode::~AudioPlayerNode()
{
    while (Item* item = m_scheduled.take())
        delete item;
}

bool AudioPlayerNode::scheduleBuffer(std::shared_ptr<const PcmBlock> block, Completion completion)
{
    if (!block || block->frameLength() <= 0 || block->format().sampleType != SampleType::Float32)
        return false;
    auto* item = new Item;
    item->block = std::move(block);
    item->completion = std::move(completion);
    item->epoch = m_epoch.load(std::memory_order_acquire);
    m_queued.fetch_add(1, std::memory_order_relaxed);
    m_scheduled.push(item);
    return true;
}

void AudioPlayerNode::play()
{
    m_playing.store(true, std::memory_order_release);
}

void AudioPlayerNode::stop()
{
    m_playing.store(false, std::memory_order_release);
    m_epoch.fetch_add(1, std::memory_order_acq_rel);
    // A running render discards the old epoch itself; with IO shut out the queue is emptied here.
    if (!engine())
        discardAllNow();
    else
        engine()->discardIfStopped(*this);
}

void AudioPlayerNode::finish(Item* item)
{
    m_queued.fetch_sub(1, std::memory_order_relaxed);
    if (engine())
        engine()->complete(item);
    else
        delete item;
}

void AudioPlayerNode::discardAllNow()
{
    std::vector<Item*> items;
    while (Item* item = m_scheduled.take())
        items.push_back(item);
    for (Item* item : items) {
        m_queued.fetch_sub(1, std::memory_order_relaxed);
        if (item->completion)
            item->completion();
        delete item;
    }
}

void AudioPlayerNode::render(float* const* channelData, int frames)
{
    const int channels = m_outputFormat.channels;
    const bool playing = m_playing.load(std::memory_order_acquire);
    int filled = 0;
    while (Item* item = m_scheduled.peek()) {
        // Fresh load: a block scheduled just after a stop() during this render belongs to the new
        // epoch and must play.
        if (item->epoch < m_epoch.load(std::memory_order_acquire)) {
            m_scheduled.take();
            finish(item);
            continue;
        }
        if (!playing || filled == frames)
            break;
        const PcmBlock& block = *item->block;
        const int n = std::min(frames - filled, block.frameLength() - item->position);
        const int stride = block.stride();
        for (int c = 0; c < channels; ++c) {
            const float* src = block.floatChannelData(std::min(c, block.format().channels - 1));
            src += size_t(item->position) * size_t(stride);
            float* dst = channelData[c] + filled;
            for (int i = 0; i < n; ++i)
                dst[i] = src[size_t(i) * size_t(stride)];
        }
        filled += n;
        item->position += n;
        if (item->position >= block.frameLength()) {
            m_scheduled.take();
            finish(item);
        }
    }
    if (filled > 0)
        m_playedFrames.fetch_add(filled, std::memory_order_release);
    for (int c = 0; c < channels; ++c)
        std::fill(channelData[c] + filled, channelData[c] + frames, 0.0f);
}

// ---- AudioInputNode

AudioInputNode::AudioInputNode()
{
    m_tapsOnRender = false; // its tap sees the device's frames in captureInput()
}
AudioInputNode::~AudioInputNode() = default;

void AudioInputNode::setVoiceProcessingEnabled(bool enabled)
{
    m_voiceProcessing = enabled;
    if (engine())
        engine()->m_prepared = false;
}

void AudioInputNode::setVoiceProcessingAGC(bool enabled)
{
    m_agc = enabled;
    if (engine())
        engine()->m_prepared = false;
}

void AudioInputNode::prepareRender(int maxFrames)
{
    const int channels = std::max(1, m_outputFormat.channels);
    // Half a second between the input and output IO cycles of one engine.
    m_ring = std::make_unique<FrameRing>(
        channels, size_t(std::max(2 * maxFrames, int(m_outputFormat.sampleRateHz / 2))));
    m_captureScratch.assign(size_t(channels) * 8192, 0.0f);
    m_voiceProcessor.reset();
    if (m_voiceProcessing)
        m_voiceProcessor = std::make_unique<VoiceProcessor>(m_outputFormat.sampleRateHz, m_agc);
}

void AudioInputNode::render(float* const* channelData, int frames)
{
    const size_t got = m_ring ? m_ring->read(channelData, size_t(frames)) : 0;
    for (int c = 0; c < m_outputFormat.channels; ++c)
        std::fill(channelData[c] + got, channelData[c] + frames, 0.0f);
}

// ---- AudioOutputNode

void AudioOutputNode::render(float* const* channelData, int frames)
{
    pullInput(0, channelData, frames);
}
