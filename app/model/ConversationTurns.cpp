#include "app/model/ConversationTurns.h"

#include <algorithm>

namespace {

// 16-bit mono at 24 kHz.
constexpr int64_t kBytesPerMillisecond = 48;
constexpr double kBytesPerSecond = 48000.0;
// Turn ends arrive within a second or two of the audio they name; a minute of history is plenty.
constexpr int64_t kKeptSentBytes = 60 * 48000;

} // namespace

void ConversationTurns::reset()
{
    *this = ConversationTurns();
}

void ConversationTurns::audioSent(int64_t sentEndBytes, double nowSeconds)
{
    m_sent.push_back({sentEndBytes, nowSeconds});
    while (m_sent.size() > 1 && m_sent.front().endBytes < sentEndBytes - kKeptSentBytes) {
        m_sentOrigin = m_sent.front().endBytes;
        m_sent.pop_front();
    }
}

void ConversationTurns::turnEnded(int64_t audioEndMs)
{
    const int64_t endBytes = audioEndMs * kBytesPerMillisecond;
    // The chunk that held that point was sent when its last byte was; the point itself, earlier by
    // the audio that followed it in the chunk.
    const auto chunk = std::find_if(m_sent.begin(), m_sent.end(),
                                    [endBytes](const Sent& sent) { return sent.endBytes >= endBytes; });
    if (chunk == m_sent.end() || endBytes < m_sentOrigin) {
        m_turnEnd.reset();
        return;
    }
    m_turnEnd = chunk->atSeconds - double(chunk->endBytes - endBytes) / kBytesPerSecond;
}

std::optional<double> ConversationTurns::voiceArrived(const QString& itemID, int frames,
                                                      std::optional<int64_t> queuedAt, int64_t playedFrames,
                                                      double nowSeconds)
{
    std::optional<double> latency;
    const bool newItem = !m_item || m_item->id != itemID;
    if (newItem) {
        m_item = Item();
        m_item->id = itemID;
        if (m_turnEnd && queuedAt) {
            const double firstSample =
                nowSeconds + double(std::max<int64_t>(0, *queuedAt - playedFrames)) / kFramesPerSecond;
            latency = std::max(0.0, firstSample - *m_turnEnd);
            m_latencies.append(*latency);
        }
        // An answer the phone never got (the manager holds the line) is not measured.
        m_turnEnd.reset();
    }
    Item& item = *m_item;
    item.received += frames;
    if (!queuedAt) {
        item.broken = true;
        return latency;
    }
    if (!item.start)
        item.start = *queuedAt;
    if (!item.broken)
        item.contiguous += frames;
    return latency;
}

void ConversationTurns::voiceDiscarded()
{
    if (m_item)
        m_item->broken = true;
}

std::optional<ConversationTurns::Cut> ConversationTurns::callerSpoke(int64_t playedFrames)
{
    // The caller speaks again: a turn end the AI has not answered yet no longer counts.
    m_turnEnd.reset();
    if (!m_item)
        return std::nullopt;
    const Item item = *m_item;
    const int64_t delivered =
        item.start ? std::clamp<int64_t>(playedFrames - *item.start, 0, item.contiguous) : 0;
    if (delivered >= item.received)
        return std::nullopt; // heard whole: nothing to forget
    m_item.reset();
    m_cut.insert(item.id);
    return Cut{item.id, int64_t(double(delivered) * 1000.0 / kFramesPerSecond)};
}

bool ConversationTurns::assistantLine(const QString& itemID, const QUuid& lineID)
{
    if (itemID.isEmpty())
        return false;
    m_lines.insert(itemID, lineID);
    return m_cut.contains(itemID);
}

std::optional<QUuid> ConversationTurns::lineOf(const QString& itemID) const
{
    const auto found = m_lines.constFind(itemID);
    if (found == m_lines.constEnd())
        return std::nullopt;
    return *found;
}
