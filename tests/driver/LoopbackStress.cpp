#include "tests/driver/LoopbackStress.h"

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr AudioObjectID kDevice = 2, kInput = 3, kOutput = 4;
constexpr UInt32 kChunk = 512;
constexpr UInt64 kDelay = 2048;
constexpr UInt64 kRingFrames = 32768;

// Both halves of a frame derive from its number, so a frame mixed from two writes cannot pass.
UInt64 pattern(UInt64 n)
{
    const UInt32 low = UInt32(n * 2654435761u) | 1u;
    const UInt32 high = ~low ^ UInt32(n >> 32);
    return (UInt64(high) << 32) | low;
}

} // namespace

StressResult runLoopbackStress(AudioServerPlugInDriverRef driver, UInt64 frames, StressMode mode)
{
    StressResult result;
    AudioServerPlugInDriverInterface& api = **driver;
    if (api.StartIO(driver, kDevice, 0) != 0) {
        result.firstBad = "StartIO failed";
        result.framesBad = 1;
        return result;
    }
    std::atomic<UInt64> written{0};
    std::atomic<UInt64> readerSeen{0};
    std::atomic<bool> done{false};

    std::thread writer([&] {
        std::vector<UInt64> buffer(kChunk);
        AudioServerPlugInIOCycleInfo cycle{};
        for (UInt64 start = 0; start < frames; start += kChunk) {
            // Stay close to the reader, so that the two keep meeting on the same slots.
            while (start > readerSeen.load() + 16 * kChunk && !done.load())
                std::this_thread::yield();
            for (UInt32 i = 0; i < kChunk; ++i)
                buffer[i] = pattern(start + i);
            cycle.mOutputTime.mSampleTime = Float64(start);
            api.DoIOOperation(driver, kDevice, kOutput, 0, kAudioServerPlugInIOOperationWriteMix, kChunk,
                              &cycle, buffer.data(), nullptr);
            written.store(start + kChunk, std::memory_order_release);
        }
        done.store(true);
    });

    std::vector<UInt64> buffer(kChunk);
    AudioServerPlugInIOCycleInfo cycle{};
    while (!done.load() || result.framesRead < frames) {
        // Chasing: read the chunk the writer is working on right now (shifted by the loopback delay), half of
        // it already published. Lapping: read the frames whose slots the writer is overwriting right now with
        // frames one ring later.
        const UInt64 progress = written.load(std::memory_order_acquire);
        const bool lapping = mode == StressMode::Lapping && progress + kDelay >= kRingFrames;
        const UInt64 start = lapping ? progress + kDelay - kRingFrames : progress + kDelay - kChunk / 2;
        readerSeen.store(progress);
        cycle.mInputTime.mSampleTime = Float64(start);
        api.DoIOOperation(driver, kDevice, kInput, 0, kAudioServerPlugInIOOperationReadInput, kChunk, &cycle,
                          buffer.data(), nullptr);
        for (UInt32 i = 0; i < kChunk; ++i) {
            const UInt64 n = start + i;
            ++result.framesRead;
            if (buffer[i] == 0)
                continue;
            if (buffer[i] == pattern(n - kDelay)) {
                ++result.framesMatched;
            } else if (result.framesBad++ == 0) {
                result.firstBad = "input frame " + std::to_string(n) + " holds " + std::to_string(buffer[i]);
            }
        }
    }
    writer.join();
    result.framesWritten = frames;
    // Everything the writer left in the ring must read back whole.
    for (UInt64 start = frames - 8 * kChunk; start < frames; start += kChunk) {
        cycle.mInputTime.mSampleTime = Float64(start + kDelay);
        api.DoIOOperation(driver, kDevice, kInput, 0, kAudioServerPlugInIOOperationReadInput, kChunk, &cycle,
                          buffer.data(), nullptr);
        for (UInt32 i = 0; i < kChunk; ++i) {
            ++result.framesRead;
            if (buffer[i] == pattern(start + i))
                ++result.framesMatched;
            else if (result.framesBad++ == 0)
                result.firstBad = "settled frame " + std::to_string(start + i) + " is wrong";
        }
    }
    api.StopIO(driver, kDevice, 0);
    return result;
}
