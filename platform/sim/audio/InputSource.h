#pragma once

// What a simulated built-in microphone hears: silence, a tone, or a WAV file. Rendering is allocation-free;
// files are decoded when the source is made.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class InputSource {
public:
    virtual ~InputSource() = default;
    // Writes `frames` interleaved frames of `channels` channels at 48 kHz. Real-time: no allocation.
    virtual void render(float* out, uint32_t frames, uint32_t channels) = 0;

    static std::shared_ptr<InputSource> silence();
    static std::shared_ptr<InputSource> tone(double frequencyHz, float amplitude);
    // Decodes the file now and resamples it to 48 kHz; after its end the source is silent unless `loop`.
    // Null when the file cannot be read.
    static std::shared_ptr<InputSource> wavFile(const std::string& path, bool loop = false,
                                                std::string* error = nullptr);
    // Plays the given mono samples (48 kHz) once.
    static std::shared_ptr<InputSource> samples(std::vector<float> mono, bool loop = false);
};

} // namespace sim
