#include "tools/realtime-standin/StandInAgent.h"

#include <QtEndian>
#include <cmath>

namespace {

constexpr double kBytesPerSecond = 48000.0;

double rmsOf(const QByteArray& pcm)
{
    const qsizetype samples = pcm.size() / 2;
    if (samples == 0)
        return 0;
    double sum = 0;
    for (qsizetype i = 0; i < samples; ++i) {
        const double value = qFromLittleEndian<qint16>(pcm.constData() + 2 * i);
        sum += value * value;
    }
    return std::sqrt(sum / double(samples));
}

} // namespace

StandInAgent::StandInAgent(RealtimeStandIn& server, StandInScript script, QObject* parent)
    : QObject(parent), m_server(server), m_script(std::move(script))
{
    m_server.setConfirmsSessions(true);
    connect(&m_server, &RealtimeStandIn::eventReceived, this, &StandInAgent::eventReceived);
    // A new connection is a new conversation: the script starts over.
    connect(&m_server, &RealtimeStandIn::clientConnected, this, [this] {
        m_pace.stop();
        m_answering = false;
        m_nextPrompt = 0;
        m_nextCallerLine = 0;
        m_callerSpeaking = false;
        m_silenceSeconds = 0;
        m_heardSeconds = 0;
    });
    connect(&m_pace, &QTimer::timeout, this, &StandInAgent::sendNextChunk);
}

void StandInAgent::eventReceived(const QJsonObject& event)
{
    const QString type = event.value(QLatin1String("type")).toString();
    if (type == QLatin1String("response.create")) {
        startAnswer();
    } else if (type == QLatin1String("input_audio_buffer.append")) {
        hear(QByteArray::fromBase64(event.value(QLatin1String("audio")).toString().toLatin1()));
    }
}

void StandInAgent::startAnswer()
{
    if (m_script.prompts.isEmpty())
        return;
    if (m_answering)
        finishAnswer(true);
    m_prompt = m_nextPrompt;
    // The greeting opens the conversation; the other prompts then take turns.
    m_nextPrompt =
        m_prompt + 1 < m_script.prompts.size() ? m_prompt + 1 : qMin(1, int(m_script.prompts.size()) - 1);
    m_offset = 0;
    m_answering = true;
    m_responseID = QStringLiteral("resp_standin_%1").arg(++m_answers);
    m_server.send({{"type", "response.created"},
                   {"response", QJsonObject{{"id", m_responseID}, {"status", "in_progress"}}}});
    if (m_speed <= 0) {
        while (m_answering)
            sendNextChunk();
        return;
    }
    m_pace.start(int(std::lround(100.0 / m_speed)));
    sendNextChunk();
}

void StandInAgent::sendNextChunk()
{
    if (!m_answering) {
        m_pace.stop();
        return;
    }
    const QByteArray& pcm = m_script.prompts[m_prompt].pcm;
    if (m_offset >= pcm.size()) {
        finishAnswer(false);
        return;
    }
    const QByteArray chunk = pcm.mid(m_offset, kChunkBytes);
    m_offset += chunk.size();
    m_server.send({{"type", "response.output_audio.delta"},
                   {"response_id", m_responseID},
                   {"delta", QString::fromLatin1(chunk.toBase64())}});
}

void StandInAgent::finishAnswer(bool cancelled)
{
    m_pace.stop();
    m_answering = false;
    const StandInScript::Prompt& prompt = m_script.prompts[m_prompt];
    if (!cancelled) {
        m_server.send({{"type", "response.output_audio.done"}, {"response_id", m_responseID}});
        m_server.send({{"type", "response.output_audio_transcript.done"},
                       {"response_id", m_responseID},
                       {"transcript", prompt.text}});
    }
    m_server.send({{"type", "response.done"},
                   {"response", QJsonObject{{"id", m_responseID},
                                            {"status", cancelled ? "cancelled" : "completed"},
                                            {"usage", usage(double(m_offset) / kBytesPerSecond)}}}});
}

QJsonObject StandInAgent::usage(double answerSeconds) const
{
    // Roughly what the service bills: a context that grows with the conversation, ten audio tokens a
    // second heard, twenty a second spoken.
    const int input = 350 + 120 * m_answers + int(std::lround(m_heardSeconds * 10));
    const int output = 30 + int(std::lround(answerSeconds * 20));
    return QJsonObject{{"total_tokens", input + output}, {"input_tokens", input}, {"output_tokens", output}};
}

void StandInAgent::hear(const QByteArray& pcm)
{
    const double seconds = double(pcm.size()) / kBytesPerSecond;
    m_heardSeconds += seconds;
    if (rmsOf(pcm) >= kSpeechRMS) {
        m_silenceSeconds = 0;
        if (!m_callerSpeaking) {
            m_callerSpeaking = true;
            m_server.send({{"type", "input_audio_buffer.speech_started"}});
            if (m_answering)
                finishAnswer(true);
        }
        return;
    }
    if (!m_callerSpeaking)
        return;
    m_silenceSeconds += seconds;
    if (m_silenceSeconds < kEndOfTurnSilenceSeconds)
        return;
    m_callerSpeaking = false;
    m_silenceSeconds = 0;
    m_server.send({{"type", "input_audio_buffer.speech_stopped"}});
    if (!m_script.callerLines.isEmpty()) {
        const QString line = m_script.callerLines[m_nextCallerLine];
        m_nextCallerLine = (m_nextCallerLine + 1) % int(m_script.callerLines.size());
        m_server.send({{"type", "conversation.item.input_audio_transcription.completed"},
                       {"content_index", 0},
                       {"transcript", line}});
    }
    startAnswer();
}
