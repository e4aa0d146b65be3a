#include "app/audio/VoiceOutputChain.h"

VoiceOutputChain::VoiceOutputChain()
    : m_equalizer(std::make_shared<AudioEffectNode>(
          std::make_unique<ParametricEqualizer>(VoiceEQSettings::kBandCount))),
      m_limiter(std::make_shared<AudioEffectNode>(std::make_unique<PeakLimiter>())),
      m_headroom(std::make_shared<AudioMixerNode>())
{
    apply(VoiceEQSettings{});
}

ParametricEqualizer& VoiceOutputChain::equalizerUnit()
{
    return static_cast<ParametricEqualizer&>(m_equalizer->processor());
}

void VoiceOutputChain::apply(const VoiceEQSettings& settings)
{
    const std::vector<float> gains = settings.safeGains();
    std::vector<EqualizerBand> bands(VoiceEQSettings::kBandCount);
    for (int i = 0; i < VoiceEQSettings::kBandCount; ++i) {
        bands[size_t(i)].filterType = EqualizerBand::FilterType::Parametric;
        bands[size_t(i)].frequencyHz = VoiceEQSettings::frequencies[size_t(i)];
        bands[size_t(i)].bandwidthOctaves = kBandwidthOctaves;
        bands[size_t(i)].gainDb = gains[size_t(i)];
        bands[size_t(i)].bypass = !settings.enabled;
    }
    equalizerUnit().setBands(bands);
}

void VoiceOutputChain::wire(AudioEngine& engine, AudioNode& source, AudioNode& destination,
                            int destinationBus, const AudioFormat& format)
{
    engine.attach(m_equalizer);
    engine.attach(m_limiter);
    engine.attach(m_headroom);
    engine.connect(source, *m_equalizer, 0, format);
    engine.connect(*m_equalizer, *m_limiter, 0, format);
    engine.connect(*m_limiter, *m_headroom, 0, format);
    engine.connect(*m_headroom, destination, destinationBus, format);
    m_headroom->setOutputVolume(kHeadroomVolume);
}
