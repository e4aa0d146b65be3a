#include "app/model/ConversationTurns.h"

#include <gtest/gtest.h>

namespace {

// Chunks of 100 ms (4800 bytes) sent every 100 ms from t = 10 s.
void sendSeconds(ConversationTurns& turns, int chunks)
{
    for (int i = 1; i <= chunks; ++i)
        turns.audioSent(int64_t(i) * 4800, 10.0 + 0.1 * i);
}

} // namespace

TEST(ConversationTurns, AnswerTimesCountFromTheTurnEndToTheFirstSoundOnThePhone)
{
    struct Case {
        const char* what;
        int64_t audioEndMs;
        double arrivesAt;
        int64_t queuedAt; // where the answer's first frame is queued
        int64_t played;   // how far the player is
        double expected;
    };
    const std::vector<Case> cases{
        {"at a chunk's end", 2000, 12.5, 0, 0, 0.5},
        {"inside a chunk, sent with what followed", 1950, 12.5, 0, 0, 0.55},
        {"behind 0.25 s still to play", 2000, 12.5, 30000, 24000, 0.75},
        {"a player ahead of the queue waits for nothing", 2000, 12.5, 100, 200, 0.5},
    };
    for (const Case& c : cases) {
        ConversationTurns turns;
        sendSeconds(turns, 30);
        turns.turnEnded(c.audioEndMs);
        const auto latency = turns.voiceArrived("item_1", 2400, c.queuedAt, c.played, c.arrivesAt);
        ASSERT_TRUE(latency.has_value()) << c.what;
        EXPECT_NEAR(*latency, c.expected, 1e-9) << c.what;
        EXPECT_FALSE(turns.voiceArrived("item_1", 2400, c.queuedAt + 2400, c.played, c.arrivesAt + 0.1))
            << c.what << ": only the first sound of an answer counts";
    }

    ConversationTurns turns;
    sendSeconds(turns, 30);
    turns.turnEnded(2000);
    EXPECT_FALSE(turns.callerSpoke(0)) << "nothing played, nothing to cut";
    EXPECT_FALSE(turns.voiceArrived("item_1", 2400, 0, 0, 12.0)) << "the caller spoke again: no answer yet";
    turns.turnEnded(2500);
    EXPECT_FALSE(turns.voiceArrived("item_2", 2400, std::nullopt, 0, 12.0))
        << "dropped: never reached the phone";
    EXPECT_FALSE(turns.voiceArrived("item_3", 2400, 2400, 0, 13.0)) << "that turn was answered already";
    turns.turnEnded(99000);
    EXPECT_FALSE(turns.voiceArrived("item_4", 2400, 4800, 0, 13.0)) << "a point beyond what was sent";
    EXPECT_TRUE(turns.latencies().isEmpty());
}
