#include "tools/realtime-standin/StandInAgent.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QtEndian>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kBytesPerSecond = 48000.0;
constexpr qint64 kBytesPerMillisecond = 48;
// The transcript of an answer runs about a second ahead of its audio, as the service's does.
constexpr double kTranscriptLeadBytes = 48000.0;

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

QString clientEventID(const QJsonObject& event)
{
    return event.value(QLatin1String("event_id")).toString();
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
        m_itemAudio.clear();
        m_heardBytes = 0;
        m_callerSpeaking = false;
        m_silenceSeconds = 0;
    });
    connect(&m_pace, &QTimer::timeout, this, &StandInAgent::sendNextChunk);
}

QString StandInAgent::businessIn(const QString& instructions)
{
    static const QRegularExpression name(QStringLiteral("\\bpour (.+?)\\.(?:\\s|$)"));
    const QRegularExpressionMatch match = name.match(instructions.section(QLatin1Char('\n'), 0, 0));
    return match.hasMatch() ? match.captured(1).trimmed() : QString();
}

void StandInAgent::eventReceived(const QJsonObject& event)
{
    const QString type = event.value(QLatin1String("type")).toString();
    if (type == QLatin1String("response.create")) {
        responseRequested(event);
    } else if (type == QLatin1String("response.cancel")) {
        if (m_answering)
            finishAnswer(true);
        else
            refuse(QStringLiteral("response_cancel_not_active"),
                   QStringLiteral("Cancellation failed: no active response found."), QString(), event);
    } else if (type == QLatin1String("input_audio_buffer.append")) {
        hear(QByteArray::fromBase64(event.value(QLatin1String("audio")).toString().toLatin1()));
    } else if (type == QLatin1String("conversation.item.truncate")) {
        truncateRequested(event);
    }
}

void StandInAgent::refuse(const QString& code, const QString& message, const QString& param,
                          const QJsonObject& event)
{
    m_server.send({{"type", "error"},
                   {"error", RealtimeStandIn::errorObject(QStringLiteral("invalid_request_error"), code,
                                                          message, param, clientEventID(event))}});
}

void StandInAgent::responseRequested(const QJsonObject& event)
{
    if (m_answering) {
        refuse(QStringLiteral("conversation_already_has_active_response"),
               QStringLiteral("Conversation already has an active response in progress: %1. Wait until the "
                              "response is finished before creating a new one.")
                   .arg(m_responseID),
               QString(), event);
        return;
    }
    const QJsonObject response = event.value(QLatin1String("response")).toObject();
    const QJsonValue instructions = response.value(QLatin1String("instructions"));
    // A response's instructions replace the session's for that response; they do not add to them.
    startAnswer(instructions.isString() ? instructions.toString()
                                        : m_server.session().value(QLatin1String("instructions")).toString(),
                response.value(QLatin1String("metadata")));
}

QJsonObject StandInAgent::assistantItem(const QString& status) const
{
    return QJsonObject{{"id", m_itemID},   {"object", "realtime.item"}, {"type", "message"},
                       {"status", status}, {"role", "assistant"},       {"content", QJsonArray{}}};
}

void StandInAgent::startAnswer(const QString& instructions, const QJsonValue& metadata)
{
    if (m_script.prompts.isEmpty())
        return;
    m_prompt = m_nextPrompt;
    // The greeting opens the conversation; the other prompts then take turns.
    m_nextPrompt =
        m_prompt + 1 < m_script.prompts.size() ? m_prompt + 1 : qMin(1, int(m_script.prompts.size()) - 1);
    m_offset = 0;
    m_wordsSent = 0;
    m_answering = true;
    ++m_answers;
    m_responseID = QStringLiteral("resp_standin_%1").arg(m_answers);
    m_itemID = QStringLiteral("item_standin_%1").arg(m_answers);
    m_metadata = metadata;
    m_responseInstructions = instructions;
    m_text = m_script.prompts[m_prompt].text;
    const QString business = businessIn(instructions);
    const QString hello = QStringLiteral("Bonjour, ");
    if (m_prompt == 0 && !business.isEmpty() && m_text.startsWith(hello))
        m_text = hello + business + QStringLiteral(", ") + m_text.mid(hello.size());
    m_itemAudio.insert(m_itemID, 0);

    QJsonObject response{{"object", "realtime.response"},
                         {"id", m_responseID},
                         {"status", "in_progress"},
                         {"output", QJsonArray{}}};
    if (!m_metadata.isUndefined())
        response.insert(QStringLiteral("metadata"), m_metadata);
    m_server.send({{"type", "response.created"}, {"response", response}});
    m_server.send({{"type", "response.output_item.added"},
                   {"response_id", m_responseID},
                   {"output_index", 0},
                   {"item", assistantItem(QStringLiteral("in_progress"))}});
    if (m_speed <= 0) {
        while (m_answering)
            sendNextChunk();
        return;
    }
    const QString responseID = m_responseID;
    QTimer::singleShot(int(std::lround(kThinkingSeconds * 1000.0 / m_speed)), this, [this, responseID] {
        if (!m_answering || m_responseID != responseID)
            return; // cancelled while thinking
        m_pace.start(int(std::lround(100.0 / m_speed)));
        sendNextChunk();
    });
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
    m_itemAudio.insert(m_itemID, m_offset);

    const QStringList words = m_text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const double ahead = std::min(1.0, (double(m_offset) + kTranscriptLeadBytes) / double(pcm.size()));
    const qsizetype due = qsizetype(std::ceil(ahead * double(words.size())));
    if (due > m_wordsSent) {
        QString delta = words.mid(m_wordsSent, due - m_wordsSent).join(QLatin1Char(' '));
        if (m_wordsSent > 0)
            delta.prepend(QLatin1Char(' '));
        m_wordsSent = due;
        m_server.send({{"type", "response.output_audio_transcript.delta"},
                       {"response_id", m_responseID},
                       {"item_id", m_itemID},
                       {"output_index", 0},
                       {"content_index", 0},
                       {"delta", delta}});
    }
    m_server.send({{"type", "response.output_audio.delta"},
                   {"response_id", m_responseID},
                   {"item_id", m_itemID},
                   {"output_index", 0},
                   {"content_index", 0},
                   {"delta", QString::fromLatin1(chunk.toBase64())}});
}

void StandInAgent::finishAnswer(bool cancelled)
{
    m_pace.stop();
    m_answering = false;
    const QString status = cancelled ? QStringLiteral("incomplete") : QStringLiteral("completed");
    if (!cancelled) {
        m_server.send({{"type", "response.output_audio.done"},
                       {"response_id", m_responseID},
                       {"item_id", m_itemID},
                       {"output_index", 0},
                       {"content_index", 0}});
        m_server.send({{"type", "response.output_audio_transcript.done"},
                       {"response_id", m_responseID},
                       {"item_id", m_itemID},
                       {"output_index", 0},
                       {"content_index", 0},
                       {"transcript", m_text}});
    }
    m_server.send({{"type", "response.output_item.done"},
                   {"response_id", m_responseID},
                   {"output_index", 0},
                   {"item", assistantItem(status)}});
    QJsonObject response{{"object", "realtime.response"},
                         {"id", m_responseID},
                         {"status", cancelled ? "cancelled" : "completed"},
                         {"status_details", cancelled ? QJsonValue(QJsonObject{{"type", "cancelled"},
                                                                               {"reason", "turn_detected"}})
                                                      : QJsonValue()},
                         {"output", QJsonArray{assistantItem(status)}},
                         {"usage", usage(double(m_offset) / kBytesPerSecond)}};
    if (!m_metadata.isUndefined())
        response.insert(QStringLiteral("metadata"), m_metadata);
    m_server.send({{"type", "response.done"}, {"response", response}});
    m_server.send({{"type", "rate_limits.updated"},
                   {"rate_limits", QJsonArray{QJsonObject{{"name", "requests"},
                                                          {"limit", 5000},
                                                          {"remaining", 5000 - m_answers},
                                                          {"reset_seconds", 0.012}},
                                              QJsonObject{{"name", "tokens"},
                                                          {"limit", 400000},
                                                          {"remaining", 400000 - 500 * m_answers},
                                                          {"reset_seconds", 0.075}}}}});
}

QJsonObject StandInAgent::usage(double answerSeconds) const
{
    // Roughly what the service bills: a context that grows with the conversation, ten audio tokens a
    // second heard, twenty a second spoken.
    const int input = 350 + 120 * m_answers + int(std::lround(double(m_heardBytes) / kBytesPerSecond * 10));
    const int output = 30 + int(std::lround(answerSeconds * 20));
    return QJsonObject{{"total_tokens", input + output}, {"input_tokens", input}, {"output_tokens", output}};
}

void StandInAgent::hear(const QByteArray& pcm)
{
    const qint64 chunkStart = m_heardBytes;
    m_heardBytes += pcm.size();
    const double seconds = double(pcm.size()) / kBytesPerSecond;
    if (rmsOf(pcm) >= kSpeechRMS) {
        m_silenceSeconds = 0;
        if (!m_callerSpeaking) {
            m_callerSpeaking = true;
            m_callerItem = QStringLiteral("item_standin_caller_%1").arg(++m_callerItems);
            // Positions count the audio received since the session began, the detector's padding included.
            m_server.send({{"type", "input_audio_buffer.speech_started"},
                           {"audio_start_ms",
                            std::max<qint64>(0, chunkStart / kBytesPerMillisecond - kPrefixPaddingMs)},
                           {"item_id", m_callerItem}});
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
    // The end of the turn includes the silence that ended it, as the service reports it.
    m_server.send({{"type", "input_audio_buffer.speech_stopped"},
                   {"audio_end_ms", m_heardBytes / kBytesPerMillisecond},
                   {"item_id", m_callerItem}});
    if (!m_script.callerLines.isEmpty()) {
        const QString line = m_script.callerLines[m_nextCallerLine];
        m_nextCallerLine = (m_nextCallerLine + 1) % int(m_script.callerLines.size());
        m_server.send({{"type", "conversation.item.input_audio_transcription.completed"},
                       {"item_id", m_callerItem},
                       {"content_index", 0},
                       {"transcript", line}});
    }
    if (!m_answering)
        startAnswer(m_server.session().value(QLatin1String("instructions")).toString(),
                    QJsonValue::Undefined);
}

void StandInAgent::truncateRequested(const QJsonObject& event)
{
    const QString item = event.value(QLatin1String("item_id")).toString();
    const QJsonValue contentIndex = event.value(QLatin1String("content_index"));
    const QJsonValue end = event.value(QLatin1String("audio_end_ms"));
    const auto sent = m_itemAudio.constFind(item);
    if (sent == m_itemAudio.constEnd()) {
        refuse(QStringLiteral("invalid_value"), QStringLiteral("Item with item_id '%1' not found.").arg(item),
               QStringLiteral("item_id"), event);
        return;
    }
    if (!contentIndex.isDouble() || contentIndex.toDouble() != 0) {
        refuse(QStringLiteral("invalid_value"), QStringLiteral("Invalid content_index."),
               QStringLiteral("content_index"), event);
        return;
    }
    const qint64 sentMs = *sent / kBytesPerMillisecond;
    if (!end.isDouble() || end.toDouble() < 0 || end.toDouble() != std::floor(end.toDouble()) ||
        qint64(end.toDouble()) > sentMs) {
        refuse(QStringLiteral("invalid_value"),
               QStringLiteral("Audio content of %1ms is already shorter than %2ms")
                   .arg(sentMs)
                   .arg(end.toDouble()),
               QStringLiteral("audio_end_ms"), event);
        return;
    }
    const qint64 endMs = qint64(end.toDouble());
    m_itemAudio.insert(item, endMs * kBytesPerMillisecond);
    m_server.send({{"type", "conversation.item.truncated"},
                   {"item_id", item},
                   {"content_index", 0},
                   {"audio_end_ms", endMs}});
}
