#pragma once

#include <QDialog>
#include <QStringList>

class AppModel;
class MicrophoneLevelView;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QTimer;
class TranscriptView;

// The conversation test on the Mac's own microphone and speakers. While shown it tells the model the
// window is open (so the Mac audio check keeps the built-in route for the conversation); once hidden it
// gives the Mac its previous default devices back, unless a conversation still runs.
class MacConversationTestWindow : public QDialog {
    Q_OBJECT
public:
    static const QStringList kVoices;

    explicit MacConversationTestWindow(AppModel& model, QWidget* parent = nullptr);
    ~MacConversationTestWindow() override;

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

    MicrophoneLevelView* levelView() const { return m_levels; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Check {
        QLabel* tick = nullptr;
        QLabel* name = nullptr;
    };

    void appeared();
    void disappeared();
    void chooseVoice(int index);
    void refreshLevels();

    AppModel& m_model;
    bool m_open = false;
    Check m_micCheck;
    Check m_keyCheck;
    Check m_aiCheck;
    Check m_audioCheck;
    QPushButton* m_allowMicrophone = nullptr;
    QPushButton* m_recheckAudio = nullptr;
    QFrame* m_noKey = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_route = nullptr;
    QLabel* m_aiStatus = nullptr;
    QComboBox* m_voice = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_finish = nullptr;
    MicrophoneLevelView* m_levels = nullptr;
    TranscriptView* m_transcript = nullptr;
    QLabel* m_recordingNote = nullptr;
    QTimer* m_levelTimer = nullptr;
};
