#include "app/ui/RecordingView.h"
#include "app/ui/AudioPlayerControls.h"
#include "app/ui/RecordingPlayback.h"
#include "tests/ui/UiSnapshot.h"

#include <QDataStream>
#include <QFile>
#include <QLabel>
#include <QMediaPlayer>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

namespace {
// A one-second 440 Hz tone as the recorder writes it: 24 kHz mono 16-bit PCM WAV.
void writeToneWav(const QString& path, int sampleRateHz = 24000, double durationSeconds = 1.0)
{
    const quint32 frames = quint32(sampleRateHz * durationSeconds);
    const quint32 dataBytes = frames * 2;
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(sampleRateHz) << quint32(sampleRateHz * 2)
        << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    for (quint32 i = 0; i < frames; ++i)
        out << qint16(8000 * std::sin(2 * M_PI * 440 * i / sampleRateHz));
}

CallRecord recordNamed(const QString& recordingFile)
{
    CallRecord record;
    record.id = QUuid::createUuid();
    record.kind = QStringLiteral("Appel");
    record.caller = QStringLiteral("+33 6 12 34 56 78");
    if (!recordingFile.isEmpty())
        record.recordingFile = recordingFile;
    return record;
}

bool visibleText(const RecordingView& view, const QString& text)
{
    for (const QLabel* label : view.findChildren<QLabel*>())
        if (label->isVisibleTo(&view) && label->text() == text)
            return true;
    return false;
}
} // namespace

TEST(RecordingView, ShowsEachStateWithItsText)
{
    QTemporaryDir folder;
    const QString wav = folder.filePath(QStringLiteral("Appel-1.wav"));
    writeToneWav(wav);
    RecordingView view;
    view.resize(560, view.sizeHint().height());

    CallRecord demo = recordNamed(QString());
    demo.kind = QStringLiteral("Démonstration");
    view.setRecord(demo, false, std::nullopt);
    EXPECT_EQ(view.state(), RecordingView::State::NoRecording);
    EXPECT_TRUE(visibleText(view, RecordingView::kNoRecordingText)) << "a demonstration has no audio";
    EXPECT_EQ(view.playback()->player(), nullptr);
    saveSnapshot(view, QStringLiteral("recording-none"));

    CallRecord failed = recordNamed(QString());
    failed.recordingError = QStringLiteral("Le disque est plein.");
    view.setRecord(failed, false, std::nullopt);
    EXPECT_TRUE(visibleText(view, QStringLiteral("Enregistrement indisponible : Le disque est plein.")));
    EXPECT_TRUE(visibleText(view, RecordingView::kNoRecordingText));
    saveSnapshot(view, QStringLiteral("recording-error"));

    CallRecord recorded = recordNamed(QStringLiteral("Appel-1.wav"));
    view.setRecord(recorded, true, wav);
    EXPECT_EQ(view.state(), RecordingView::State::Finalizing) << "finalising wins over an existing file";
    EXPECT_TRUE(visibleText(view, RecordingView::kFinalizingText));
    EXPECT_EQ(view.playback()->player(), nullptr) << "a file still being written is not opened";
    saveSnapshot(view, QStringLiteral("recording-finalizing"));

    view.setRecord(recorded, false, wav);
    const int playerHeight = view.sizeHint().height();
    view.setRecord(demo, false, std::nullopt);
    EXPECT_LT(view.sizeHint().height(), playerHeight)
        << "a one-line message takes one line's room, not the player's";
    view.setRecord(recorded, false, wav);
    EXPECT_EQ(view.state(), RecordingView::State::Player) << "finalisation ended: the player appears";
    EXPECT_TRUE(visibleText(view, RecordingView::kHeading));
    ASSERT_NE(view.playback()->player(), nullptr);
    EXPECT_TRUE(view.exportButton()->isVisibleTo(&view));
    EXPECT_EQ(view.exportButton()->text(), QStringLiteral("Exporter l’audio"));
    EXPECT_FALSE(visibleText(view, RecordingView::kNoRecordingText));
    QMediaPlayer* firstPlayer = view.playback()->player();
    view.setRecord(recorded, false, wav);
    EXPECT_EQ(view.playback()->player(), firstPlayer) << "showing the same record again keeps its player";
    saveSnapshot(view, QStringLiteral("recording-player"));

    QList<QUuid> exported;
    view.setExportAction([&](const CallRecord& record) { exported << record.id; });
    view.exportButton()->click();
    EXPECT_EQ(exported, QList<QUuid>{recorded.id});

    ASSERT_TRUE(QFile::remove(wav));
    view.setRecord(recorded, false, wav);
    EXPECT_EQ(view.state(), RecordingView::State::MissingFile) << "a file deleted outside the application";
    EXPECT_TRUE(visibleText(view, RecordingView::kMissingFileText));
    EXPECT_EQ(view.playback()->player(), nullptr) << "the vanished file's player is released";
    saveSnapshot(view, QStringLiteral("recording-missing"));

    // A stored name that did not resolve (outside the folder, or never written) is missing too.
    view.setRecord(recordNamed(QStringLiteral("../../etc/passwd")), false, std::nullopt);
    EXPECT_EQ(view.state(), RecordingView::State::MissingFile);
}

TEST(RecordingView, PlayerLoadsARealRecording)
{
    QTemporaryDir folder;
    const QString wav = folder.filePath(QStringLiteral("Appel-2.wav"));
    writeToneWav(wav);
    RecordingView view;
    view.setRecord(recordNamed(QStringLiteral("Appel-2.wav")), false, wav);
    QMediaPlayer* player = view.playback()->player();
    ASSERT_NE(player, nullptr);
    const bool settled = QTest::qWaitFor(
        [&] {
            const auto status = player->mediaStatus();
            return status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::InvalidMedia;
        },
        10000);
    if (!settled || player->mediaStatus() == QMediaPlayer::InvalidMedia ||
        player->error() != QMediaPlayer::NoError)
        GTEST_SKIP() << "this machine's media backend cannot open the WAV: "
                     << player->errorString().toStdString();
    EXPECT_NEAR(double(player->duration()), 1000.0, 50.0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.controls()->positionSlider()->maximum() > 0; }, 2000));
    EXPECT_NEAR(double(view.controls()->positionSlider()->maximum()), 1000.0, 50.0)
        << "the scrubber spans the recording";
    EXPECT_EQ(view.controls()->timeText(), QStringLiteral("0:00 / 0:01"));
    EXPECT_TRUE(view.controls()->isEnabled());

    // Scrubbing moves the player, without needing a sound device to play.
    QSlider* slider = view.controls()->positionSlider();
    slider->setPageStep(500);
    slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_TRUE(QTest::qWaitFor([&] { return player->position() >= 400; }, 3000))
        << "the player stayed at " << player->position() << " ms after a scrub to 500 ms";

    view.setRecord(recordNamed(QString()), false, std::nullopt);
    EXPECT_EQ(view.playback()->player(), nullptr) << "another record without audio drops the player";
    EXPECT_FALSE(view.controls()->isEnabled());
}

TEST(RecordingView, ADamagedRecordingSaysSoInsteadOfPlaying)
{
    QTemporaryDir folder;
    // The header overwritten, as a failing disk or a copy cut short leaves it: caught before any player.
    const QString overwritten = folder.filePath(QStringLiteral("Appel-3.wav"));
    writeToneWav(overwritten);
    {
        QFile file(overwritten);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write(QByteArray(44, '\x7f'));
    }
    RecordingView view;
    view.resize(560, view.sizeHint().height());
    view.setRecord(recordNamed(QStringLiteral("Appel-3.wav")), false, overwritten);
    EXPECT_EQ(view.state(), RecordingView::State::Unreadable);
    EXPECT_TRUE(visibleText(view, RecordingView::kUnreadableText));
    EXPECT_EQ(view.playback()->player(), nullptr) << "nothing is handed to the media player";
    saveSnapshot(view, QStringLiteral("recording-unreadable"));

    // A header that reads but a content the player cannot decode: its error turns the panel the same way.
    const QString good = folder.filePath(QStringLiteral("Appel-4.wav"));
    writeToneWav(good);
    view.setRecord(recordNamed(QStringLiteral("Appel-4.wav")), false, good);
    ASSERT_EQ(view.state(), RecordingView::State::Player);
    ASSERT_NE(view.playback()->player(), nullptr);
    emit view.playback()->player()->errorOccurred(QMediaPlayer::FormatError,
                                                  QStringLiteral("décodage impossible"));
    EXPECT_EQ(view.state(), RecordingView::State::Unreadable);
    EXPECT_TRUE(visibleText(view, RecordingView::kUnreadableText));
    EXPECT_EQ(view.playback()->player(), nullptr) << "the failed player is let go";
}

TEST(AudioPlayerControls, ClockText)
{
    EXPECT_EQ(AudioPlayerControls::clockText(0), QStringLiteral("0:00"));
    EXPECT_EQ(AudioPlayerControls::clockText(61999), QStringLiteral("1:01"));
    EXPECT_EQ(AudioPlayerControls::clockText(20 * 60 * 1000), QStringLiteral("20:00"));
    EXPECT_EQ(AudioPlayerControls::clockText(-5), QStringLiteral("0:00"));
    AudioPlayerControls detached;
    EXPECT_FALSE(detached.isEnabled()) << "controls without a player cannot be pressed";
}
