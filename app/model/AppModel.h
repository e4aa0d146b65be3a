#pragma once
#include "app/audio/SoundDevice.h"
#include "app/audio/VoiceEQSettings.h"
#include "app/common/Scheduler.h"
#include "app/model/ConversationTurns.h"
#include "app/realtime/ConversationUsage.h"
#include "app/records/CallRecord.h"
#include "app/records/HistoryStore.h"
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>

class AppError;
class AudioBridge;
class AudioRouteProbe;
class CallAudioRecorder;
class Clipboard;
class Clock;
class FileRevealer;
class FollowUpDrafter;
class MacAudioRoute;
class MicrophoneProbe;
class NativeAudioSetup;
class PhoneAutomation;
class RealtimeClient;
struct RealtimeError;
class SavePanel;
class UserDefaults;
namespace hal {
class AudioHardware;
}
namespace ax {
class Accessibility;
}
namespace workspace {
class Workspace;
}
namespace permissions {
class MicrophoneAuthorization;
}
namespace notifications {
class UserNotificationCenter;
}

// The services of the machine the model runs on: the real Mac's, or the simulated Mac's in tests and
// the demo. The model keeps references; they must outlive it.
struct Platform {
    hal::AudioHardware& hardware;
    ax::Accessibility& accessibility;
    workspace::Workspace& workspace;
    permissions::MicrophoneAuthorization& microphone;
    Clock& clock;
    Scheduler& scheduler;
    UserDefaults& defaults;
    Clipboard& clipboard;
    SavePanel& savePanel;
    FileRevealer& revealer;
    // The driver's installer package among the application's resources; absent from a partial build.
    std::optional<QString> nativeAudioPackage;
    // Desktop notifications; without them urgent calls are announced in the window only.
    notifications::UserNotificationCenter* notifications = nullptr;
};

// A published field: a getter, and a setter that notifies the views (once per event-loop turn) only
// when the value really changes.
#define ORLEA_PUBLISHED(Type, name, Setter)                                                                  \
public:                                                                                                      \
    const Type& name() const                                                                                 \
    {                                                                                                        \
        return m_##name;                                                                                     \
    }                                                                                                        \
    void Setter(const Type& value)                                                                           \
    {                                                                                                        \
        if (m_##name == value)                                                                               \
            return;                                                                                          \
        m_##name = value;                                                                                    \
        markChanged();                                                                                       \
    }                                                                                                        \
                                                                                                             \
private:                                                                                                     \
    Type m_##name

// The switchboard controller: the state every window shows, the user's settings, the conversation
// sessions and the monitoring loop. One per process, main thread only; every callback and delayed
// task holds it weakly.
class AppModel final : public QObject {
    Q_OBJECT
public:
    struct ProbeLevels {
        double raw = 0;
        double converted = 0;
        bool operator==(const ProbeLevels&) const = default;
    };
    struct Validated {
        SoundDevice input;
        SoundDevice output;
        QString key;
    };

    explicit AppModel(const Platform& platform, QObject* parent = nullptr);
    ~AppModel() override;

    static const QString kSampleCompany;
    static const QString kLegacyCompany;
    static const QString kDefaultInstructions;
    static const QString kDefaultVoiceStyle;
    static constexpr int kMaxLogLines = 50;
    static constexpr int kMaxVoiceStyleCharacters = 4000;
    static constexpr double kTickSeconds = 1.0;
    static constexpr double kRingConfirmSeconds = 3.0;
    static constexpr double kReadyTimeoutSeconds = 15.0;
    static constexpr double kGreetingDelaySeconds = 1.5;
    static constexpr double kCooldownSeconds = 8.0;
    static constexpr int kEndAfterMissingTicks = 5;
    static constexpr double kSessionLimitSeconds = 20 * 60;
    static constexpr double kAnswerConfirmSeconds = 30.0;
    static constexpr double kRelayObservationSeconds = 45.0;
    static constexpr double kRelayFreshnessSeconds = 60.0;
    static constexpr double kAICheckTimeoutSeconds = 15.0;

    // --- published fields
    ORLEA_PUBLISHED(QString, page, setPage) = QStringLiteral("Le standard");
    ORLEA_PUBLISHED(bool, setupWaiting, setSetupWaiting) = false;
    ORLEA_PUBLISHED(bool, showAgentSetup, setShowAgentSetup) = false;
    ORLEA_PUBLISHED(bool, showMacTest, setShowMacTest) = false;
    ORLEA_PUBLISHED(bool, macPreparing, setMacPreparing) = false;
    ORLEA_PUBLISHED(bool, macAudioVerified, setMacAudioVerified) = false;
    ORLEA_PUBLISHED(bool, audioProbeActive, setAudioProbeActive) = false;
    ORLEA_PUBLISHED(ProbeLevels, probeLevels, setProbeLevels){};
    ORLEA_PUBLISHED(bool, showOutgoingTest, setShowOutgoingTest) = false;
    ORLEA_PUBLISHED(QString, outgoingNumber, setOutgoingNumber);
    ORLEA_PUBLISHED(QString, outgoingStatus,
                    setOutgoingStatus) = QStringLiteral("Saisissez le numéro du téléphone de test.");
    ORLEA_PUBLISHED(QString, status, setStatus) = QStringLiteral("Prêt à configurer");
    ORLEA_PUBLISHED(QString, detail,
                    setDetail) = QStringLiteral("Votre ligne iPhone. Votre assistant sur le Mac.");
    ORLEA_PUBLISHED(std::optional<QString>, error, setError);
    ORLEA_PUBLISHED(bool, busy, setBusy) = false;
    ORLEA_PUBLISHED(bool, connected, setConnected) = false;
    ORLEA_PUBLISHED(bool, keyPresent, setKeyPresent) = false;
    ORLEA_PUBLISHED(bool, aiVerified, setAiVerified) = false;
    ORLEA_PUBLISHED(bool, checkingAI, setCheckingAI) = false;
    ORLEA_PUBLISHED(QString, aiStatus, setAiStatus) = QStringLiteral("Connexion IA à vérifier");
    ORLEA_PUBLISHED(QList<SoundDevice>, devices, setDevices);
    ORLEA_PUBLISHED(QString, voiceStyle, setVoiceStyleField);
    ORLEA_PUBLISHED(QString, voiceStyleStatus, setVoiceStyleStatus);
    ORLEA_PUBLISHED(VoiceEQSettings, voiceEQ, setVoiceEQField);
    ORLEA_PUBLISHED(QString, voice, setVoice);
    ORLEA_PUBLISHED(QString, model, setModel);
    ORLEA_PUBLISHED(QString, company, setCompany);
    ORLEA_PUBLISHED(QString, customInstructions, setCustomInstructions);
    ORLEA_PUBLISHED(bool, routingConfirmed, setRoutingConfirmed) = false;
    ORLEA_PUBLISHED(bool, preparingAudio, setPreparingAudio) = false;
    ORLEA_PUBLISHED(bool, configuringAll, setConfiguringAll) = false;
    ORLEA_PUBLISHED(QString, configurationStatus, setConfigurationStatus) =
        QStringLiteral("Lancez la configuration pour vérifier chaque étape.");
    ORLEA_PUBLISHED(std::optional<QUuid>, validatedCallID, setValidatedCallID);
    ORLEA_PUBLISHED(QString, relayStatus, setRelayStatus) = QStringLiteral("Relais iPhone non vérifié");
    ORLEA_PUBLISHED(bool, observingRelay, setObservingRelay) = false;
    ORLEA_PUBLISHED(bool, testingMicrophone, setTestingMicrophone) = false;
    ORLEA_PUBLISHED(double, microphoneLevel, setMicrophoneLevel) = 0;
    ORLEA_PUBLISHED(QString, microphoneStatus, setMicrophoneStatus) =
        QStringLiteral("Microphone physique non testé · facultatif pour le standard");
    ORLEA_PUBLISHED(QString, nativeAudioStatus,
                    setNativeAudioStatus) = QStringLiteral("Module audio à installer");
    ORLEA_PUBLISHED(std::optional<CallRecord>, current, setCurrent);
    ORLEA_PUBLISHED(std::optional<QUuid>, selectedRecord, setSelectedRecord);
    ORLEA_PUBLISHED(bool, accessibility, setAccessibility) = false;
    ORLEA_PUBLISHED(QString, permissionReport, setPermissionReport);
    ORLEA_PUBLISHED(bool, micAllowed, setMicAllowed) = false;
    ORLEA_PUBLISHED(QStringList, log, setLog);
    ORLEA_PUBLISHED(bool, intervening, setIntervening) = false;
    ORLEA_PUBLISHED(QString, audioDiagnostic, setAudioDiagnostic);
    ORLEA_PUBLISHED(ConversationUsage, conversationUsage, setConversationUsage){};
    ORLEA_PUBLISHED(QSet<QUuid>, finalizingRecordings, setFinalizingRecordings);
    ORLEA_PUBLISHED(QString, transcriptCopyStatus, setTranscriptCopyStatus);
    // Answer times of the current (or last) conversation, in seconds; cleared when the next begins.
    ORLEA_PUBLISHED(QList<double>, turnLatencies, setTurnLatencies);
    // The conversation that ended last, whose follow-up draft the live card shows; cleared when the next
    // begins. `followUpDraftStatus` says where its draft is while there is none to show.
    ORLEA_PUBLISHED(std::optional<QUuid>, lastCall, setLastCall);
    ORLEA_PUBLISHED(QString, followUpDraftStatus, setFollowUpDraftStatus);
    // An urgent call that no desktop notification could announce, shown in the window until opened or
    // dismissed.
    ORLEA_PUBLISHED(std::optional<QUuid>, urgentBanner, setUrgentBanner);

public:
    // Fields whose setters do more than notify.
    const QString& inputUID() const { return m_inputUID; }
    const QString& outputUID() const { return m_outputUID; }
    const QString& interventionMicUID() const { return m_interventionMicUID; }
    const QString& interventionOutputUID() const { return m_interventionOutputUID; }
    bool recordingEnabled() const { return m_recordingEnabled; }
    // A different device clears the confirmed phone routing.
    void setInputUID(const QString& uid);
    void setOutputUID(const QString& uid);
    // Closing the setup assistant stops the configuration it runs, audio checks included.
    bool showSetupAssistant() const { return m_showSetupAssistant; }
    void setShowSetupAssistant(bool shown);
    // Closing the Mac test window stops the Mac audio check it started.
    bool macAssistantOpen() const { return m_macAssistantOpen; }
    void setMacAssistantOpen(bool open);
    // The pickers' choices are written at once.
    void setInterventionMicUID(const QString& uid);
    void setInterventionOutputUID(const QString& uid);
    void setRecordingEnabled(bool enabled);
    bool armed() const { return m_armed; }
    // Listening stops: a call seen ringing is forgotten, so listening again waits for a new 3-second
    // confirmation rather than answering that call at once.
    void setArmed(bool armed);

    const QList<CallRecord>& records() const { return m_history.records(); }
    // Moves only when `records` changes, unlike `changed()`, which every live-call line also emits: views
    // of the history compare it before working anything out again.
    quint64 recordsRevision() const { return m_history.revision(); }
    bool historyReadFailed() const { return m_history.historyReadFailed(); }
    const QUuid& generation() const { return m_generation; }
    bool phoneSession() const { return m_phoneSession; }
    std::optional<QDateTime> ringSince() const { return m_ringSince; }
    const QDateTime& cooldownUntil() const { return m_cooldownUntil; }
    std::optional<QDateTime> callStarted() const { return m_callStarted; }

    AudioBridge& audio() { return *m_audio; }
    RealtimeClient& realtime() { return *m_realtime; }
    PhoneAutomation& phone() { return *m_phone; }
    NativeAudioSetup& audioSetup() { return *m_audioSetup; }
    MacAudioRoute& macRoute() { return *m_macRoute; }
    // The probe of the virtual circuits, for diagnostics and tests.
    const AudioRouteProbe& routeProbe() const { return *m_routeProbe; }
    HistoryStore& history() { return m_history; }

    // --- settings, log, failures
    void event(const QString& message);
    void fail(const QString& message);
    void saveSettings();
    void applyVoiceStyle(const QString& text);
    void setVoiceEQ(const VoiceEQSettings& settings);
    // The full AI instructions, built from the current settings on every read.
    QString instructions() const;

    // --- records
    void addDemo();
    void updateNote(const QUuid& id, const QString& note);
    void updateDossier(const QUuid& id, const QString& name);
    void updateFollowUpStatus(const QUuid& id, const QString& status);
    void copyTranscript(const QUuid& id);
    void exportTranscript(const QUuid& id);
    void revealTranscript(const QUuid& id);
    void exportRecording(const QUuid& id);
    // The AI's follow-up suggestion of a call, taken or set aside.
    void applyFollowUpDraft(const QUuid& id);
    void ignoreFollowUpDraft(const QUuid& id);
    // Shows the call in Conversations and brings Orlea to the front (a notification was clicked).
    void openCall(const QUuid& id);
    // The follow-up draft of the last call is still being asked for.
    bool draftingFollowUp() const;
    // Shows the running program's own file in the file manager.
    void revealApplication();

    // --- key
    void saveKey(const QString& typed);
    void deleteKey();

    // --- readiness
    void refresh();
    // The devices and key for a conversation, or an AppError with the message for the user.
    Validated validate(bool phoneMode);

    void allowMicrophone();
    void allowAccessibility();
    void verifyPermissions();
    // Opens the driver's installer package; the user finishes in the system Installer.
    void installNativeAudio();
    // Runs the setup checks in order and stops at the first one the user must act on.
    void configureAll();
    // On each tick: runs `configureAll` again once the macOS action it waits for is done.
    void resumeSetupIfReady();
    // "driver", "microphone" or "accessibility" while `configureAll` waits for the user; empty otherwise.
    const QString& setupWaitTarget() const { return m_setupWaitTarget; }
    // Checks the Mac's own microphone and speakers (at most about 15 s, on the scheduler); `done` gets
    // nothing on success, the failure otherwise, and is not called when the check is cancelled.
    // `keepRoute` leaves them selected after a success.
    void verifyMacAudio(bool keepRoute, std::function<void(const std::optional<AppError>& failure)> done);
    // Five seconds on the built-in microphone; the verdict goes to `microphoneStatus`.
    void testMicrophone();
    // Readies the Mac conversation test: the AI check, then the Mac audio check while its window is open.
    void prepareMacAssistant();
    // Dials `outgoingNumber` through the Phone app after checking it and the setup.
    void dialTestNumber();
    // The newest call of this run in which both the AI and the caller spoke, with its recording when
    // recording is on.
    std::optional<CallRecord> validationCandidate() const;
    void confirmTestCall();
    // Proves both virtual circuits, then selects them in the Phone app.
    void prepareNativeAudio();
    void resetPhoneAudio();
    // Checks the AI connection with a short-lived client; arms the switchboard afterwards on request.
    void verifyAI(bool armAfter);

    static const QStringList kSetupStepTitles;
    // The six steps of the setup, done or not, in the assistant's order.
    QList<bool> setupSteps() const;
    int setupPercent() const;
    // What still prevents arming; empty when ready.
    QStringList readinessIssues() const;
    // The settings a confirmed test call vouches for.
    QString setupSignature() const;
    // The main window's first appearance: opens the assistant once per launch while setup is incomplete.
    void presentStartupAssistant();

    // Some setup step is running.
    bool setupWorking() const
    {
        return m_macPreparing || m_configuringAll || m_preparingAudio || m_checkingAI ||
               m_testingMicrophone || m_observingRelay || m_audioProbeActive;
    }
    // One of the audio checks (route, Mac audio, microphone) holds the devices.
    bool audioCheckRunning() const
    {
        return m_preparingAudio || m_testingMicrophone || m_audioProbeActive || m_macPreparing;
    }
    // Stops every audio check now and puts the Mac's devices back (quitting, sleep, disarming).
    void cancelAudioChecks();

    // --- sessions
    void finish();
    // The conversation on the Mac's own microphone and speakers; needs the Mac audio check passed.
    void startTest();
    // "Micro : … · Sortie : …" for the Mac's current default devices.
    QString macTestRoute() const;
    void toggleIntervention();
    void takeCurrentCall();
    void joinActiveCall();
    void hangUp();
    // Before the process exits: stops the monitoring loop, ends and saves a conversation in progress,
    // then calls `done` once every recording is written or `maxWaitSeconds` have passed. Calls `done` at
    // once when no recording is being written.
    void finishBeforeQuit(double maxWaitSeconds, std::function<void()> done);

    // --- monitoring loop
    void tick();
    void toggleArmed();
    void sleepPause();
    void observeRelay();
    void openPhone();

signals:
    // At most once per event-loop turn, after any published field changed.
    void changed();

private:
    void markChanged();
    void wireRealtime();
    void begin(bool phoneMode, const QString& caller, std::function<void()> action);
    void sessionReady();
    void readyStep(const SoundDevice& input, const SoundDevice& output, bool phoneMode, const QString& caller,
                   const std::function<void()>& action, const QUuid& generation);
    // Throws AppError.
    void restartSessionAudio();
    void postAnswerCheck(const QUuid& generation);
    void readyTimedOut(const QUuid& generation);
    void forward(const QByteArray& pcm, const QUuid& generation);
    void recordingFinished(const QUuid& id, const std::optional<QString>& file,
                           const std::optional<QString>& error);
    void superviseSession();
    // The realtime client's events during a session.
    void realtimeFailed(const RealtimeError& failure);
    void voiceArrived(const QByteArray& pcm, const QString& itemID);
    void transcriptArrived(const QString& speaker, const QString& text, const QString& itemID);
    void callerStartedSpeaking();
    // The Phone app's hang-up after the session of an answered call ended on its own; the line stays
    // open when the manager was holding it.
    void hangUpEndedCall(bool answeredCall, bool managerOnLine);
    void openPrivacyPage(const char* url);
    void runNativeAudioPreparation();
    void nativeAudioFailed(const QString& message);
    // After the Phone app's audio menu was driven: Orlea comes back in front of it.
    void returnToFront();
    void runConfiguration();
    // Polls every 100 ms while `working` holds, then runs `next`; gives up when the model is gone.
    void waitWhile(std::function<bool()> working, std::function<void()> next);
    void configureAfterAICheck();
    void configureAudio();
    void configureAfterAudio();
    void finishConfiguration();
    void macCheckSettled(bool keepRoute);
    void endMacCheck(const std::optional<AppError>& failure, bool keepRoute);
    void cancelConfiguration();
    void cancelMacPreparation();
    void cancelRouteProbe();
    void cancelMacCheck();
    void cancelMicrophoneTest();
    void watchRelay(const QDateTime& now);
    void completeAICheck(const RealtimeClient* probe, const std::optional<QString>& failure, bool armAfter);
    const CallRecord* record(const QUuid& id) const { return m_history.find(id); }
    // The follow-up draft of a finished call, asked in its still-open session.
    bool wantsFollowUpDraft(const CallRecord& record) const;
    void startFollowUpDraft(const CallRecord& record);
    void abandonFollowUpDraft(const QString& reason);
    void followUpDraftEnded(const QUuid& id, const std::optional<QString>& answer, const QString& failure,
                            const std::optional<ConversationUsage>& usage);
    void announceUrgentCall(const QUuid& id);
    void announceInWindow(const QUuid& id, const QString& why);

    Clock& m_clock;
    Scheduler& m_scheduler;
    UserDefaults& m_defaults;
    permissions::MicrophoneAuthorization& m_microphone;
    ax::Accessibility& m_accessibilityService;
    workspace::Workspace& m_workspace;
    hal::AudioHardware& m_hardware;
    Clipboard& m_clipboard;
    SavePanel& m_savePanel;
    FileRevealer& m_revealer;
    bool m_startupAssistantPresented = false;
    bool m_showSetupAssistant = false;
    bool m_macAssistantOpen = false;
    QString m_validatedSetup;
    QString m_setupWaitTarget;
    double m_setupSessionStart = 0;
    std::optional<QString> m_nativeAudioPackage;
    TaskHandle m_configureWait;

    QString m_inputUID;
    QString m_outputUID;
    QString m_interventionMicUID;
    QString m_interventionOutputUID;
    bool m_recordingEnabled = true;
    bool m_armed = false;

    std::unique_ptr<AudioBridge> m_audio;
    std::unique_ptr<RealtimeClient> m_realtime;
    // After m_realtime: it goes first and never outlives the client it drives.
    std::unique_ptr<FollowUpDrafter> m_drafter;
    notifications::UserNotificationCenter* m_notifications = nullptr;
    std::unique_ptr<PhoneAutomation> m_phone;
    std::unique_ptr<NativeAudioSetup> m_audioSetup;
    std::unique_ptr<MacAudioRoute> m_macRoute;
    std::unique_ptr<AudioRouteProbe> m_routeProbe;
    std::unique_ptr<AudioRouteProbe> m_macProbe;
    std::unique_ptr<MicrophoneProbe> m_microphoneProbe;
    // The Mac audio check in progress: replaced at each start and cancel, checked by its steps.
    QUuid m_macCheck;
    TaskHandle m_macSettle;
    std::function<void(const std::optional<AppError>&)> m_macCheckDone;
    HistoryStore m_history;

    bool m_changePending = false;
    TaskHandle m_timer;
    int m_sleepObserver = -1;
    TaskHandle m_timeout;
    QUuid m_generation = QUuid::createUuid();
    std::optional<QDateTime> m_ringSince;
    QDateTime m_cooldownUntil;
    bool m_sawActiveCall = false;
    int m_missingActive = 0;
    std::optional<QDateTime> m_callStarted;
    bool m_phoneSession = false;
    int m_audioRecoveryCount = 0;
    std::optional<SoundDevice> m_sessionInput;
    std::optional<SoundDevice> m_sessionOutput;
    std::function<void()> m_readyAction;
    std::shared_ptr<CallAudioRecorder> m_recorder;
    std::shared_ptr<RealtimeClient> m_connectionProbe;
    TaskHandle m_connectionTimeout;
    std::optional<QDateTime> m_relayDeadline;
    std::optional<QDateTime> m_lastRelayEvidence;
    ConversationTurns m_turns;
    QString m_greetingEventID;
};
