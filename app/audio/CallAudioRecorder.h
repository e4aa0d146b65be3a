#pragma once

#include "app/audio/SerialQueue.h"
#include "app/common/AppError.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <variant>

class Clock;

// Records one conversation as a single mono file. The bridge feeds two tracks of wire PCM (16-bit
// little-endian, mono, 24 kHz) while the call runs — track 0 the caller side, track 1 what is sent to
// the phone — each placed by its arrival time in a temporary CAF file of its own. finish() mixes both
// at half level into the final 16-bit WAV and deletes the temporary files.
//
// All file work runs in order on the recorder's serial queue "fr.velkaro.recording"; append() and
// finish() return at once and may be called from any thread. The queue keeps the recording alive
// after the object is released, until the queued work is done.
class CallAudioRecorder {
public:
    static constexpr double kSampleRateHz = 24000.0;
    static constexpr int kBlockFrames = 4096;
    static constexpr char kQueueLabel[] = "fr.velkaro.recording";

    // The final file's path, or the error that stopped the recording.
    using Result = std::variant<QString, AppError>;
    // Runs on the recorder's queue; the caller hops to its own thread.
    using Completion = std::function<void(const Result& result)>;

    // Creates the folder of `path` (0700) and both temporary tracks (0600). Throws AppError. Arrival
    // times come from `clock`, which must outlive the recorder's queued work.
    explicit CallAudioRecorder(const QString& path);
    CallAudioRecorder(const QString& path, const Clock& clock);
    ~CallAudioRecorder();
    CallAudioRecorder(const CallAudioRecorder&) = delete;
    CallAudioRecorder& operator=(const CallAudioRecorder&) = delete;

    const QString& url() const;
    // `url` + ".input.caf" (track 0) and `url` + ".voice.caf" (track 1).
    std::array<QString, 2> temporaryPaths() const;

    // Wire PCM for track 0 or 1, placed so that it ends at the moment of the call.
    void append(const QByteArray& pcm, int track);
    // Mixes and closes. Only the first call does anything, and only it calls its completion.
    void finish(Completion completion);

    // Blocks until the work queued so far is done. For tests and orderly shutdowns.
    void waitUntilIdle();

private:
    struct State;
    const Clock& m_clock;
    double m_originSeconds;
    std::shared_ptr<State> m_state;
    std::unique_ptr<SerialQueue> m_queue;
};
