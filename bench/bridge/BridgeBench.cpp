// One minute of phone-mode audio through the whole bridge on the simulated server, stepped by hand:
// the caller's tone captured and converted, AI speech through the voice chain, both taps, the
// recorder's appends. The ratio is processing time over the audio's duration.

#include "app/audio/AudioBridge.h"
#include "app/audio/CallAudioRecorder.h"
#include "platform/hal/HalString.h"
#include "platform/sim/audio/AudioClient.h"
#include "platform/sim/audio/AudioServer.h"
#include "platform/sim/audio/PackageInstaller.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>

namespace {

constexpr int kSeconds = 60;
constexpr int kCyclesPerSync = 8;
double g_ratio = -1;

QByteArray speech(int samples)
{
    QByteArray bytes(samples * 2, '\0');
    auto* out = reinterpret_cast<int16_t*>(bytes.data());
    for (int n = 0; n < samples; ++n)
        out[n] = int16_t(8000.0 * std::sin(2.0 * std::numbers::pi * 220.0 * n / 24000.0) *
                         (0.6 + 0.4 * std::sin(2.0 * std::numbers::pi * 3.0 * n / 24000.0)));
    return bytes;
}

void BM_BridgeMinute(benchmark::State& state)
{
    const char* buildDir = std::getenv("ORLEA_BUILD_DIR");
    const std::string package =
        std::string(buildDir && *buildDir ? buildDir : ORLEA_BENCH_BUILD_DIR) + "/lib/VelkaroAudio-0.2.0.pkg";
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir folder;
        sim::AudioServer server((folder.path() + "/HAL").toStdString());
        if (!sim::installPackage(package, server).installed) {
            state.SkipWithError("VelkaroAudio package not installed");
            return;
        }
        const AudioObjectID call = hal::deviceForUID(server, u"fr.velkaro.audio.call");
        const AudioObjectID voice = hal::deviceForUID(server, u"fr.velkaro.audio.voice");
        sim::AudioClient caller(server, call);
        sim::AudioClient microphone(server, voice);
        std::vector<float> tone(size_t(48000) * kSeconds * 2);
        for (size_t i = 0; i < tone.size() / 2; ++i)
            tone[2 * i] = tone[2 * i + 1] =
                0.3f * float(std::sin(2 * std::numbers::pi * 733 * double(i) / 48000.0));
        caller.play(tone);
        const QByteArray chunk = speech(12000);
        size_t delivered = 0;
        {
            AudioBridge bridge(server);
            auto recorder = std::make_shared<CallAudioRecorder>(folder.path() + "/call.wav");
            bridge.recorder = recorder;
            bridge.onPCM = [&delivered](const QByteArray& pcm) { delivered += size_t(pcm.size()); };
            bridge.start(call, voice, false);
            caller.start();
            microphone.start();
            const int cycles = kSeconds * 48000 / int(sim::AudioServer::kBufferFrames);
            state.ResumeTiming();
            const auto started = std::chrono::steady_clock::now();
            for (int cycle = 0; cycle < cycles; ++cycle) {
                // Half a second of AI speech every half second, as the service streams it.
                if (cycle % (24000 / int(sim::AudioServer::kBufferFrames) * 2) == 0)
                    bridge.enqueue(chunk);
                server.advanceFrames(sim::AudioServer::kBufferFrames);
                if (cycle % kCyclesPerSync == 0) {
                    bridge.synchronize();
                    microphone.takeRecorded();
                }
            }
            bridge.synchronize();
            recorder->waitUntilIdle();
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            state.PauseTiming();
            g_ratio = seconds / double(kSeconds);
            bridge.stop();
            recorder->finish({});
            recorder->waitUntilIdle();
        }
        benchmark::DoNotOptimize(delivered);
        state.counters["delivered_s"] = double(delivered) / 48000.0;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BridgeMinute)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_ratio >= 0)
        std::printf("ratio bridge_realtime %.4f\n", g_ratio);
    return g_ratio >= 0 ? 0 : 1;
}
