#include "tools/realtime-standin/StandInAgent.h"

#include <QJsonArray>
#include <QJsonDocument>
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

// The service's tokens of a text, about four characters each.
int textTokens(const QString& text)
{
    return int(std::ceil(double(text.size()) / 4.0));
}

// The bound of a response's output: its max_output_tokens, "inf" or absent meaning the model's 4,096.
int outputBound(const QJsonObject& response)
{
    const QJsonValue bound = response.value(QLatin1String("max_output_tokens"));
    return bound.isDouble() ? bound.toInt() : 4096;
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
        m_drafting = false;
        m_heardLines.clear();
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
        // Without an id only the conversation's own response is meant; an out-of-band one is named.
        const QString id = event.value(QLatin1String("response_id")).toString();
        if (m_answering && (id.isEmpty() || id == m_responseID))
            finishAnswer(true, QStringLiteral("client_cancelled"));
        else if (m_drafting && id == m_draftID)
            finishDraft(QString(), QStringLiteral("cancelled"),
                        QJsonObject{{"type", "cancelled"}, {"reason", "client_cancelled"}});
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

std::optional<StandInAgent::DraftFault> StandInAgent::draftFaultNamed(const QString& name)
{
    static const QHash<QString, DraftFault> names{{QStringLiteral("none"), DraftFault::None},
                                                  {QStringLiteral("silent"), DraftFault::Silent},
                                                  {QStringLiteral("malformed"), DraftFault::Malformed},
                                                  {QStringLiteral("oversized"), DraftFault::Oversized},
                                                  {QStringLiteral("late"), DraftFault::Late}};
    const auto found = names.constFind(name);
    if (found == names.constEnd())
        return std::nullopt;
    return *found;
}

// The service's checks of a response's parameters, each refused with its own "invalid_value".
bool StandInAgent::acceptsResponse(const QJsonObject& response, const QJsonObject& event)
{
    auto invalid = [&](const char* param, const QString& message) {
        refuse(QStringLiteral("invalid_value"), message, QStringLiteral("response.") + QLatin1String(param),
               event);
        return false;
    };
    const QJsonValue conversation = response.value(QLatin1String("conversation"));
    if (!conversation.isUndefined() && conversation != QJsonValue("auto") &&
        conversation != QJsonValue("none"))
        return invalid("conversation", QStringLiteral("Invalid value: expected 'auto' or 'none'."));
    const QJsonValue modalities = response.value(QLatin1String("output_modalities"));
    if (!modalities.isUndefined() && modalities != QJsonArray{"audio"} && modalities != QJsonArray{"text"})
        return invalid("output_modalities",
                       QStringLiteral("Invalid modalities: expected ['audio'] or ['text']."));
    const QJsonValue bound = response.value(QLatin1String("max_output_tokens"));
    if (!bound.isUndefined() && bound != QJsonValue("inf") &&
        (!bound.isDouble() || bound.toDouble() != std::floor(bound.toDouble()) || bound.toDouble() < 1 ||
         bound.toDouble() > 4096))
        return invalid("max_output_tokens",
                       QStringLiteral("Invalid value: expected an integer from 1 to 4096, or 'inf'."));
    const QJsonValue metadata = response.value(QLatin1String("metadata"));
    if (!metadata.isUndefined() && !metadata.isNull()) {
        const QJsonObject pairs = metadata.toObject();
        bool valid = metadata.isObject() && pairs.size() <= 16;
        for (auto it = pairs.begin(); valid && it != pairs.end(); ++it)
            valid = it.key().size() <= 64 && it->isString() && it->toString().size() <= 512;
        if (!valid)
            return invalid("metadata",
                           QStringLiteral("Invalid metadata: at most 16 pairs of strings, keys of "
                                          "64 characters and values of 512 at most."));
    }
    return true;
}

void StandInAgent::responseRequested(const QJsonObject& event)
{
    const QJsonObject response = event.value(QLatin1String("response")).toObject();
    if (!acceptsResponse(response, event))
        return;
    if (m_answering || m_drafting) {
        refuse(QStringLiteral("conversation_already_has_active_response"),
               QStringLiteral("Conversation already has an active response in progress: %1. Wait until the "
                              "response is finished before creating a new one.")
                   .arg(m_answering ? m_responseID : m_draftID),
               QString(), event);
        return;
    }
    if (response.value(QLatin1String("output_modalities")) == QJsonArray{"text"}) {
        startDraft(response);
        return;
    }
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

void StandInAgent::finishAnswer(bool cancelled, const QString& reason)
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
    QJsonObject response{
        {"object", "realtime.response"},
        {"id", m_responseID},
        {"status", cancelled ? "cancelled" : "completed"},
        {"status_details",
         cancelled ? QJsonValue(QJsonObject{{"type", "cancelled"}, {"reason", reason}}) : QJsonValue()},
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
        m_heardLines.append(m_nextCallerLine);
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

// --- the after-call draft

QJsonObject StandInAgent::draftResponse(const QString& status) const
{
    QJsonObject response{{"object", "realtime.response"},
                         {"id", m_draftID},
                         {"status", status},
                         {"conversation_id", QJsonValue()},
                         {"output_modalities", QJsonArray{"text"}},
                         {"max_output_tokens", m_draftRequest.contains(QLatin1String("max_output_tokens"))
                                                   ? m_draftRequest.value(QLatin1String("max_output_tokens"))
                                                   : QJsonValue("inf")},
                         {"output", QJsonArray{}}};
    const QJsonValue metadata = m_draftRequest.value(QLatin1String("metadata"));
    if (metadata.isObject())
        response.insert(QStringLiteral("metadata"), metadata);
    return response;
}

void StandInAgent::startDraft(const QJsonObject& request)
{
    ++m_drafts;
    m_drafting = true;
    m_draftID = QStringLiteral("resp_standin_summary_%1").arg(m_drafts);
    m_draftItem = QStringLiteral("item_standin_summary_%1").arg(m_drafts);
    m_draftRequest = request;
    m_server.send({{"type", "response.created"}, {"response", draftResponse(QStringLiteral("in_progress"))}});
    if (m_draftFault == DraftFault::Silent)
        return;
    double delaySeconds = m_speed <= 0 ? 0 : kThinkingSeconds / m_speed;
    if (m_draftFault == DraftFault::Late)
        delaySeconds = kLateDraftSeconds;
    if (delaySeconds <= 0) {
        sendDraft();
        return;
    }
    const QString id = m_draftID;
    QTimer::singleShot(int(std::lround(delaySeconds * 1000.0)), this, [this, id] {
        if (m_drafting && m_draftID == id)
            sendDraft(); // not cancelled, nor left behind with its connection
    });
}

void StandInAgent::sendDraft()
{
    QJsonObject draft = m_script.followUpDraft(m_heardLines);
    if (m_draftFault == DraftFault::Oversized) {
        QString request = draft.value(QLatin1String("request")).toString();
        while (request.size() < 600)
            request += QStringLiteral(" Le locataire précise encore un détail de sa demande.");
        draft.insert(QStringLiteral("request"), request);
    }
    QString text = QString::fromUtf8(QJsonDocument(draft).toJson(QJsonDocument::Compact));
    if (m_draftFault == DraftFault::Malformed)
        text = text.left(text.size() / 2);
    // The service stops writing at the response's bound, and says so.
    const int bound = outputBound(m_draftRequest);
    if (textTokens(text) > bound) {
        finishDraft(text.left(bound * 4), QStringLiteral("incomplete"),
                    QJsonObject{{"type", "incomplete"}, {"reason", "max_output_tokens"}});
        return;
    }
    finishDraft(text, QStringLiteral("completed"), QJsonValue());
}

void StandInAgent::finishDraft(const QString& text, const QString& status, const QJsonValue& details)
{
    m_drafting = false;
    const QJsonObject base{{"response_id", m_draftID}, {"output_index", 0}};
    auto with = [&base](QJsonObject event) {
        for (auto it = base.begin(); it != base.end(); ++it)
            event.insert(it.key(), *it);
        return event;
    };
    const bool wrote = status != QLatin1String("cancelled") || !text.isEmpty();
    const QJsonObject part{{"type", "output_text"}, {"text", text}};
    const QString itemStatus =
        status == QLatin1String("completed") ? QStringLiteral("completed") : QStringLiteral("incomplete");
    const QJsonObject item{{"id", m_draftItem},   {"object", "realtime.item"},
                           {"type", "message"},   {"status", itemStatus},
                           {"role", "assistant"}, {"content", QJsonArray{part}}};
    if (wrote) {
        QJsonObject added = item;
        added.insert(QStringLiteral("status"), QStringLiteral("in_progress"));
        added.insert(QStringLiteral("content"), QJsonArray{});
        m_server.send(with({{"type", "response.output_item.added"}, {"item", added}}));
        m_server.send(with({{"type", "response.content_part.added"},
                            {"item_id", m_draftItem},
                            {"content_index", 0},
                            {"part", QJsonObject{{"type", "output_text"}, {"text", ""}}}}));
        for (qsizetype at = 0; at < text.size(); at += 200)
            m_server.send(with({{"type", "response.output_text.delta"},
                                {"item_id", m_draftItem},
                                {"content_index", 0},
                                {"delta", text.mid(at, 200)}}));
        // Also sent for a response cut short or cancelled, with what was written.
        m_server.send(with({{"type", "response.output_text.done"},
                            {"item_id", m_draftItem},
                            {"content_index", 0},
                            {"text", text}}));
        m_server.send(with({{"type", "response.content_part.done"},
                            {"item_id", m_draftItem},
                            {"content_index", 0},
                            {"part", part}}));
        m_server.send(with({{"type", "response.output_item.done"}, {"item", item}}));
    }
    QJsonObject response = draftResponse(status);
    response.insert(QStringLiteral("status_details"), details);
    response.insert(QStringLiteral("output"), wrote ? QJsonArray{item} : QJsonArray{});
    // The whole conversation was read, with the draft's own instructions.
    const int input = 350 + 120 * m_answers + int(std::lround(double(m_heardBytes) / kBytesPerSecond * 10)) +
                      textTokens(m_draftRequest.value(QLatin1String("instructions")).toString());
    const int output = textTokens(text);
    response.insert(
        QStringLiteral("usage"),
        QJsonObject{{"total_tokens", input + output}, {"input_tokens", input}, {"output_tokens", output}});
    m_server.send({{"type", "response.done"}, {"response", response}});
}
