// Client-side cost of streaming caller audio: 60 s of 24 kHz PCM16 in 100 ms chunks through
// RealtimeClient::append to a loopback stand-in running on another thread. Reports the main thread's
// CPU time (serialisation, Base64, socket writes, the event loop) over the audio's duration.
#include "app/realtime/RealtimeClient.h"
#include "tools/realtime-standin/RealtimeStandInThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtEndian>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

constexpr int kChunkBytes = 4800; // 100 ms
constexpr int kChunks = 600;      // 60 s
constexpr double kAudioSeconds = kChunks * 0.1;

double threadCPUSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Waits in the event loop (asleep while idle, so waiting costs no CPU) until `done` holds.
template <typename Done> bool runUntil(Done done, int timeoutMs = 10'000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

QList<QByteArray> callerAudio()
{
    QList<QByteArray> chunks;
    for (int c = 0; c < kChunks; ++c) {
        QByteArray pcm(kChunkBytes, Qt::Uninitialized);
        for (int i = 0; i < kChunkBytes / 2; ++i) {
            const double t = double(c * kChunkBytes / 2 + i) / 24000.0;
            qToLittleEndian<qint16>(qint16(6000 * std::sin(2 * M_PI * 220 * t) + (i * 7919 % 401) - 200),
                                    pcm.data() + 2 * i);
        }
        chunks.append(pcm);
    }
    return chunks;
}

double g_cpuSeconds = 0;
double g_audioSeconds = 0;

void BM_StreamCallerAudio(benchmark::State& state)
{
    RealtimeStandInThread server;
    RealtimeStandInThread::Options options;
    options.agent = false;
    if (!server.start(options)) {
        state.SkipWithError("the stand-in did not start");
        return;
    }
    RealtimeClient client(server.url());
    bool failed = false;
    client.onError = [&](const RealtimeError&) { failed = true; };
    const QList<QByteArray> audio = callerAudio();

    for (auto _ : state) {
        client.connect("sk-bench", "gpt-realtime", "marin", "Banc d’essai.");
        if (!runUntil([&] { return client.isReady(); })) {
            state.SkipWithError("the session was never confirmed");
            return;
        }
        const double start = threadCPUSeconds();
        // One chunk at a time, as the bridge delivers them, faster than real time: a chunk goes
        // out on the first millisecond tick after the previous one has left.
        qsizetype next = 0;
        QEventLoop loop;
        QTimer ticks;
        QObject::connect(&ticks, &QTimer::timeout, &loop, [&] {
            if (client.isSending())
                return;
            if (next == audio.size())
                loop.quit();
            else
                client.append(audio[next++]);
        });
        ticks.start(1);
        loop.exec();
        g_cpuSeconds += threadCPUSeconds() - start;
        g_audioSeconds += kAudioSeconds;
        client.close();
        if (failed) {
            state.SkipWithError("the connection failed");
            return;
        }
    }
    state.counters["cpu_per_audio_second"] = g_cpuSeconds / g_audioSeconds;
}
BENCHMARK(BM_StreamCallerAudio)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_audioSeconds > 0)
        std::printf("ratio realtime_client %.6f\n", g_cpuSeconds / g_audioSeconds);
    return 0;
}
