// The intervention's queues between two device clocks 300 ppm apart, over a 20-minute call.

#include "app/audio/ClockSkewGuard.h"

#include <gtest/gtest.h>

#include <deque>

TEST(ClockSkewGuard, KeepsTheQueueBetweenTwoClocksBoundedForTwentyMinutesWithoutCuttingSpeech)
{
    constexpr double kRateHz = 24000;
    constexpr int kBlock = 1024; // a capture tap's block at the wire rate
    constexpr int kLead = 2400;  // the 100 ms of silence an intervention starts with
    const ClockSkewGuard guard(2, 4);
    for (const double ppm : {+300.0, -300.0}) {
        SCOPED_TRACE(ppm);
        std::deque<int> queue = {kLead}; // frames left in each scheduled block
        double produced = 0, consumed = 0;
        int deepest = 0, droppedSpeech = 0, dry = 0;
        long long spoken = 0;
        for (double t = 0; t < 20 * 60; t += 0.001) {
            // The capturing clock runs `ppm` against the playing one; a block is handed over when full.
            produced += 0.001 * kRateHz * (1 + ppm * 1e-6);
            while (produced >= kBlock) {
                produced -= kBlock;
                // A voice: 300 ms of speech, 200 ms of pause.
                const bool quiet = (spoken % 12000) >= 7200 && (spoken % 12000) + kBlock <= 12000;
                spoken += kBlock;
                const auto action = guard.decide(int(queue.size()), quiet);
                droppedSpeech += action == ClockSkewGuard::Action::Drop && !quiet;
                for (int copies = action == ClockSkewGuard::Action::PlayTwice ? 2 : 1;
                     action != ClockSkewGuard::Action::Drop && copies > 0; --copies)
                    queue.push_back(kBlock);
            }
            consumed += 0.001 * kRateHz;
            while (consumed >= 1) {
                consumed -= 1;
                if (queue.empty()) {
                    dry += t > 1;
                    continue;
                }
                if (--queue.front() == 0)
                    queue.pop_front();
            }
            int frames = 0;
            for (int left : queue)
                frames += left;
            if (t > 1)
                deepest = std::max(deepest, frames);
        }
        EXPECT_EQ(droppedSpeech, 0) << "only pauses are dropped";
        EXPECT_EQ(dry, 0) << "the player never ran dry";
        EXPECT_LE(deepest, 5 * kBlock) << "the delay did not grow";
    }
}
