#pragma once

#include "app/audio/VoiceEQSettings.h"
#include "app/audio/engine/AudioEngine.h"
#include "app/audio/engine/ParametricEqualizer.h"
#include "app/audio/engine/PeakLimiter.h"

#include <memory>

// The three nodes between the AI-voice player and the main mixer: the nine-band equaliser, the peak
// limiter and a headroom mixer, so that a loud voice never clips what the phone receives.
class VoiceOutputChain {
public:
    static constexpr float kHeadroomVolume = 0.85f;
    static constexpr float kBandwidthOctaves = 1.0f;

    // Builds the nodes; the equaliser starts flat and bypassed.
    VoiceOutputChain();

    const std::shared_ptr<AudioEffectNode>& equalizer() const { return m_equalizer; }
    const std::shared_ptr<AudioEffectNode>& limiter() const { return m_limiter; }
    const std::shared_ptr<AudioMixerNode>& headroom() const { return m_headroom; }
    ParametricEqualizer& equalizerUnit();

    // Main thread, also while audio plays: sets all nine bands at once.
    void apply(const VoiceEQSettings& settings);

    // Attaches the nodes to `engine` and wires source → equaliser → limiter → headroom →
    // destination bus, every link in `format`; the headroom's output volume becomes 0.85.
    void wire(AudioEngine& engine, AudioNode& source, AudioNode& destination, int destinationBus,
              const AudioFormat& format);

private:
    std::shared_ptr<AudioEffectNode> m_equalizer;
    std::shared_ptr<AudioEffectNode> m_limiter;
    std::shared_ptr<AudioMixerNode> m_headroom;
};
