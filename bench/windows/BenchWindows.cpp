// The window over years of calls (offscreen): typing in the Dossiers search over 5,000 calls of 40
// lines, a whole call rung from the simulated Mac with the window open, and the first paint over
// 20,000 calls. The call is measured twice back to back in this process, over an empty history and
// over 5,000 calls with a search left in Dossiers, so both runs share the machine's load of the moment.
#include "app/audio/VelkaroDevices.h"
#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "app/desktop/DemoCaller.h"
#include "app/desktop/DemoEnvironment.h"
#include "app/model/AppModel.h"
#include "app/phone/NativeAudioSetup.h"
#include "app/records/HistoryFixture.h"
#include "app/windows/DossierTableModel.h"
#include "app/windows/DossiersPage.h"
#include "app/windows/MainWindow.h"
#include "app/windows/Theme.h"
#include "bench/support/BenchEventLoop.h"
#include "platform/sim/mac/Mac.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr int kBusyHistory = 5000;
constexpr int kLargeHistory = 20000;
constexpr double kFrameMs = 1000.0 / 60.0;

std::map<std::string, double> figures;

using bench::processCpuSeconds;

// Runs the event loop until `condition` holds.
bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    return bench::waitFor(condition, timeoutMs, 20);
}

void settle()
{
    for (int i = 0; i < 4; ++i)
        QCoreApplication::processEvents();
}

// A data folder of its own holding `calls` generated calls.
class DataHome {
public:
    explicit DataHome(int calls)
    {
        qputenv("ORLEA_DATA_HOME", m_dir.path().toUtf8());
        qunsetenv("ORLEA_REALTIME_URL"); // each environment starts its own stand-in
        if (calls > 0)
            HistoryFixture::write(HistoryFixture::generate(
                calls, secondsSinceReferenceDate(QDateTime::currentDateTimeUtc()) - 3600));
    }

private:
    QTemporaryDir m_dir;
};

// The simulated Mac ready to take calls: the driver installed, both permissions granted, a key saved,
// the Phone app on the virtual devices. The demo's own setup proves each step at real speed; this
// takes its results as given.
bool prepareMac(DemoEnvironment& environment)
{
    sim::Mac& mac = environment.mac();
    AppModel& model = environment.model();
    if (!mac.workspace().openUrl(QUrl::fromLocalFile(DemoEnvironment::packagePath())))
        return false;
    mac.setAccessibilityTrusted(true);
    mac.setPrivacySwitch(sim::PrivacyPage::Microphone, true);
    model.saveKey(environment.demoKey());
    model.refresh();
    model.setInputUID(VelkaroDevices::kCallUID);
    model.setOutputUID(VelkaroDevices::kVoiceUID);
    bool prepared = false;
    bool failed = false;
    model.audioSetup().prepare([&](std::optional<AppError> error) {
        prepared = true;
        failed = error.has_value();
    });
    if (!waitFor([&] { return prepared; }, 60000) || failed)
        return false;
    model.setRoutingConfirmed(true);
    return true;
}

// --- typing in the Dossiers search

struct FilterScene {
    DataHome home{kBusyHistory};
    DemoEnvironment environment;
    std::unique_ptr<MainWindow> window;
    DossiersPage* page = nullptr;

    FilterScene()
    {
        QString error;
        if (!environment.start(&error)) {
            std::fprintf(stderr, "%s\n", error.toUtf8().constData());
            std::abort();
        }
        window = std::make_unique<MainWindow>(environment.model());
        window->show();
        environment.model().setShowSetupAssistant(false);
        environment.model().setPage(QStringLiteral("Dossiers"));
        settle();
        page = qobject_cast<DossiersPage*>(window->page(QStringLiteral("Dossiers")));
        page->searchField()->setFocus();
    }

    // One keystroke as the page applies it once typing pauses, painted.
    void key(QChar c)
    {
        QTest::keyClick(page->searchField(), c.toLatin1());
        QTest::keyClick(page->searchField(), Qt::Key_Return);
        settle();
    }

    void clear()
    {
        page->searchField()->clear();
        QTest::keyClick(page->searchField(), Qt::Key_Return);
        settle();
    }
};

// Made on first use and dropped before the application goes.
std::unique_ptr<FilterScene> sharedFilterScene;

FilterScene& filterScene()
{
    if (!sharedFilterScene)
        sharedFilterScene = std::make_unique<FilterScene>();
    return *sharedFilterScene;
}

void BM_FirstSearch(benchmark::State& state)
{
    FilterScene& scene = filterScene();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        scene.key(QLatin1Char('q')); // every record's text is folded once, here
        state.SetIterationTime(double(timer.nsecsElapsed()) * 1e-9);
        scene.clear();
    }
}

void BM_DossierKeystroke(benchmark::State& state)
{
    FilterScene& scene = filterScene();
    const QStringList words{QStringLiteral("chauffage"), QStringLiteral("fuite sous"),
                            QStringLiteral("lefevre"), QStringLiteral("06 12"),
                            QStringLiteral("oeil-de-boeuf")};
    double slowest = 0;
    qsizetype keystrokes = 0;
    for (auto _ : state) {
        const QString& word = words[keystrokes++ % words.size()];
        double total = 0;
        for (QChar c : word) {
            QElapsedTimer timer;
            timer.start();
            scene.key(c);
            const double seconds = double(timer.nsecsElapsed()) * 1e-9;
            slowest = std::max(slowest, seconds);
            total += seconds;
        }
        state.SetIterationTime(total / double(word.size()));
        scene.clear();
    }
    figures["slowest_keystroke_ms"] = slowest * 1000.0;
    figures["rows_after_last_word"] = scene.page->tableModel()->rowCount();
}

// --- a whole call

struct CallRun {
    double cpuSeconds = 0;
    double callSeconds = 0;
    double maxStallMs = 0; // from the ring to the caller hanging up
    double maxBusyMs = 0;  // the same, counting only the main thread's own work
    double endStallMs = 0; // from the hang-up to the call saved
    int lines = 0;
};

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) * 1e-6;
}

// The longest lateness of a 10 ms timer on the main thread. On a machine shared with other work the
// lateness also counts the time the system gave to others, so the main thread's own CPU time between
// two ticks is kept beside it.
class StallWatch : public QObject {
public:
    struct Worst {
        double lateMs = 0;
        double busyMs = 0;
    };

    StallWatch()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            const double ms = double(m_since.nsecsElapsed()) * 1e-6;
            const double cpuMs = threadCpuMs();
            m_since.start();
            m_worst.lateMs = std::max(m_worst.lateMs, ms - 10.0);
            m_worst.busyMs = std::max(m_worst.busyMs, cpuMs - m_cpuMs);
            m_cpuMs = cpuMs;
        });
        m_since.start();
        m_cpuMs = threadCpuMs();
        m_timer.start();
    }
    Worst take() { return std::exchange(m_worst, Worst{}); }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    double m_cpuMs = 0;
    Worst m_worst;
};

std::optional<CallRun> runCall(int historyCalls, const QString& voiceCache)
{
    DataHome home(historyCalls);
    DemoEnvironment environment;
    QString error;
    if (!environment.start(&error) || !prepareMac(environment)) {
        std::fprintf(stderr, "call setup failed: %s\n", error.toUtf8().constData());
        return std::nullopt;
    }
    AppModel& model = environment.model();
    sim::Mac& mac = environment.mac();
    MainWindow window(model);
    window.show();
    model.setShowSetupAssistant(false);
    model.setPage(QStringLiteral("Dossiers"));
    settle();
    auto* page = qobject_cast<DossiersPage*>(window.page(QStringLiteral("Dossiers")));
    // The search left typed in Dossiers, the page shown through the call.
    page->searchField()->setText(QStringLiteral("chauffage"));
    emit page->searchField()->returnPressed();
    settle();
    model.toggleArmed();
    if (!waitFor([&] { return model.armed(); }, 30000)) {
        std::fprintf(stderr, "the switchboard did not arm: %s\n",
                     model.error().value_or("").toUtf8().constData());
        return std::nullopt;
    }
    const std::shared_ptr<DemoCaller> caller = DemoCaller::make(voiceCache);
    // Start-up work settles: the checks of the transcript files done ahead of the first save, then quiet.
    waitFor([&] { return !model.history().prepareSave(0); }, 60000);
    waitFor([] { return false; }, 2000);

    CallRun run;
    StallWatch stalls;
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = processCpuSeconds();
    mac.ring(QStringLiteral("06 12 34 56 78"), caller);
    std::optional<QUuid> session;
    std::optional<qint64> answeredMs;
    bool hungUp = false;
    const bool done = waitFor(
        [&] {
            if (model.current())
                session = model.current()->id;
            if (!hungUp && model.current()) {
                const QList<TranscriptLine>& lines = model.current()->transcript;
                int callerTurns = 0;
                for (const TranscriptLine& line : lines)
                    callerTurns += line.speaker == QLatin1String("Interlocuteur");
                if (!answeredMs && callerTurns >= caller->turns() && !lines.isEmpty() &&
                    lines.last().speaker == QLatin1String("Orlea"))
                    answeredMs = wall.elapsed();
                if (answeredMs && wall.elapsed() - *answeredMs > 1500) {
                    const StallWatch::Worst worst = stalls.take();
                    run.maxStallMs = worst.lateMs;
                    run.maxBusyMs = worst.busyMs;
                    hungUp = true;
                    mac.callerHangsUp();
                }
            }
            return hungUp && !model.busy() && model.finalizingRecordings().isEmpty() && session &&
                   model.history().find(*session);
        },
        150000);
    run.cpuSeconds = processCpuSeconds() - cpuStart;
    run.callSeconds = double(wall.elapsed()) / 1000.0;
    run.endStallMs = stalls.take().lateMs;
    if (!done) {
        std::fprintf(stderr, "the call did not complete: %s\n",
                     model.error().value_or("").toUtf8().constData());
        return std::nullopt;
    }
    run.lines = int(model.history().find(*session)->transcript.size());
    return run;
}

QString describe(const CallRun& run)
{
    return QStringLiteral("%1 s CPU in %2 s, %3 lines, longest stall %4 ms during the call (main thread busy "
                          "%5 ms at most) and %6 ms at its end")
        .arg(run.cpuSeconds, 0, 'f', 2)
        .arg(run.callSeconds, 0, 'f', 1)
        .arg(run.lines)
        .arg(run.maxStallMs, 0, 'f', 1)
        .arg(run.maxBusyMs, 0, 'f', 1)
        .arg(run.endStallMs, 0, 'f', 1);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// $ORLEA_BENCH_CALL_PAIRS pairs of calls (one by default), the order swapped from one pair to the next;
// the figures are the medians over the pairs.
void BM_BusyCall(benchmark::State& state)
{
    QTemporaryDir voices; // the caller's synthesised voice, made once for every call
    const int pairs = std::max(1, qEnvironmentVariableIntValue("ORLEA_BENCH_CALL_PAIRS"));
    for (auto _ : state) {
        std::vector<double> ratios;
        std::vector<double> stalls;
        std::vector<double> busyStretches;
        std::vector<double> endStalls;
        double seconds = 0;
        for (int pair = 0; pair < pairs; ++pair) {
            std::optional<CallRun> empty;
            std::optional<CallRun> busy;
            if (pair % 2 == 0) {
                empty = runCall(0, voices.path());
                busy = runCall(kBusyHistory, voices.path());
            } else {
                busy = runCall(kBusyHistory, voices.path());
                empty = runCall(0, voices.path());
            }
            if (!empty || !busy) {
                state.SkipWithError("a call did not complete");
                return;
            }
            seconds += busy->callSeconds;
            std::printf("pair %d, call over an empty history: %s\n", pair + 1,
                        describe(*empty).toUtf8().constData());
            std::printf("pair %d, call over %d calls with a search in Dossiers: %s\n", pair + 1, kBusyHistory,
                        describe(*busy).toUtf8().constData());
            std::fflush(stdout);
            ratios.push_back(busy->cpuSeconds / empty->cpuSeconds);
            stalls.push_back(busy->maxStallMs);
            busyStretches.push_back(busy->maxBusyMs);
            endStalls.push_back(busy->endStallMs);
        }
        state.SetIterationTime(seconds / pairs);
        figures["busy_call_cpu"] = median(ratios);
        figures["main_thread_max_stall_ms"] = median(stalls);
        figures["main_thread_max_busy_ms"] = median(busyStretches);
        figures["end_of_call_stall_ms"] = median(endStalls);
    }
}

// --- the first paint over 20,000 calls

class FirstPaint : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return QObject::eventFilter(watched, event);
    }
};

void BM_FirstPaintLargeHistory(benchmark::State& state)
{
    DataHome home(kLargeHistory);
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        DemoEnvironment environment; // the model reads the history as it is created
        QString error;
        if (!environment.start(&error)) {
            state.SkipWithError("the environment did not start");
            return;
        }
        figures["model_ready_s"] = double(timer.nsecsElapsed()) * 1e-9;
        MainWindow window(environment.model());
        figures["window_built_s"] = double(timer.nsecsElapsed()) * 1e-9;
        FirstPaint watch;
        window.installEventFilter(&watch);
        window.show();
        waitFor([&] { return watch.painted; }, 60000);
        const double seconds = double(timer.nsecsElapsed()) * 1e-9;
        state.SetIterationTime(seconds);
        figures["first_paint_s_20000_calls"] = seconds;
        figures["records_loaded"] = double(environment.model().records().size());
        // Then each page over the history, opened from the sidebar and painted.
        environment.model().setShowSetupAssistant(false);
        for (const char* title : {"Conversations", "Dossiers"}) {
            QWidget* page = window.page(QString::fromUtf8(title));
            FirstPaint pageWatch;
            page->installEventFilter(&pageWatch);
            QElapsedTimer open;
            open.start();
            environment.model().setPage(QString::fromUtf8(title));
            waitFor([&] { return pageWatch.painted; }, 60000);
            figures[std::string("open_") + title + "_ms"] = double(open.nsecsElapsed()) * 1e-6;
            page->removeEventFilter(&pageWatch);
        }
    }
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                seconds[run.run_name.function_name] = run.GetAdjustedRealTime() / 1e3; // reported in ms
    }
};

} // namespace

BENCHMARK(BM_FirstSearch)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DossierKeystroke)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstPaintLargeHistory)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BusyCall)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    QApplication application(argc, argv);
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    Theme::apply(application);
    DemoEnvironment::locateSourceFolder();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    sharedFilterScene.reset();
    if (reporter.seconds.count("BM_FirstSearch"))
        std::printf("first search over %d calls: %.1f ms (each record folded once)\n", kBusyHistory,
                    reporter.seconds["BM_FirstSearch"] * 1e3);
    if (reporter.seconds.count("BM_DossierKeystroke")) {
        std::printf("slowest keystroke: %.1f ms\n", figures["slowest_keystroke_ms"]);
        std::printf("ratio dossier_filter_frame %.2f\n",
                    reporter.seconds["BM_DossierKeystroke"] * 1e3 / kFrameMs);
    }
    if (figures.count("first_paint_s_20000_calls")) {
        std::printf("over %d calls: Mac and model ready after %.2f s, window built after %.2f s\n",
                    kLargeHistory, figures["model_ready_s"], figures["window_built_s"]);
        std::printf("over %d calls, opening Conversations: %.0f ms, opening Dossiers: %.0f ms\n",
                    kLargeHistory, figures["open_Conversations_ms"], figures["open_Dossiers_ms"]);
        std::printf("ratio first_paint_s_20000_calls %.2f\n", figures["first_paint_s_20000_calls"]);
    }
    if (figures.count("busy_call_cpu")) {
        std::printf("ratio busy_call_cpu %.2f\n", figures["busy_call_cpu"]);
        std::printf("ratio main_thread_max_stall_ms %.1f\n", figures["main_thread_max_stall_ms"]);
        std::printf("the main thread's own longest work between two ticks during the call: %.1f ms\n",
                    figures["main_thread_max_busy_ms"]);
        std::printf("end-of-call save stall: %.1f ms\n", figures["end_of_call_stall_ms"]);
    }
    benchmark::Shutdown();
    return 0;
}
