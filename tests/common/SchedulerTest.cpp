#include "app/common/Scheduler.h"
#include "app/common/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <vector>

TEST(ManualScheduler, RunsTasksInDueOrderAtTheirOwnTime)
{
    ManualClock clock;
    ManualScheduler scheduler(clock);
    const double start = clock.uptimeSeconds();
    std::vector<std::pair<int, double>> ran;
    auto record = [&](int id) { return [&, id] { ran.emplace_back(id, clock.uptimeSeconds() - start); }; };

    scheduler.after(3.0, record(3));
    scheduler.after(1.5, record(1));
    scheduler.after(1.5, record(2)); // same due time: insertion order
    TaskHandle cancelled = scheduler.after(2.0, record(99));
    cancelled.cancel();
    EXPECT_FALSE(cancelled.isActive());

    scheduler.advance(2.9);
    ASSERT_EQ(ran.size(), 2u);
    EXPECT_EQ(ran[0].first, 1);
    EXPECT_NEAR(ran[0].second, 1.5, 1e-9);
    EXPECT_EQ(ran[1].first, 2);
    EXPECT_NEAR(ran[1].second, 1.5, 1e-9);
    EXPECT_NEAR(clock.uptimeSeconds() - start, 2.9, 1e-9);

    scheduler.advance(0.1);
    ASSERT_EQ(ran.size(), 3u);
    EXPECT_EQ(ran[2].first, 3);
    EXPECT_EQ(scheduler.pendingCount(), 0u);
}

TEST(ManualScheduler, RepeatingTasksAndTasksScheduledFromTasks)
{
    ManualClock clock;
    ManualScheduler scheduler(clock);
    int ticks = 0;
    int followUps = 0;
    TaskHandle tick = scheduler.every(1.0, [&] {
        ++ticks;
        if (ticks == 2)
            scheduler.after(0.0, [&] { ++followUps; });
    });
    scheduler.advance(5.5);
    EXPECT_EQ(ticks, 5);
    EXPECT_EQ(followUps, 1) << "a zero-delay task scheduled during advance runs in the same advance";
    tick.cancel();
    scheduler.advance(10);
    EXPECT_EQ(ticks, 5);
    // A 20-minute session limit costs nothing to reach.
    bool limit = false;
    scheduler.after(20 * 60, [&] { limit = true; });
    scheduler.advance(20 * 60);
    EXPECT_TRUE(limit);
}

TEST(QtScheduler, RunsOnTheEventLoopAndCancels)
{
    QtScheduler scheduler;
    bool ran = false;
    bool cancelledRan = false;
    TaskHandle handle = scheduler.after(0.01, [&] { ran = true; });
    TaskHandle cancelled = scheduler.after(0.01, [&] { cancelledRan = true; });
    cancelled.cancel();
    QElapsedTimer timer;
    timer.start();
    while (!ran && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
    EXPECT_FALSE(handle.isActive());
    EXPECT_FALSE(cancelledRan);
}

TEST(ManualClock, ManySmallStepsKeepWallDateAndUptimeTogether)
{
    ManualClock clock;
    const QDateTime start = clock.now();
    const double uptime = clock.uptimeSeconds();
    for (int i = 0; i < 112500; ++i) // 20 minutes in 512-frame steps at 48 kHz
        clock.advance(512.0 / 48000.0);
    EXPECT_NEAR(clock.uptimeSeconds() - uptime, 1200.0, 1e-6);
    EXPECT_NEAR(double(start.msecsTo(clock.now())), 1'200'000.0, 1.0);
}

TEST(ReferenceDate, SecondsCountFrom2001)
{
    EXPECT_EQ(secondsSinceReferenceDate(QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC)), 0.0);
    EXPECT_EQ(secondsSinceReferenceDate(QDateTime(QDate(2000, 12, 31), QTime(23, 59), Qt::UTC)), -60.0);
    const QDateTime date(QDate(2026, 12, 8), QTime(14, 5, 3, 250), Qt::UTC);
    EXPECT_EQ(dateFromReferenceSeconds(secondsSinceReferenceDate(date)), date);
}
