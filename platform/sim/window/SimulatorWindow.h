#pragma once

#include <QStringList>
#include <QWidget>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace sim {

class Mac;
class VoiceChooser;

// The "Simulateur" window: a person plays the simulated Mac's side — the far end of calls, the user
// answering System Settings and the Installer, the Mac going to sleep — through the Mac's control API.
// It belongs to the simulated Mac, not to the product. Views re-read the Mac on its coalesced `changed()`.
class SimulatorWindow final : public QWidget {
    Q_OBJECT
public:
    explicit SimulatorWindow(Mac& mac, QWidget* parent = nullptr);

    // Re-reads everything shown from the Mac (the coalesced refresh calls it too).
    void refresh();

    // The named parts, for tests and the screenshot tool.
    VoiceChooser* callerVoice() const { return m_callerVoice; }
    VoiceChooser* macMicrophoneSound() const { return m_macSound; }
    QComboBox* macMicrophoneDevice() const { return m_macMicrophoneDevice; }
    QComboBox* macSpeakersDevice() const { return m_macSpeakersDevice; }

private:
    QGroupBox* buildPhone();
    QGroupBox* buildSettings();
    QGroupBox* buildInstaller();
    QGroupBox* buildMacBox();
    QGroupBox* buildJournal();
    void scheduleRefresh();
    void ring();
    void answerAsRemote();
    void applyMacSound();
    void refreshPhone();
    void refreshSettings();
    void refreshInstaller();
    void refreshJournal();
    void refreshComputerSound();
    void chooseBacking(bool input);
    void chooseCaller();

    Mac& m_mac;
    bool m_refreshQueued = false;

    QLineEdit* m_callerEdit = nullptr;
    VoiceChooser* m_callerVoice = nullptr;
    QPushButton* m_ringButton = nullptr;
    QPushButton* m_hangUpButton = nullptr;
    QPushButton* m_remoteAnswerButton = nullptr;
    QLabel* m_callState = nullptr;
    QLabel* m_phoneDevices = nullptr;
    QLabel* m_phoneError = nullptr;

    QLabel* m_microphoneState = nullptr;
    QPushButton* m_grantMicrophone = nullptr;
    QPushButton* m_withdrawMicrophone = nullptr;
    QLabel* m_microphoneDialog = nullptr;
    QPushButton* m_dialogAllow = nullptr;
    QPushButton* m_dialogRefuse = nullptr;
    QLabel* m_accessibilityState = nullptr;
    QPushButton* m_grantAccessibility = nullptr;
    QPushButton* m_withdrawAccessibility = nullptr;
    QLabel* m_privacyPage = nullptr;
    QComboBox* m_answerPolicy = nullptr;

    QLabel* m_installerState = nullptr;
    QPushButton* m_installButton = nullptr;
    QPushButton* m_cancelInstallButton = nullptr;
    QLabel* m_driverState = nullptr;

    QPushButton* m_sleepButton = nullptr;
    VoiceChooser* m_macSound = nullptr;
    QLabel* m_macSoundError = nullptr;
    QComboBox* m_macMicrophoneDevice = nullptr;
    QComboBox* m_macSpeakersDevice = nullptr;
    QLabel* m_computerSoundState = nullptr;
    QLabel* m_computerSoundNotice = nullptr;
    QComboBox* m_callerEar = nullptr;

    QListWidget* m_journal = nullptr;
    QStringList m_shownEvents;
};

} // namespace sim
