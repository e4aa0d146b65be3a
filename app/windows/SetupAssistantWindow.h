#pragma once

#include "app/windows/SetupStepBadge.h"

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>

class AppModel;
class QBoxLayout;
class MacConversationTestWindow;
class OutgoingCallTestWindow;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;

// What the assistant remembers while it is open; closing it forgets `started`.
struct SetupWindowState {
    bool started = false;
    bool showCallTest = false;
    bool showMacTest = false;
};

// The key being typed in the secure field; never written anywhere until the user saves it.
struct KeyDraft {
    QString key;
};

// The guided setup: six steps read from the model, the current one open with what the user must do,
// the automatic checks run by the model, and the two test sheets it presents over itself.
class SetupAssistantWindow : public QDialog {
    Q_OBJECT
public:
    static const QUrl kCreateKeyUrl;
    static const QUrl kBillingUrl;

    explicit SetupAssistantWindow(AppModel& model, QWidget* parent = nullptr);
    ~SetupAssistantWindow() override;

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

    const SetupWindowState& state() const { return m_state; }
    const KeyDraft& keyDraft() const { return m_keyDraft; }
    // The step shown open, 0…5, or -1 once every step is done.
    int currentStep() const;
    SetupStepBadge::State stepState(int index) const;
    // The sheets presented over the assistant, while they are open.
    OutgoingCallTestWindow* callTestWindow() const { return m_callTest; }
    MacConversationTestWindow* macTestWindow() const { return m_macTest; }

    // Closes the test sheets over the assistant along with it.
    void done(int result) override;

private:
    struct Step {
        QFrame* frame = nullptr;
        SetupStepBadge* badge = nullptr;
        QLabel* title = nullptr;
        QLabel* mark = nullptr;
        QWidget* content = nullptr;
    };

    void buildHeader(QBoxLayout* layout);
    void buildSteps(QBoxLayout* layout);
    QWidget* driverStep();
    QWidget* permissionStep();
    QWidget* keyStep();
    QWidget* phoneAudioStep();
    QWidget* macAudioStep();
    QWidget* testCallStep();

    void start();
    void saveKey();
    void presentCallTest();
    void presentMacTest();
    void showRecordings();
    void finishSetup();
    bool canConfigure() const;

    AppModel& m_model;
    SetupWindowState m_state;
    KeyDraft m_keyDraft;
    QList<Step> m_steps;
    QPointer<OutgoingCallTestWindow> m_callTest;
    QPointer<MacConversationTestWindow> m_macTest;

    QLabel* m_progressText = nullptr;
    QProgressBar* m_progress = nullptr;
    QFrame* m_intro = nullptr;
    QPushButton* m_startButton = nullptr;
    QFrame* m_waiting = nullptr;
    QLabel* m_configurationStatus = nullptr;
    QFrame* m_completion = nullptr;
    QFrame* m_stepList = nullptr;

    QPushButton* m_installButton = nullptr;
    QLabel* m_driverStatus = nullptr;
    QPushButton* m_allowMicrophone = nullptr;
    QPushButton* m_allowAccessibility = nullptr;
    QLabel* m_permissionReport = nullptr;
    QWidget* m_keyEntry = nullptr;
    QWidget* m_keySaved = nullptr;
    QLineEdit* m_keyField = nullptr;
    QPushButton* m_saveKeyButton = nullptr;
    QLabel* m_aiStatus = nullptr;
    QPushButton* m_checkAI = nullptr;
    QLabel* m_phoneAudioStatus = nullptr;
    QPushButton* m_configurePhoneAudio = nullptr;
    QPushButton* m_checkMacAudio = nullptr;
    QLabel* m_candidateWaiting = nullptr;
    QLabel* m_candidateReady = nullptr;
    QPushButton* m_confirmCall = nullptr;
};
