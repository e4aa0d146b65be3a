#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>
#include <cstdint>
#include <deque>
#include <optional>

// The turns of one conversation as the AI service and the phone see them: which assistant item is
// playing and how much of it the phone received, which transcript line belongs to which item, and how
// long each answer took.
//
// Answer time: from the end of the caller's turn (the service's audio_end_ms, a position in the audio
// we sent, mapped back onto the clock through the times each chunk was sent) to the first sample of
// the answer delivered to the phone (when it was queued, plus what the player still had to play before
// it). Positions on the voice timeline are the bridge's, in 24 kHz frames.
//
// Main thread only: the owner feeds it the realtime client's events and the bridge's voice timeline.
class ConversationTurns {
public:
    static constexpr double kFramesPerSecond = 24000.0;

    void reset();

    // --- the caller
    // A chunk of caller audio went to the service: `sentEndBytes` of audio have now been sent on this
    // connection, at `nowSeconds`.
    void audioSent(int64_t sentEndBytes, double nowSeconds);
    // The service's voice detection ended the caller's turn at `audioEndMs` of the audio sent.
    void turnEnded(int64_t audioEndMs);

    // --- the AI's voice
    // `frames` of assistant item `itemID` arrived while `playedFrames` of the voice timeline had been
    // rendered. `queuedAt` is where the bridge queued them, or nothing when they were dropped (the
    // manager holds the line). Returns how long the caller waited when this is the first sound of an
    // answer to an ended turn.
    std::optional<double> voiceArrived(const QString& itemID, int frames, std::optional<int64_t> queuedAt,
                                       int64_t playedFrames, double nowSeconds);
    // The bridge dropped what it had queued (an intervention, a restart): what plays later of the item
    // no longer follows what was heard.
    void voiceDiscarded();
    // The caller heard the beginning of this item only: its later audio must not be played.
    bool isCut(const QString& itemID) const { return m_cut.contains(itemID); }

    struct Cut {
        QString itemID;
        int64_t audioEndMs = 0; // how much of the item reached the phone
    };
    // The caller started speaking while `playedFrames` of the voice timeline had been rendered. When the
    // phone had not yet received all the audio of the playing item, that item is cut there.
    std::optional<Cut> callerSpoke(int64_t playedFrames);

    // --- transcript lines of the AI
    // Remembers the line of an item; true when the item was cut short.
    bool assistantLine(const QString& itemID, const QUuid& lineID);
    std::optional<QUuid> lineOf(const QString& itemID) const;

    // Answer times of this conversation, in seconds, in order.
    const QList<double>& latencies() const { return m_latencies; }

private:
    struct Sent {
        int64_t endBytes = 0;
        double atSeconds = 0;
    };
    struct Item {
        QString id;
        std::optional<int64_t> start; // where its first queued frame sits on the voice timeline
        int64_t received = 0;         // frames that arrived, played or not
        int64_t contiguous = 0;       // frames queued back to back from its start
        bool broken = false;          // a chunk was dropped or discarded: later ones do not follow on
    };

    std::deque<Sent> m_sent;
    int64_t m_sentOrigin = 0;        // where the first kept chunk starts
    std::optional<double> m_turnEnd; // clock time of an ended turn not answered yet
    std::optional<Item> m_item;
    QSet<QString> m_cut;
    QHash<QString, QUuid> m_lines;
    QList<double> m_latencies;
};
