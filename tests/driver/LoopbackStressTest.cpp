// Writer and reader threads on one device of the loaded module.

#include "tests/driver/LoopbackStress.h"
#include "tests/driver/DriverHost.h"

#include <gtest/gtest.h>

TEST(DriverConcurrency, ReaderNeverTakesATornOrMisplacedFrame)
{
    DriverHost host;
    ASSERT_NE(host.ref(), nullptr);
    for (StressMode mode : {StressMode::Chasing, StressMode::Lapping}) {
        SCOPED_TRACE(mode == StressMode::Chasing ? "chasing" : "lapping");
        // Lapping races are rarer, so that mode runs longer.
        const UInt64 frames = mode == StressMode::Chasing ? 2'000'000 : 6'000'000;
        const StressResult result = runLoopbackStress(host.ref(), frames, mode);
        EXPECT_EQ(result.framesBad, 0u) << result.firstBad;
        EXPECT_GE(result.framesRead, 1'000'000u);
        EXPECT_GE(result.framesMatched, 4096u) << "the reader should see real frames, not only silence";
    }
}
