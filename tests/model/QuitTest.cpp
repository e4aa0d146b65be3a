#include "tests/model/StandInModelTest.h"

#include "app/audio/VelkaroDevices.h"
#include "app/common/PrivateFile.h"
#include "app/phone/NativeAudioSetup.h"
#include "app/realtime/RealtimeClient.h"
#include "app/records/HistoryCodec.h"
#include "platform/sim/mac/PhoneCallAudio.h"
#include "tools/realtime-standin/RealtimeStandInThread.h"
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <string>

// Quitting the program: a configured Mac with the stand-in AI, the Mac's time moved by hand.
class QuitTest : public StandInModelTest {
protected:
    int doneCalls = 0;

    std::function<void()> countDone()
    {
        return [this] { ++doneCalls; };
    }
};

TEST_F(QuitTest, QuittingWhileIdleReportsAtOnce)
{
    model->finishBeforeQuit(5, countDone());
    EXPECT_EQ(doneCalls, 1) << "nothing to wait for";
    EXPECT_TRUE(model->records().isEmpty()) << "no conversation, no record";
    EXPECT_EQ(model->status(), "Standard en pause");
    advance(6);
    EXPECT_EQ(doneCalls, 1);
}

TEST_F(QuitTest, QuittingDuringACallSavesTheRecordThenWaitsForTheRecording)
{
    model->toggleArmed();
    ASSERT_TRUE(waitFor([&] { return model->armed(); })) << model->error().value_or("").toStdString();
    mac.ring("06 12 34 56 78", sim::toneVoice(733, 0.5f));
    advance(4.5);
    ASSERT_TRUE(model->busy()) << model->error().value_or("").toStdString();
    ASSERT_TRUE(waitFor([&] { return model->connected(); })) << model->error().value_or("").toStdString();
    advance(2.0);
    const QUuid id = model->current()->id;

    model->finishBeforeQuit(10, countDone());
    EXPECT_FALSE(model->busy());
    ASSERT_EQ(model->records().size(), 1);
    EXPECT_EQ(model->records().first().id, id);
    const std::optional<QByteArray> saved = PrivateFile::read(AppPaths::historyFile());
    ASSERT_TRUE(saved.has_value()) << "the record is written before any wait";
    const auto decoded = HistoryCodec::decode(*saved);
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(decoded->size(), 1);
    EXPECT_EQ(decoded->first().id, id);
    EXPECT_EQ(doneCalls, 0) << "the recording is still being written";
    EXPECT_TRUE(model->finalizingRecordings().contains(id));

    // The recorder writes on its own thread in real time; the Mac's clock stands still meanwhile.
    ASSERT_TRUE(waitFor([&] { return model->finalizingRecordings().isEmpty(); }, 30000));
    EXPECT_EQ(doneCalls, 0) << "`done` follows the scheduler's next poll";
    mac.advance(0.2);
    EXPECT_EQ(doneCalls, 1);
    EXPECT_EQ(model->records().first().recordingFile,
              std::optional<QString>("Appel-" + uuidText(id) + ".wav"))
        << model->records().first().recordingError.value_or("").toStdString();
    const std::optional<QByteArray> resaved = PrivateFile::read(AppPaths::historyFile());
    ASSERT_TRUE(resaved.has_value());
    EXPECT_TRUE(resaved->contains("Appel-")) << "the recording's name is saved before `done`";

    // The monitoring loop has stopped: a call ringing after the cool-down is left alone.
    mac.callerHangsUp();
    advance(9.0);
    mac.ring("07 00 00 00 00");
    advance(6.0);
    EXPECT_FALSE(model->busy()) << "no call may be taken while the program quits";
    EXPECT_EQ(doneCalls, 1) << "`done` runs exactly once";
}

TEST_F(QuitTest, ARecordingThatNeverFinishesIsWaitedForOnlyUntilTheDeadline)
{
    const QUuid stuck = QUuid::createUuid();
    model->setFinalizingRecordings({stuck});
    model->finishBeforeQuit(2.0, countDone());
    advance(1.5);
    EXPECT_EQ(doneCalls, 0) << "still within the wait";
    advance(1.0);
    EXPECT_EQ(doneCalls, 1) << "the wait is bounded";
    advance(3.0);
    EXPECT_EQ(doneCalls, 1);
    EXPECT_TRUE(model->finalizingRecordings().contains(stuck)) << "quitting does not pretend it was written";
}
