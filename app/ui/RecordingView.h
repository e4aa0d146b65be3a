#pragma once

#include "app/records/CallRecord.h"

#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QUuid>
#include <QWidget>
#include <functional>
#include <optional>

class AudioPlayerControls;
class RecordingPlayback;

// The panel under a conversation's transcript: plays the call's recording and offers its export, or
// says why there is nothing to play.
class RecordingView : public QWidget {
    Q_OBJECT
public:
    enum class State { Finalizing, NoRecording, MissingFile, Unreadable, Player };

    static const QString kFinalizingText;
    static const QString kNoRecordingText;
    static const QString kErrorPrefix;
    static const QString kMissingFileText;
    static const QString kUnreadableText;
    static const QString kHeading;
    static const QString kExportTitle;

    explicit RecordingView(QWidget* parent = nullptr);

    // `finalizing`: the recording is still being written. `recordingPath`: the resolved recording file,
    // when the record names one that is where it belongs.
    void setRecord(const CallRecord& record, bool finalizing, const std::optional<QString>& recordingPath);
    // Called with the shown record by "Exporter l’audio".
    void setExportAction(std::function<void(const CallRecord&)> action) { m_export = std::move(action); }

    State state() const { return m_state; }
    // The visible explanation of the non-player states (empty in the player state).
    QString messageText() const;
    RecordingPlayback* playback() const { return m_playback; }
    AudioPlayerControls* controls() const { return m_controls; }
    QPushButton* exportButton() const { return m_exportButton; }

    static State stateFor(const CallRecord& record, bool finalizing,
                          const std::optional<QString>& recordingPath);

private:
    // The player could not decode what the header promised.
    void playerFailed();
    void showPage(QWidget* page);
    QWidget* buildFinalizingPage();
    QWidget* buildMessagePage();
    QWidget* buildPlayerPage();

    CallRecord m_record;
    State m_state = State::NoRecording;
    std::function<void(const CallRecord&)> m_export;
    RecordingPlayback* m_playback;
    QStackedWidget* m_pages;
    QLabel* m_error = nullptr;
    QLabel* m_message = nullptr;
    AudioPlayerControls* m_controls = nullptr;
    QPushButton* m_exportButton = nullptr;
    QWidget* m_finalizingPage;
    QWidget* m_messagePage;
    QWidget* m_playerPage;
};
