#pragma once

#include "app/audio/SoundDevice.h"

#include <QFrame>
#include <QList>
#include <QWidget>

class AppModel;
class LevelMeter;
class MicrophoneLevelView;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

// Every setting and check of the setup by hand: "Options et dépannage". It holds no state of its own
// beyond the key being typed and the model name being edited.
class AdvancedConnectionsPanel : public QWidget {
    Q_OBJECT
public:
    static const QString kKeyStoredPlaceholder;
    static const QString kKeyMissingPlaceholder;
    static const QString kKeyPageUrl;
    static const QString kBillingPageUrl;

    explicit AdvancedConnectionsPanel(AppModel& model, QWidget* parent = nullptr);

    // Re-reads what it shows from the model (connected to the model's coalesced `changed()`).
    void refresh();

    // The card of verification ticks, for the page's "Voir les vérifications".
    QWidget* verificationList() const { return m_verificationCard; }

    // Which devices each picker offers, in the system's order.
    static QList<SoundDevice> phoneInputChoices(const QList<SoundDevice>& devices);
    static QList<SoundDevice> phoneOutputChoices(const QList<SoundDevice>& devices);
    // The Mac's own devices only: the two loopback devices carry the call, never the manager's voice.
    static QList<SoundDevice> interventionMicChoices(const QList<SoundDevice>& devices);
    static QList<SoundDevice> interventionOutputChoices(const QList<SoundDevice>& devices);

private:
    struct CheckRow {
        QLabel* symbol = nullptr;
        QLabel* text = nullptr;
    };

    QFrame* buildConversationSection();
    QFrame* buildAudioSection();
    QFrame* buildPermissionSection();
    QFrame* buildInterventionSection();
    QFrame* buildVerificationSection();
    QFrame* buildPhoneCheckSection();
    QComboBox* makePicker(const QString& placeholder, const QString& objectName);
    CheckRow addCheckRow(QBoxLayout* layout, const QString& text);
    void saveTypedKey();
    void commitModelName();
    void openLink(const QString& url);

    AppModel& m_model;

    QLineEdit* m_keyField = nullptr;
    QPushButton* m_saveKey = nullptr;
    QPushButton* m_deleteKey = nullptr;
    QPushButton* m_verifyAI = nullptr;
    QLabel* m_aiStatusSymbol = nullptr;
    QLabel* m_aiStatus = nullptr;
    QLineEdit* m_modelField = nullptr;
    QCheckBox* m_recording = nullptr;

    QPushButton* m_install = nullptr;
    QPushButton* m_prepare = nullptr;
    QPushButton* m_refresh = nullptr;
    QLabel* m_nativeAudioStatus = nullptr;
    QComboBox* m_inputPicker = nullptr;
    QComboBox* m_outputPicker = nullptr;
    QPushButton* m_resetPhone = nullptr;
    QToolButton* m_advancedDisclosure = nullptr;
    QWidget* m_advancedContent = nullptr;

    CheckRow m_micPermission;
    CheckRow m_accessibilityPermission;
    QPushButton* m_allowMicrophone = nullptr;
    QPushButton* m_allowAccessibility = nullptr;
    QLabel* m_permissionReport = nullptr;

    QComboBox* m_interventionMic = nullptr;
    QComboBox* m_interventionOutput = nullptr;

    QFrame* m_verificationCard = nullptr;
    QList<CheckRow> m_checks;
    QPushButton* m_configureAll = nullptr;
    QLabel* m_configurationStatus = nullptr;
    MicrophoneLevelView* m_probeLevels = nullptr;

    QPushButton* m_observeRelay = nullptr;
    QLabel* m_relayStatus = nullptr;
    QPushButton* m_testMicrophone = nullptr;
    QLabel* m_microphoneStatus = nullptr;
    LevelMeter* m_microphoneLevel = nullptr;
};
