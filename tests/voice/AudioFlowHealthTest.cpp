#include "app/audio/AudioFlowHealth.h"
#include "app/common/Clock.h"

#include <gtest/gtest.h>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << text.toStdString();
}
QT_END_NAMESPACE

TEST(AudioFlowHealth, DescriptionsFollowTheCounters)
{
    ManualClock clock;
    AudioFlowHealth health(clock);
    EXPECT_EQ(health.snapshot().generation, 1) << "construction resets once";
    EXPECT_EQ(health.description(),
              QString("Audio reçu : 0.0 s · sortie : 0.0 s (micro brut : 0.0 s, erreurs : 0)"
                      " (moteur : 0.0 s, erreurs de conversion : 0)"));
    EXPECT_EQ(health.signalDescription(),
              QString("Micro capté : silence numérique · vers IA : silence numérique"));

    health.update([](AudioFlowHealth::Counters& c, double now) {
        c.inputFrames += 48000;
        c.inputTime = now;
        c.rawOutputSeconds = 2.54;
        c.outputErrors = 3;
    });
    EXPECT_EQ(health.description(),
              QString("Audio reçu : 2.0 s · sortie : 0.0 s (moteur : 2.5 s, erreurs de conversion : 3)"));
    health.update([](AudioFlowHealth::Counters& c, double) {
        c.outputFrames = 36000;
        c.inputFrames = 0;
        c.rawInputSeconds = 1.24;
        c.inputErrors = 12;
    });
    EXPECT_EQ(health.description(),
              QString("Audio reçu : 0.0 s · sortie : 1.5 s (micro brut : 1.2 s, erreurs : 12)"));

    health.inputSignal(0.5, 0.01, 480);
    health.inputSignal(0.25, 0.003, 480);
    EXPECT_EQ(health.signalDescription(), QString("Micro capté : -6 dB · vers IA : -40 dB"));
    const AudioFlowHealth::Counters c = health.snapshot();
    EXPECT_EQ(c.signalFrames, 480) << "a converted peak of exactly 0.003 is not signal";
    EXPECT_EQ(c.latestRaw, 0.25);
    EXPECT_EQ(c.latestPCM, 0.003);
    EXPECT_EQ(c.signalTime, clock.uptimeSeconds());

    health.reset();
    const AudioFlowHealth::Counters after = health.snapshot();
    EXPECT_EQ(after.generation, 2);
    EXPECT_EQ(after.rawPeak, 0);
    EXPECT_EQ(after.signalTime, -std::numeric_limits<double>::infinity());
    EXPECT_EQ(after.inputTime, clock.uptimeSeconds());
}

TEST(AudioFlowHealth, StallRules)
{
    ManualClock clock;
    AudioFlowHealth health(clock);
    clock.advance(3.0);
    EXPECT_FALSE(health.stalled()) << "three seconds of grace after a reset";
    clock.advance(0.1);
    EXPECT_TRUE(health.stalled()) << "no capture audio for more than 3 s";

    // Capture keeps arriving; nothing queued: a silent output is fine.
    for (int i = 0; i < 10; ++i) {
        clock.advance(1.0);
        health.update([](AudioFlowHealth::Counters& c, double now) { c.inputTime = now; });
        EXPECT_FALSE(health.stalled());
    }

    // One chunk queued, nothing comes out.
    health.update([](AudioFlowHealth::Counters& c, double now) {
        if (c.pending == 0)
            c.demandTime = now;
        c.pending += 1;
    });
    clock.advance(3.0);
    health.update([](AudioFlowHealth::Counters& c, double now) { c.inputTime = now; });
    EXPECT_FALSE(health.stalled());
    clock.advance(0.1);
    health.update([](AudioFlowHealth::Counters& c, double now) { c.inputTime = now; });
    EXPECT_TRUE(health.stalled()) << "queued for 3.1 s without output";

    // Output arriving keeps a busy queue healthy.
    health.update([](AudioFlowHealth::Counters& c, double now) { c.outputTime = now; });
    EXPECT_FALSE(health.stalled());
    clock.advance(2.0);
    health.update([](AudioFlowHealth::Counters& c, double now) {
        c.inputTime = now;
        c.pending = 0;
    });
    clock.advance(2.0);
    health.update([](AudioFlowHealth::Counters& c, double now) { c.inputTime = now; });
    EXPECT_FALSE(health.stalled()) << "an empty queue does not wait for output";
}
