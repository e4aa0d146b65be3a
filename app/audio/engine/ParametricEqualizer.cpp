#include "app/audio/engine/ParametricEqualizer.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>

ParametricEqualizer::ParametricEqualizer(int bandCount) : m_bandCount(bandCount), m_bands(size_t(bandCount))
{
    if (bandCount < 1 || bandCount > kMaxBands)
        throw std::invalid_argument("ParametricEqualizer: band count out of range");
}

ParametricEqualizer::Coefficients ParametricEqualizer::coefficientsFor(const EqualizerBand& band,
                                                                       double sampleRateHz)
{
    Coefficients c;
    if (band.bypass || sampleRateHz <= 0.0 || !std::isfinite(band.gainDb))
        return c;
    // Peaking section after the audio-EQ cookbook, bandwidth in octaves; at the centre frequency
    // its gain is exactly the setting. Centres at or above Nyquist are pulled just under it.
    const double nyquist = sampleRateHz / 2.0;
    const double f0 = std::clamp(double(band.frequencyHz), 1.0, nyquist * 0.98);
    const double bandwidth = std::clamp(double(band.bandwidthOctaves), 0.05, 5.0);
    const double a = std::pow(10.0, double(band.gainDb) / 40.0);
    const double w0 = 2.0 * std::numbers::pi * f0 / sampleRateHz;
    const double sinW0 = std::sin(w0);
    const double alpha = sinW0 * std::sinh(std::numbers::ln2 / 2.0 * bandwidth * w0 / sinW0);
    const double a0 = 1.0 + alpha / a;
    c.b0 = (1.0 + alpha * a) / a0;
    c.b1 = -2.0 * std::cos(w0) / a0;
    c.b2 = (1.0 - alpha * a) / a0;
    c.a1 = c.b1;
    c.a2 = (1.0 - alpha / a) / a0;
    c.active = true;
    return c;
}

double ParametricEqualizer::responseDb(const EqualizerBand& band, double sampleRateHz, double frequencyHz)
{
    const Coefficients c = coefficientsFor(band, sampleRateHz);
    const std::complex<double> z = std::polar(1.0, -2.0 * std::numbers::pi * frequencyHz / sampleRateHz);
    const std::complex<double> h = (c.b0 + c.b1 * z + c.b2 * z * z) / (1.0 + c.a1 * z + c.a2 * z * z);
    return 20.0 * std::log10(std::abs(h));
}

void ParametricEqualizer::setBand(int index, const EqualizerBand& band)
{
    m_bands.at(size_t(index)) = band;
    publish();
}

void ParametricEqualizer::setBands(const std::vector<EqualizerBand>& bands)
{
    for (size_t i = 0; i < bands.size() && i < m_bands.size(); ++i)
        m_bands[i] = bands[i];
    publish();
}

void ParametricEqualizer::publish()
{
    CoefficientSet set;
    for (int i = 0; i < m_bandCount; ++i)
        set[size_t(i)] = coefficientsFor(m_bands[size_t(i)], m_sampleRateHz);
    m_coefficients.write(set);
}

void ParametricEqualizer::prepare(double sampleRateHz, int channels, int)
{
    m_sampleRateHz = sampleRateHz;
    m_channels = channels;
    m_state.assign(size_t(channels) * kMaxBands, State{});
    publish();
}

void ParametricEqualizer::process(float* const* channelData, int frames)
{
    const CoefficientSet& set = m_coefficients.read();
    for (int b = 0; b < m_bandCount; ++b) {
        const Coefficients& c = set[size_t(b)];
        for (int ch = 0; ch < m_channels; ++ch) {
            State& s = m_state[size_t(ch) * kMaxBands + size_t(b)];
            if (!c.active) {
                s = State{}; // a band coming back from bypass starts clean
                continue;
            }
            float* x = channelData[ch];
            double z1 = s.z1, z2 = s.z2;
            for (int i = 0; i < frames; ++i) {
                const double in = x[i];
                const double out = c.b0 * in + z1;
                z1 = c.b1 * in - c.a1 * out + z2;
                z2 = c.b2 * in - c.a2 * out;
                x[i] = float(out);
            }
            // Denormals would slow the loop to a crawl on long silences.
            s.z1 = std::abs(z1) < 1e-25 ? 0.0 : z1;
            s.z2 = std::abs(z2) < 1e-25 ? 0.0 : z2;
        }
    }
}
