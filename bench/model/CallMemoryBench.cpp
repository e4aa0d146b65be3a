// A twenty-minute phone call through the whole program on a simulated Mac whose clocks are stepped by
// hand as fast as the machine allows: the driver, the bridge with its recorder, the realtime client
// talking over a loopback socket to the scripted AI on its own thread, the model's ticks until the
// twenty-minute limit ends the call. The figure is the growth of the heap in use (glibc's count of
// allocated bytes, all threads) per minute of call, fitted over minutes 2 to 19.
//
// The simulation's share stays out of the figure because none of it grows after the first minute: the
// Phone app keeps only the first 30 s of what the caller heard, its other buffers are fixed, and the AI
// stand-in keeps no log of what it receives. What grows from minute 2 on is the program's.

#include "app/audio/VelkaroDevices.h"
#include "app/common/AppError.h"
#include "app/common/AppPaths.h"
#include "app/common/UserDefaults.h"
#include "app/model/AppModel.h"
#include "app/phone/NativeAudioSetup.h"
#include "app/realtime/RealtimeClient.h"
#include "app/records/TranscriptExport.h"
#include "platform/sim/mac/Mac.h"
#include "tools/realtime-standin/RealtimeStandInThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <malloc.h>
#include <vector>

namespace {

double g_growthPerMinute = -1;

double heapInUseMB()
{
    const struct mallinfo2 info = ::mallinfo2();
    return double(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

struct QuietClipboard final : Clipboard {
    bool setText(const QString&) override { return true; }
};
struct CancelledSavePanel final : SavePanel {
    std::optional<QString> askSaveURL(const QString&, ExportType) override { return std::nullopt; }
};
struct SilentRevealer final : FileRevealer {
    void reveal(const QString&) override {}
};

// The caller speaks two seconds in every ten, for ever, so the AI hears turns and answers them.
std::shared_ptr<sim::InputSource> talkativeCaller()
{
    std::vector<float> loop(size_t(10 * 48000), 0.0f);
    for (size_t i = 0; i < size_t(2 * 48000); ++i)
        loop[i] = 0.3f * float(std::sin(2.0 * M_PI * 220.0 * double(i) / 48000.0));
    return sim::InputSource::samples(std::move(loop), true);
}

// Least-squares slope of the samples (one a minute).
double slope(const std::vector<double>& values)
{
    const double n = double(values.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        sx += double(i);
        sy += values[i];
        sxx += double(i) * double(i);
        sxy += double(i) * values[i];
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

void BM_TwentyMinuteCall(benchmark::State& state)
{
    for (auto _ : state) {
        QTemporaryDir home;
        qputenv("ORLEA_DATA_HOME", home.path().toUtf8());
        sim::Mac mac(home.path() + QStringLiteral("/SimulatedMac"));
        UserDefaults defaults(AppPaths::preferencesFile());
        QuietClipboard clipboard;
        CancelledSavePanel savePanel;
        SilentRevealer revealer;

        RealtimeStandInThread standIn;
        RealtimeStandInThread::Options options;
        options.speed = 0.0; // each answer at once: the Mac's time runs far ahead of the stand-in's
        if (!standIn.start(options)) {
            state.SkipWithError(qPrintable(standIn.errorString()));
            return;
        }
        qputenv("ORLEA_REALTIME_URL", standIn.url().toString().toUtf8());
        const QString package =
            qEnvironmentVariable("ORLEA_BUILD_DIR", QStringLiteral(ORLEA_BENCH_BUILD_DIR)) +
            QStringLiteral("/lib/VelkaroAudio-0.2.0.pkg");
        if (!mac.workspace().openUrl(QUrl::fromLocalFile(package))) {
            state.SkipWithError("the VelkaroAudio package did not install");
            return;
        }
        mac.setAccessibilityTrusted(true);
        mac.setPrivacySwitch(sim::PrivacyPage::Microphone, true);

        AppModel model(Platform{mac.hardware(), mac.accessibility(), mac.workspace(), mac.microphone(),
                                mac.clock(), mac.scheduler(), defaults, clipboard, savePanel, revealer,
                                std::nullopt});
        model.saveKey(QStringLiteral("demo"));
        model.setInputUID(VelkaroDevices::kCallUID);
        model.setOutputUID(VelkaroDevices::kVoiceUID);
        std::optional<QString> prepared;
        model.audioSetup().prepare(
            [&](std::optional<AppError> error) { prepared = error ? error->message() : QString(); });
        mac.advance(5);
        model.setRoutingConfirmed(true);

        auto waitFor = [](const std::function<bool()>& condition, int timeoutMs) {
            QElapsedTimer timer;
            timer.start();
            while (!condition() && timer.elapsed() < timeoutMs) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                QThread::usleep(200);
            }
            return condition();
        };
        // One tenth of a second of the Mac's time; the caller's audio of each step reaches the AI
        // before the next, as it would at the real pace.
        auto step = [&] {
            mac.advance(0.1);
            QCoreApplication::processEvents();
            if (model.connected())
                waitFor([&] { return !model.realtime().isSending(); }, 2000);
        };

        model.toggleArmed();
        if (!waitFor([&] { return model.armed(); }, 10000)) {
            state.SkipWithError(
                qPrintable(QStringLiteral("not armed: ") + model.error().value_or(QString())));
            return;
        }
        const double idleMB = heapInUseMB();
        mac.ring(QStringLiteral("06 12 34 56 78"), talkativeCaller());
        for (int i = 0; i < 100 && !model.connected(); ++i) {
            step();
            waitFor([&] { return model.connected() || !model.busy(); }, model.busy() ? 200 : 0);
        }
        if (!model.connected()) {
            state.SkipWithError("the call was not answered");
            return;
        }

        std::vector<double> minutes;
        int seconds = 0;
        while (model.busy()) {
            for (int i = 0; i < 10 && model.busy(); ++i)
                step();
            if (++seconds % 60 == 0) {
                minutes.push_back(heapInUseMB());
                std::fprintf(stderr, "minute %2d: %.1f MB in use, %zu transcript lines\n", seconds / 60,
                             minutes.back(),
                             size_t(model.current() ? model.current()->transcript.size() : 0));
            }
        }
        // The recording's mix finishes on its own queue; then the session has let go of everything.
        auto settle = [&] {
            waitFor([&] { return model.finalizingRecordings().isEmpty(); }, 60000);
            for (int i = 0; i < 20; ++i)
                step();
            mac.callAudio().clearHeard();
            return heapInUseMB();
        };
        const double afterFirstMB = settle();
        // A second, short call: what a session leaves behind must not pile up from call to call.
        model.toggleArmed();
        waitFor([&] { return model.armed(); }, 10000);
        mac.ring(QStringLiteral("06 98 76 54 32"), talkativeCaller());
        for (int i = 0; i < 1200 && (model.busy() || i < 100); ++i) {
            step();
            if (i == 600)
                mac.callerHangsUp();
        }
        const double afterSecondMB = settle();
        if (minutes.size() < 19) {
            state.SkipWithError("the call ended before its twentieth minute");
            return;
        }
        g_growthPerMinute = slope(std::vector<double>(minutes.begin() + 1, minutes.begin() + 19));
        state.counters["idle_MB"] = idleMB;
        state.counters["minute2_MB"] = minutes[1];
        state.counters["minute19_MB"] = minutes[18];
        state.counters["after_call_MB"] = afterFirstMB;
        state.counters["after_second_call_MB"] = afterSecondMB;
        state.counters["records"] = double(model.records().size());
        qunsetenv("ORLEA_REALTIME_URL");
        qunsetenv("ORLEA_DATA_HOME");
    }
}
BENCHMARK(BM_TwentyMinuteCall)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_growthPerMinute > -1)
        std::printf("ratio call_memory_growth_mb_per_min %.3f\n", g_growthPerMinute);
    return g_growthPerMinute > -1 ? 0 : 1;
}
