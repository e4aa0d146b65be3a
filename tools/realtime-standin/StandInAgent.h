#pragma once

#include "tools/realtime-standin/RealtimeStandIn.h"
#include "tools/realtime-standin/StandInScript.h"

#include <QHash>
#include <QObject>
#include <QTimer>

// The AI of the demo: drives a RealtimeStandIn like the real service, with recorded prompts, and as
// strictly: it refuses a "response.create" while a response is active, a response's instructions
// replace the session's for that response (a greeting that is not told the business greets
// generically), it hears the caller through a simple energy detector (speech_started / speech_stopped
// with their positions in the audio it received), cancels an answer the caller speaks over, answers
// each of the caller's turns after a short thought, accepts "conversation.item.truncate" only for an
// assistant item it made and within the audio it sent, and reports rate limits after each response.
//
// An out-of-band text response (the after-call draft) is answered from the script's follow-up facts of
// the caller lines it reported in this conversation, with the service's events and its rules: one
// response at a time, checked parameters (conversation, output_modalities, max_output_tokens, metadata),
// the output cut at max_output_tokens, metadata echoed, cancellation by response_id only. On demand it
// answers badly instead (see DraftFault).
class StandInAgent : public QObject {
    Q_OBJECT
public:
    StandInAgent(RealtimeStandIn& server, StandInScript script, QObject* parent = nullptr);

    // What it does with the after-call draft requests.
    enum class DraftFault {
        None,      // answers from the script
        Silent,    // starts the response and never ends it
        Malformed, // completes it with text that is not JSON
        Oversized, // completes it with a draft whose request runs to 600 characters
        Late,      // answers kLateDraftSeconds after the request, whatever the speed
    };
    void setDraftFault(DraftFault fault) { m_draftFault = fault; }
    int draftsStarted() const { return m_drafts; }
    // "none", "silent", "malformed", "oversized", "late".
    static std::optional<DraftFault> draftFaultNamed(const QString& name);
    static constexpr double kLateDraftSeconds = 10.0;

    // Audio deltas of an answer go out every 100 ms divided by `speed`, after a thought of
    // kThinkingSeconds divided by `speed`; 0 sends an answer at once.
    void setSpeed(double speed) { m_speed = speed; }
    int answersStarted() const { return m_answers; }
    // The instructions the latest response was made with.
    QString lastResponseInstructions() const { return m_responseInstructions; }

    static constexpr int kChunkBytes = 4800; // 100 ms at 24 kHz mono PCM16
    // RMS above which a chunk counts as speech, in sample units (about -30 dBFS).
    static constexpr double kSpeechRMS = 1000.0;
    static constexpr double kEndOfTurnSilenceSeconds = 0.65;
    static constexpr int kPrefixPaddingMs = 300;
    // How long the service takes from the end of a turn to the first audio of its answer.
    static constexpr double kThinkingSeconds = 0.6;

    // The business an AI would greet in the name of, read from its instructions ("… pour <name>.");
    // empty when they do not name one.
    static QString businessIn(const QString& instructions);

private:
    void eventReceived(const QJsonObject& event);
    void responseRequested(const QJsonObject& event);
    void startAnswer(const QString& instructions, const QJsonValue& metadata);
    void sendNextChunk();
    void finishAnswer(bool cancelled, const QString& reason = QStringLiteral("turn_detected"));
    bool acceptsResponse(const QJsonObject& response, const QJsonObject& event);
    void startDraft(const QJsonObject& request);
    void sendDraft();
    void finishDraft(const QString& text, const QString& status, const QJsonValue& details);
    QJsonObject draftResponse(const QString& status) const;
    void hear(const QByteArray& pcm);
    void truncateRequested(const QJsonObject& event);
    void refuse(const QString& code, const QString& message, const QString& param, const QJsonObject& event);
    QJsonObject usage(double answerSeconds) const;
    QJsonObject assistantItem(const QString& status) const;

    RealtimeStandIn& m_server;
    StandInScript m_script;
    double m_speed = 1.0;
    QTimer m_pace;

    int m_answers = 0;
    int m_nextPrompt = 0;
    int m_nextCallerLine = 0;
    bool m_answering = false;
    int m_prompt = 0;
    qsizetype m_offset = 0;
    QString m_responseID;
    QString m_itemID;
    QString m_text;
    qsizetype m_wordsSent = 0;
    QJsonValue m_metadata;
    QString m_responseInstructions;
    // Assistant items of this conversation and the bytes of audio sent of each.
    QHash<QString, qsizetype> m_itemAudio;

    DraftFault m_draftFault = DraftFault::None;
    int m_drafts = 0;
    bool m_drafting = false;
    QString m_draftID;
    QString m_draftItem;
    QJsonObject m_draftRequest; // the request's response object
    QList<int> m_heardLines;    // caller lines reported in this conversation

    qint64 m_heardBytes = 0;
    bool m_callerSpeaking = false;
    double m_silenceSeconds = 0;
    QString m_callerItem;
    int m_callerItems = 0;
};
