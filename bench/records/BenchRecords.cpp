// History saving at the scale of a busy office: 5,000 calls of 40 transcript lines each. Every figure
// is a ratio to a plain write of the same bytes into the same folder, measured in the same run.
#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "app/common/PrivateFile.h"
#include "app/records/HistoryCodec.h"
#include "app/records/HistoryFixture.h"
#include "app/records/HistoryStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kRecords = 5000;

struct Bench {
    QTemporaryDir home;
    ManualClock clock;
    HistoryStore store{clock, [](const QString& message) {
                           std::fprintf(stderr, "error: %s\n", message.toUtf8().constData());
                       }};
    QByteArray historyBytes;
    int edits = 0;

    Bench()
    {
        qputenv("ORLEA_DATA_HOME", home.path().toUtf8());
        const QList<CallRecord> records = HistoryFixture::generate(kRecords, 818431503.25);
        HistoryFixture::write(records);
        historyBytes = HistoryCodec::encode(records);
        store.load();
        store.saveHistory(); // the first save of a run writes (or compares) every transcript file
    }
};

Bench& bench()
{
    static Bench instance;
    return instance;
}

void plainWrite(const QString& path, const QByteArray& bytes)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        std::abort();
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n <= 0)
            std::abort();
        data += n;
        left -= n;
    }
    ::close(fd);
}

void BM_PlainWrite(benchmark::State& state)
{
    Bench& b = bench();
    const QString path = AppPaths::dataFolder() + "/plain.json";
    for (auto _ : state)
        plainWrite(path, b.historyBytes);
    state.SetBytesProcessed(state.iterations() * b.historyBytes.size());
}

// The history file as a save writes it: each record's JSON comes from the store's cache (only an
// edited record is encoded again), then the bytes are written privately and atomically.
void BM_HistoryWrite(benchmark::State& state)
{
    Bench& b = bench();
    for (auto _ : state)
        PrivateFile::write(AppPaths::historyFile(), b.store.encodedHistory());
    state.SetBytesProcessed(state.iterations() * b.historyBytes.size());
}

// The same as the first save of a run makes it: the history just loaded, no record written yet.
// Each round also makes a plain write of the same bytes just before, and the counter "vs_plain" is the
// ratio of the two sums: a disk slowed by other work for a while slows both alike.
void BM_HistoryWriteCold(benchmark::State& state)
{
    Bench& b = bench();
    const QString plainPath = AppPaths::dataFolder() + "/plain.json";
    double plainSeconds = 0;
    double coldSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto fresh = std::make_unique<HistoryStore>(b.clock, [](const QString&) {});
        fresh->load();
        QElapsedTimer plain;
        plain.start();
        plainWrite(plainPath, b.historyBytes);
        plainSeconds += double(plain.nsecsElapsed()) * 1e-9;
        QElapsedTimer cold;
        cold.start();
        state.ResumeTiming();
        PrivateFile::write(AppPaths::historyFile(), fresh->encodedHistory());
        state.PauseTiming();
        coldSeconds += double(cold.nsecsElapsed()) * 1e-9;
        fresh.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * b.historyBytes.size());
    state.counters["vs_plain"] = coldSeconds / plainSeconds;
}

// The whole first save of a run: the history file, then every transcript file checked.
void BM_FirstSave(benchmark::State& state)
{
    Bench& b = bench();
    for (auto _ : state) {
        state.PauseTiming();
        auto fresh = std::make_unique<HistoryStore>(b.clock, [](const QString&) {});
        fresh->load();
        state.ResumeTiming();
        fresh->saveHistory();
        state.PauseTiming();
        fresh.reset();
        state.ResumeTiming();
    }
}

// Reading the history at start-up.
void BM_LoadHistory(benchmark::State& state)
{
    Bench& b = bench();
    for (auto _ : state) {
        auto fresh = std::make_unique<HistoryStore>(b.clock, [](const QString&) {});
        fresh->load();
        if (fresh->records().size() != kRecords)
            std::abort();
        state.PauseTiming(); // the records go with the store, outside the timing
        fresh.reset();
        state.ResumeTiming();
    }
}

// A note edit as the user makes it: history rewritten, one transcript file rewritten, 4,999 checked.
void BM_SaveOneEdit(benchmark::State& state)
{
    Bench& b = bench();
    for (auto _ : state) {
        const QUuid id = b.store.records()[b.edits % kRecords].id;
        b.store.updateNote(id, QStringLiteral("Note modifiée %1").arg(b.edits++));
    }
}

// Keeps the mean real time of each benchmark so the ratios can be printed after the run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    std::map<std::string, double> cpuSeconds;
    std::map<std::string, double> versusPlain;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                seconds[run.run_name.function_name] = run.GetAdjustedRealTime();
                cpuSeconds[run.run_name.function_name] = run.GetAdjustedCPUTime();
                if (const auto found = run.counters.find("vs_plain"); found != run.counters.end())
                    versusPlain[run.run_name.function_name] = found->second.value;
            }
        }
    }
};

} // namespace

BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_HistoryWrite)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_HistoryWriteCold)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_LoadHistory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveOneEdit)->Unit(benchmark::kMillisecond)->MinTime(1.0);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    benchmark::Initialize(&argc, argv);
    bench();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("history bytes %lld\n", static_cast<long long>(bench().historyBytes.size()));
    // Wall-clock ratios are the figures; the CPU-time ones show the share of the work that is ours
    // rather than the kernel's writeback.
    auto ratio = [&](const char* name, const std::map<std::string, double>& times, const char* benchmark) {
        const double plain = times.at("BM_PlainWrite");
        if (plain > 0 && times.count(benchmark))
            std::printf("ratio %s %.2f\n", name, times.at(benchmark) / plain);
    };
    if (reporter.seconds.count("BM_PlainWrite")) {
        ratio("history_write", reporter.seconds, "BM_HistoryWrite");
        ratio("history_save_one_edit", reporter.seconds, "BM_SaveOneEdit");
        ratio("history_write_cpu", reporter.cpuSeconds, "BM_HistoryWrite");
        ratio("history_save_one_edit_cpu", reporter.cpuSeconds, "BM_SaveOneEdit");
    }
    if (reporter.versusPlain.count("BM_HistoryWriteCold"))
        std::printf("ratio history_write_cold %.2f\n", reporter.versusPlain["BM_HistoryWriteCold"]);
    benchmark::Shutdown();
    return 0;
}
