// The person at the computer as the caller, through a private PulseAudio daemon, in real time: what the
// computer's side adds to each direction of a call, and the process's share of one core during a whole
// call with host sound.
//
// Caller's microphone → first append at the AI is measured end to end in two calls of this process, one
// with the synthetic caller (the Phone app renders the voice) and one with the person (the voice is
// written into the server's microphone): the difference is what the host path adds. What the caller
// hears → the computer's output is the clock bridge's queue plus what the server reports holding, sampled
// through the call. The worse direction is `host_added_latency_ms`; the CPU share is `host_call_cpu`.
#include "app/audio/VelkaroDevices.h"
#include "app/desktop/DemoCaller.h"
#include "app/desktop/DemoEnvironment.h"
#include "app/desktop/DemoStandIn.h"
#include "app/model/AppModel.h"
#include "app/phone/NativeAudioSetup.h"
#include "bench/support/BenchEventLoop.h"
#include "platform/sim/mac/Mac.h"
#include "tests/support/PrivateSoundServer.h"

#include <QApplication>
#include <QEventLoop>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <optional>

namespace {

using hostsound::Direction;
using Clock = std::chrono::steady_clock;

std::map<std::string, double> figures;

using bench::processCpuSeconds;

// Runs the event loop until `condition` holds.
bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    return bench::waitFor(condition, timeoutMs, 10);
}

// The simulated Mac ready to take calls (its setup's results taken as given), in a data folder of its own.
struct CallSetUp {
    QTemporaryDir home;
    std::optional<DemoEnvironment> environment;

    bool start()
    {
        qputenv("ORLEA_DATA_HOME", home.path().toUtf8());
        qunsetenv("ORLEA_REALTIME_URL");
        environment.emplace();
        QString error;
        if (!environment->start(&error))
            return false;
        sim::Mac& mac = environment->mac();
        AppModel& model = environment->model();
        if (!mac.workspace().openUrl(QUrl::fromLocalFile(DemoEnvironment::packagePath())))
            return false;
        mac.setAccessibilityTrusted(true);
        mac.setPrivacySwitch(sim::PrivacyPage::Microphone, true);
        model.saveKey(environment->demoKey());
        model.refresh();
        model.setInputUID(VelkaroDevices::kCallUID);
        model.setOutputUID(VelkaroDevices::kVoiceUID);
        bool prepared = false, failed = false;
        model.audioSetup().prepare([&](std::optional<AppError> error) {
            prepared = true;
            failed = error.has_value();
        });
        if (!waitFor([&] { return prepared; }, 60000) || failed)
            return false;
        model.setRoutingConfirmed(true);
        model.toggleArmed();
        return waitFor([&] { return model.armed(); }, 30000);
    }
};

struct CallRun {
    double inputMs = 0;  // the caller's first sound → its first append at the AI
    double outputMs = 0; // what the caller hears → the computer's output (host calls)
    double cpuShare = 0; // of one core, the whole process, from the answer to the save
    double callSeconds = 0;
};

// One call of `talkSeconds` once connected. With `server`, the caller is the person: a burst written into
// the server's microphone once connected; otherwise a synthetic caller.
std::optional<CallRun> runCall(PrivateSoundServer* server, double talkSeconds)
{
    CallSetUp setUp;
    if (!setUp.start()) {
        std::fprintf(stderr, "call setup failed\n");
        return std::nullopt;
    }
    DemoEnvironment& environment = *setUp.environment;
    sim::Mac& mac = environment.mac();
    AppModel& model = environment.model();
    sim::ComputerSound& sound = mac.computerSound();
    std::shared_ptr<hostsound::Stream> feed;
    std::shared_ptr<sim::InputSource> voice;
    std::shared_ptr<DemoCaller> synthetic;
    if (server) {
        if (!sound.connect(server->serverString()) || !sound.setCaller("microphone", "speakers"))
            return std::nullopt;
        feed = sound.soundServer()->open(Direction::Output, "micfeed", 48000, 1);
        voice = sound.callerVoice();
    } else {
        synthetic = DemoCaller::make(setUp.home.path() + "/Voix");
        voice = synthetic;
    }

    CallRun run;
    const double cpuStart = processCpuSeconds();
    const auto started = Clock::now();
    mac.ring(QStringLiteral("06 12 34 56 78"), voice);
    if (!waitFor([&] { return model.connected(); }, 30000))
        return std::nullopt;

    // The person speaks after the greeting: a burst at half scale, 200 ms.
    std::optional<Clock::time_point> spoke;
    std::vector<float> burst(48000 / 5);
    for (size_t i = 0; i < burst.size(); ++i)
        burst[i] = 0.5f * float(std::sin(double(i) * 0.37) * std::sin(double(i) * 0.011));
    double outputSum = 0;
    int outputSamples = 0;
    const auto connected = Clock::now();
    waitFor(
        [&] {
            const double seconds = std::chrono::duration<double>(Clock::now() - connected).count();
            if (feed && !spoke && seconds > 6.0 && feed->writableFrames() >= burst.size()) {
                const double ahead = std::max(0.0, feed->serverLatencyMs());
                feed->write(burst.data(), burst.size());
                // At the microphone once what the feed holds has played.
                spoke = Clock::now() + std::chrono::microseconds(int64_t(ahead * 1000));
            }
            if (const double delay = sound.callerDelayMs(Direction::Output); delay >= 0 && seconds > 2) {
                outputSum += delay;
                ++outputSamples;
            }
            return seconds >= talkSeconds;
        },
        int(talkSeconds * 1000) + 5000);
    const auto received = environment.standIn()->firstSoundReceived();
    if (synthetic)
        spoke = synthetic->firstSound();
    if (!spoke || !received || *received < *spoke) {
        std::fprintf(stderr, "%s caller: no sound of theirs reached the AI (spoke %d, received %d)\n",
                     server ? "host" : "synthetic", spoke.has_value(), received.has_value());
        return std::nullopt;
    }
    run.inputMs = std::chrono::duration<double, std::milli>(*received - *spoke).count();
    run.outputMs = outputSamples > 0 ? outputSum / outputSamples : 0;
    if (server)
        std::printf("computer's output: %llu underruns; computer's input: %llu overruns\n",
                    (unsigned long long)sound.callerStream(Direction::Output)->underruns(),
                    (unsigned long long)sound.callerStream(Direction::Input)->overruns());

    const std::optional<QUuid> session = model.current() ? std::optional(model.current()->id) : std::nullopt;
    mac.callerHangsUp();
    waitFor([&] { return !model.busy() && model.finalizingRecordings().isEmpty(); }, 30000);
    run.callSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    run.cpuShare = (processCpuSeconds() - cpuStart) / run.callSeconds;
    if (!session || !model.history().find(*session)) {
        std::fprintf(stderr, "the call was not saved\n");
        return std::nullopt;
    }
    return run;
}

void BM_HostSoundCall(benchmark::State& state)
{
    PrivateSoundServer server;
    if (!server.available()) {
        state.SkipWithError(("no private sound server: " + server.why()).toUtf8().constData());
        return;
    }
    for (auto _ : state) {
        const std::optional<CallRun> synthetic = runCall(nullptr, 12);
        const std::optional<CallRun> host = runCall(&server, 20);
        if (!synthetic || !host) {
            state.SkipWithError("a call did not complete");
            return;
        }
        state.SetIterationTime(host->callSeconds);
        std::printf(
            "synthetic caller: first sound → first append at the AI %.1f ms; process %.3f of a core\n",
            synthetic->inputMs, synthetic->cpuShare);
        std::printf("person at the computer: microphone → first append at the AI %.1f ms; what the caller "
                    "hears → the computer's output %.1f ms (bridge and server); process %.3f of a core over "
                    "%.1f s\n",
                    host->inputMs, host->outputMs, host->cpuShare, host->callSeconds);
        figures["input_added_ms"] = host->inputMs - synthetic->inputMs;
        figures["output_added_ms"] = host->outputMs;
        figures["host_call_cpu"] = host->cpuShare;
    }
}

BENCHMARK(BM_HostSoundCall)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    DemoEnvironment::locateSourceFolder();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (figures.count("host_call_cpu")) {
        std::printf("added by the host path: caller's voice %.1f ms, what the caller hears %.1f ms\n",
                    figures["input_added_ms"], figures["output_added_ms"]);
        std::printf("ratio host_added_latency_ms %.1f\n",
                    std::max(figures["input_added_ms"], figures["output_added_ms"]));
        std::printf("ratio host_call_cpu %.3f\n", figures["host_call_cpu"]);
    }
    benchmark::Shutdown();
    return 0;
}
