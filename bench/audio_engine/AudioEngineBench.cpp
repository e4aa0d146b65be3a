#include "app/audio/VoiceOutputChain.h"
#include "app/audio/engine/AudioConverter.h"
#include "app/audio/engine/AudioEngine.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr double kDeviceRate = 48000;
constexpr int kDeviceChannels = 2;
constexpr int kCycleFrames = 512;
constexpr double kAudioSeconds = 60.0;

double g_ratio = 0.0;

// One minute of a phone call, offline: the caller captured at 48 kHz stereo and converted to wire
// PCM in the input tap, the AI voice through equaliser, limiter and headroom into the 48 kHz stereo
// mixer, whose tap converts what is sent to the phone.
double runOneMinute()
{
    const AudioFormat device = AudioFormat::standard(kDeviceRate, kDeviceChannels);
    const AudioFormat play = AudioFormat::standard(24000, 1);
    const AudioFormat wire{24000, 1, SampleType::Int16, true};
    AudioEngine engine;
    engine.setInputDeviceFormat(kDeviceRate, kDeviceChannels);
    engine.setOutputDeviceFormat(kDeviceRate, kDeviceChannels);
    auto player = std::make_shared<AudioPlayerNode>();
    engine.attach(player);
    VoiceOutputChain chain;
    chain.wire(engine, *player, engine.mainMixerNode(), 0, play);
    engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, device);
    VoiceEQSettings settings;
    settings.enabled = true;
    settings.gains = {-3, -2, 0, 2, 4, 3, 2, 0, -2};
    chain.apply(settings);

    auto inputConverter = AudioConverter::make(device, wire);
    auto outputConverter = AudioConverter::make(device, wire);
    long long wireFrames = 0;
    engine.installTap(
        engine.inputNode(), 0, 2048, device, [&](const std::shared_ptr<PcmBlock>& block, double) {
            PcmBlock out(wire, AudioConverter::outputCapacity(block->frameLength(), kDeviceRate, 24000));
            if (inputConverter->convert(*block, out))
                wireFrames += out.frameLength();
        });
    engine.installTap(
        engine.mainMixerNode(), 0, 2048, device, [&](const std::shared_ptr<PcmBlock>& block, double) {
            PcmBlock out(wire, AudioConverter::outputCapacity(block->frameLength(), kDeviceRate, 24000));
            if (outputConverter->convert(*block, out))
                wireFrames += out.frameLength();
        });
    engine.start();
    player->play();

    std::vector<float> capture(size_t(kCycleFrames) * kDeviceChannels);
    std::vector<float> output(size_t(kCycleFrames) * kDeviceChannels);
    const int cycles = int(kAudioSeconds * kDeviceRate / kCycleFrames);
    long long captured = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        // A fresh 100 ms chunk of AI voice every ten cycles or so keeps the player busy.
        if (cycle % 9 == 0) {
            auto chunk = PcmBlock::make(play, 2400);
            float* samples = chunk->floatChannelData(0);
            for (int i = 0; i < 2400; ++i)
                samples[i] = float(0.6 * std::sin(2 * std::numbers::pi * 220 * i / 24000.0));
            chunk->setFrameLength(2400);
            player->scheduleBuffer(chunk);
        }
        for (int i = 0; i < kCycleFrames; ++i) {
            const float x =
                float(0.4 * std::sin(2 * std::numbers::pi * 733 * double(captured + i) / kDeviceRate));
            capture[size_t(i) * 2] = x;
            capture[size_t(i) * 2 + 1] = x;
        }
        captured += kCycleFrames;
        engine.captureInput(capture.data(), kCycleFrames, kDeviceChannels, double(cycle) * kCycleFrames);
        engine.renderOutput(output.data(), kCycleFrames, kDeviceChannels, double(cycle) * kCycleFrames);
        benchmark::DoNotOptimize(output.data());
    }
    engine.synchronize();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    engine.stop();
    benchmark::DoNotOptimize(wireFrames);
    return elapsed / kAudioSeconds;
}

void BM_AudioEngineOfflineMinute(benchmark::State& state)
{
    for (auto _ : state)
        g_ratio = runOneMinute();
    state.counters["ratio"] = g_ratio;
}
BENCHMARK(BM_AudioEngineOfflineMinute)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("ratio audio_engine_offline %.5f\n", g_ratio);
    return 0;
}
