#pragma once

#include "app/audio/engine/AudioProcessor.h"
#include "app/audio/engine/LockFree.h"

#include <array>
#include <vector>

// One band of the equaliser, as the user (or the voice chain) sets it.
struct EqualizerBand {
    enum class FilterType { Parametric };
    FilterType filterType = FilterType::Parametric;
    float frequencyHz = 1000.0f;
    float bandwidthOctaves = 1.0f;
    float gainDb = 0.0f;
    bool bypass = true;
};

// An N-band equaliser, one peaking biquad a band. Settings change on the main thread, which computes
// the coefficients and hands them over whole through a triple buffer; the render loop only filters.
class ParametricEqualizer final : public AudioProcessor {
public:
    static constexpr int kMaxBands = 16;

    explicit ParametricEqualizer(int bandCount);

    int bandCount() const { return m_bandCount; }
    // Main thread. A bypassed band keeps its settings and stops filtering.
    EqualizerBand band(int index) const { return m_bands.at(size_t(index)); }
    void setBand(int index, const EqualizerBand& band);
    // Main thread: several bands in one hand-over, so the render side never sees half a change.
    void setBands(const std::vector<EqualizerBand>& bands);

    void prepare(double sampleRateHz, int channels, int maxFrames) override;
    // Real-time: no allocation, no lock.
    void process(float* const* channelData, int frames) override;

    // The gain in dB of one peaking section at `frequencyHz`, for tests and the user interface.
    static double responseDb(const EqualizerBand& band, double sampleRateHz, double frequencyHz);

private:
    struct Coefficients {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        bool active = false;
    };
    using CoefficientSet = std::array<Coefficients, kMaxBands>;
    struct State {
        double z1 = 0, z2 = 0;
    };

    static Coefficients coefficientsFor(const EqualizerBand& band, double sampleRateHz);
    void publish();

    int m_bandCount;
    std::vector<EqualizerBand> m_bands;
    double m_sampleRateHz = 0.0;
    TripleBuffer<CoefficientSet> m_coefficients;
    // Render side: one filter state per channel and band.
    std::vector<State> m_state;
    int m_channels = 0;
};
