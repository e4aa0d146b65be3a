#include "app/audio/CallAudioRecorder.h"
#include "app/common/AppPaths.h"
#include "app/common/Clock.h"
#include "tests/support/TestDataHome.h"

#include <QDir>
#include <QFile>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>

namespace {

QByteArray wire(int samples, int16_t value)
{
    QByteArray bytes(samples * 2, Qt::Uninitialized);
    for (int i = 0; i < samples; ++i) {
        bytes[2 * i] = char(uint16_t(value) & 0xff);
        bytes[2 * i + 1] = char(uint16_t(value) >> 8);
    }
    return bytes;
}

CallAudioRecorder::Result finishAndWait(CallAudioRecorder& recorder)
{
    std::promise<CallAudioRecorder::Result> promise;
    auto future = promise.get_future();
    recorder.finish([&promise](const CallAudioRecorder::Result& result) { promise.set_value(result); });
    EXPECT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    return future.get();
}

struct Wav {
    SF_INFO info{};
    std::vector<short> samples;
};

Wav readWav(const QString& path)
{
    Wav wav;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &wav.info);
    EXPECT_TRUE(file) << "cannot open " << path.toStdString();
    if (!file)
        return wav;
    wav.samples.resize(size_t(wav.info.frames));
    sf_readf_short(file, wav.samples.data(), wav.info.frames);
    sf_close(file);
    return wav;
}

QString recordingPath()
{
    return AppPaths::recordingsFolder() + "/Appel-test.wav";
}

} // namespace

TEST(CallAudioRecorder, ChunksArePlacedByArrivalTimeAndMixedAtHalfLevel)
{
    TestDataHome home;
    ManualClock clock;
    const QString path = recordingPath();
    auto recorder = std::make_unique<CallAudioRecorder>(path, clock);
    EXPECT_EQ(posixMode(AppPaths::recordingsFolder()), 0700);
    for (const QString& temporary : recorder->temporaryPaths())
        EXPECT_EQ(posixMode(temporary), 0600) << temporary.toStdString();
    EXPECT_EQ(recorder->temporaryPaths()[0], path + ".input.caf");
    EXPECT_EQ(recorder->temporaryPaths()[1], path + ".voice.caf");

    clock.advance(2.0);
    recorder->append(wire(480, 2000), 0);
    recorder->append(wire(480, 4000), 0);   // same instant: right after the first
    recorder->append(wire(24000, 6000), 1); // one second ending now: frames 24000…47999
    recorder->append(wire(100, 9999), 2);
    recorder->append(wire(100, 9999), -1);
    recorder->append(QByteArray(), 0);
    recorder->append(QByteArray(1, 'x'), 1); // half a sample: nothing
    clock.advance(0.5);
    recorder->append(wire(480, -2000), 0); // arrives at 2.5 s: ends at frame 60000

    const CallAudioRecorder::Result result = finishAndWait(*recorder);
    ASSERT_TRUE(std::holds_alternative<QString>(result)) << std::get<AppError>(result).what();
    EXPECT_EQ(std::get<QString>(result), path);
    EXPECT_EQ(posixMode(path), 0600);
    for (const QString& temporary : recorder->temporaryPaths())
        EXPECT_FALSE(QFile::exists(temporary)) << "temporary tracks are deleted";

    const Wav wav = readWav(path);
    EXPECT_EQ(wav.info.samplerate, 24000);
    EXPECT_EQ(wav.info.channels, 1);
    EXPECT_EQ(wav.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    ASSERT_EQ(wav.samples.size(), 60000u);
    auto at = [&](int frame) { return int(wav.samples[size_t(frame)]); };
    EXPECT_EQ(at(0), 0);
    EXPECT_EQ(at(23999), 0);
    EXPECT_EQ(at(24000), 3000) << "track 1 alone, half level";
    EXPECT_EQ(at(47519), 3000);
    EXPECT_EQ(at(47520), 1000 + 3000) << "the first chunk ends at 2.0 s: frames 47520…47999";
    EXPECT_EQ(at(47999), 1000 + 3000);
    EXPECT_EQ(at(48000), 2000) << "the second chunk of the same instant follows; track 1 has ended";
    EXPECT_EQ(at(48479), 2000);
    EXPECT_EQ(at(48480), 0) << "a gap becomes silence";
    EXPECT_EQ(at(59519), 0);
    EXPECT_EQ(at(59520), -1000);
    EXPECT_EQ(at(59999), -1000);
}

TEST(CallAudioRecorder, OnlyTheFirstFinishCompletesAndAppendsAfterItAreIgnored)
{
    TestDataHome home;
    ManualClock clock;
    auto recorder = std::make_unique<CallAudioRecorder>(recordingPath(), clock);
    clock.advance(1.0);
    recorder->append(wire(2400, 100), 1);
    std::atomic<int> calls{0};
    std::promise<void> first;
    recorder->finish([&](const CallAudioRecorder::Result& result) {
        EXPECT_TRUE(std::holds_alternative<QString>(result));
        ++calls;
        first.set_value();
    });
    recorder->finish([&](const CallAudioRecorder::Result&) { ++calls; });
    recorder->append(wire(2400, 100), 1);
    recorder->waitUntilIdle();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(readWav(recordingPath()).samples.size(), 24000u) << "the late chunk is not in the file";

    // The completion arrives even when the recorder is released at once.
    auto second = std::make_unique<CallAudioRecorder>(AppPaths::recordingsFolder() + "/Appel-2.wav", clock);
    clock.advance(0.1);
    second->append(wire(240, 5), 0);
    std::promise<CallAudioRecorder::Result> done;
    second->finish([&](const CallAudioRecorder::Result& result) { done.set_value(result); });
    second.reset();
    auto future = done.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_TRUE(std::holds_alternative<QString>(future.get()));
}

TEST(CallAudioRecorder, NothingReceivedFailsAndLeavesNoFile)
{
    TestDataHome home;
    ManualClock clock;
    CallAudioRecorder recorder(recordingPath(), clock);
    recorder.append(wire(10, 1), 5);
    const CallAudioRecorder::Result result = finishAndWait(recorder);
    ASSERT_TRUE(std::holds_alternative<AppError>(result));
    EXPECT_EQ(std::get<AppError>(result).message(),
              QString("Aucun son n’a été reçu pour cet enregistrement."));
    EXPECT_FALSE(QFile::exists(recordingPath()));
    const QStringList left = QDir(AppPaths::recordingsFolder()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_TRUE(left.isEmpty()) << left.join(", ").toStdString();
}

TEST(CallAudioRecorder, UncreatableFolderFailsInFrench)
{
    TestDataHome home;
    QFile blocker(home.path() + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    try {
        CallAudioRecorder recorder(home.path() + "/blocker/Recordings/Appel.wav");
        FAIL() << "a file in the way of the folder must fail";
    } catch (const AppError& error) {
        EXPECT_FALSE(error.message().isEmpty());
    }
}

TEST(CallAudioRecorder, AWriteFailureStopsTheRecordingAndIsReported)
{
    TestDataHome home;
    ManualClock clock;
    CallAudioRecorder recorder(recordingPath(), clock);
    // A file-size limit makes the track writes fail as a full disk would.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previousAction {};
    sigaction(SIGXFSZ, &ignore, &previousAction);
    rlimit previousLimit{};
    getrlimit(RLIMIT_FSIZE, &previousLimit);
    rlimit small = previousLimit;
    small.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    clock.advance(2.0);
    recorder.append(wire(24000, 1000), 0); // 96 kB of float frames
    recorder.waitUntilIdle();
    setrlimit(RLIMIT_FSIZE, &previousLimit);
    sigaction(SIGXFSZ, &previousAction, nullptr);

    clock.advance(1.0);
    recorder.append(wire(2400, 1000), 1); // ignored once a write has failed
    const CallAudioRecorder::Result result = finishAndWait(recorder);
    ASSERT_TRUE(std::holds_alternative<AppError>(result));
    EXPECT_TRUE(
        std::get<AppError>(result).message().startsWith("L’enregistrement de l’appel n’a pas pu être écrit"))
        << std::get<AppError>(result).what();
    EXPECT_FALSE(QFile::exists(recordingPath()));
    EXPECT_TRUE(QFile::exists(recorder.temporaryPaths()[0])) << "the tracks stay for a later rescue";
}
