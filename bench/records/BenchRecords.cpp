// History saving at the scale of a busy office: 5,000 calls of 40 transcript lines each. Every figure
// is a ratio to a plain write of the same bytes into the same folder, measured in the same run.
#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "app/common/PrivateFile.h"
#include "app/records/HistoryCodec.h"
#include "app/records/HistoryStore.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace {

constexpr int kRecords = 5000;
constexpr int kLinesPerRecord = 40;

const char* const kSentences[] = {
    "Bonjour, vous êtes bien au service de gestion locative. Comment puis-je vous aider ?",
    "Il y a une fuite sous mon évier depuis ce matin, au 12 rue des Lilas, appartement 4.",
    "Est-ce que l’eau coule encore et pouvez-vous fermer le robinet d’arrêt sans risque ?",
    "J’ai fermé le robinet. Ça ne coule plus. J’ai pris des photos.",
    "Je note la fuite et le robinet fermé. Le gestionnaire prendra connaissance de votre message.",
    "Pouvez-vous me rappeler votre nom et le numéro du logement, s’il vous plaît ?",
    "Le chauffe-eau fait un bruit étrange depuis hier soir, et l’eau n’est plus très chaude.",
    "D’accord. Je transmets votre demande ; quelqu’un vous rappellera dans la journée.",
};

struct Bench {
    QTemporaryDir home;
    ManualClock clock;
    HistoryStore store{clock, [](const QString& message) {
                           std::fprintf(stderr, "error: %s\n", message.toUtf8().constData());
                       }};
    QList<CallRecord> records;
    QByteArray historyBytes;
    int edits = 0;

    Bench()
    {
        qputenv("ORLEA_DATA_HOME", home.path().toUtf8());
        for (int i = 0; i < kRecords; ++i) {
            CallRecord record;
            record.id = QUuid::createUuid();
            record.date = 818431503.25 - i * 3600.5;
            record.caller =
                QStringLiteral("Client %1 · 06 12 34 %2 %3").arg(i).arg(i % 90 + 10).arg(i % 80 + 10);
            record.kind = QStringLiteral("Appel");
            for (int line = 0; line < kLinesPerRecord; ++line)
                record.transcript.append(TranscriptLine::make(line % 2 ? "Interlocuteur" : "Orlea",
                                                              QString::fromUtf8(kSentences[(i + line) % 8])));
            record.note = QStringLiteral("Rappeler le locataire ; vérifier l’assurance.");
            if (i % 3 == 0)
                record.dossier = QStringLiteral("SCI Lilas · lot %1").arg(i % 40);
            if (i % 4 == 0)
                record.usage = ConversationUsage{12000, 8000, 1.25, 0, QStringLiteral("gpt-realtime")};
            if (i % 5 == 0)
                record.followUpStatus = QStringLiteral("En cours");
            records.append(record);
        }
        historyBytes = HistoryCodec::encode(records);
        PrivateFile::ensureFolder(AppPaths::dataFolder());
        PrivateFile::write(AppPaths::historyFile(), historyBytes);
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

// The same with every record encoded from nothing, as the first save of a run does.
void BM_HistoryWriteCold(benchmark::State& state)
{
    Bench& b = bench();
    for (auto _ : state)
        PrivateFile::write(AppPaths::historyFile(), HistoryCodec::encode(b.store.records()));
    state.SetBytesProcessed(state.iterations() * b.historyBytes.size());
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
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                seconds[run.run_name.function_name] = run.GetAdjustedRealTime();
                cpuSeconds[run.run_name.function_name] = run.GetAdjustedCPUTime();
            }
        }
    }
};

} // namespace

BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_HistoryWrite)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_HistoryWriteCold)->Unit(benchmark::kMillisecond);
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
        ratio("history_write_cold", reporter.seconds, "BM_HistoryWriteCold");
        ratio("history_write_cpu", reporter.cpuSeconds, "BM_HistoryWrite");
        ratio("history_save_one_edit_cpu", reporter.cpuSeconds, "BM_SaveOneEdit");
    }
    benchmark::Shutdown();
    return 0;
}
