#pragma once

#include "tools/realtime-standin/RealtimeStandIn.h"
#include "tools/realtime-standin/StandInScript.h"

#include <QObject>
#include <QTimer>

// The AI of the demo: drives a RealtimeStandIn like the real service would, with recorded prompts.
// It confirms every session update, answers "response.create" with the next prompt, hears the caller
// through a simple energy detector, and after each of the caller's turns reports the next scripted
// transcription and answers with the next prompt. Speech during an answer cuts the answer short.
class StandInAgent : public QObject {
    Q_OBJECT
public:
    StandInAgent(RealtimeStandIn& server, StandInScript script, QObject* parent = nullptr);

    // Audio deltas of an answer go out every 100 ms divided by `speed`; 0 sends an answer at once.
    void setSpeed(double speed) { m_speed = speed; }
    int answersStarted() const { return m_answers; }

    static constexpr int kChunkBytes = 4800; // 100 ms at 24 kHz mono PCM16
    // RMS above which a chunk counts as speech, in sample units (about -30 dBFS).
    static constexpr double kSpeechRMS = 1000.0;
    static constexpr double kEndOfTurnSilenceSeconds = 0.65;

private:
    void eventReceived(const QJsonObject& event);
    void startAnswer();
    void sendNextChunk();
    void finishAnswer(bool cancelled);
    void hear(const QByteArray& pcm);
    QJsonObject usage(double answerSeconds) const;

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

    bool m_callerSpeaking = false;
    double m_silenceSeconds = 0;
    double m_heardSeconds = 0;
};
