// Driver IO cost: one 512-frame cycle of WriteMix + ReadInput on the loaded module, against a memcpy of the
// same bytes (the frames in and the frames out) measured in the same run. CPU time, so that a busy machine
// preempting one of the two does not skew the ratio.

#include "driver/abi/CoreAudioABI.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr UInt32 kFrames = 512;

AudioServerPlugInDriverRef loadDriver()
{
    const char* buildDir = std::getenv("ORLEA_BUILD_DIR");
    const std::string path =
        std::string(buildDir && *buildDir ? buildDir : ORLEA_BENCH_BUILD_DIR) + "/lib/VelkaroAudio.so";
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr)
        return nullptr;
    auto factory =
        reinterpret_cast<void* (*)(CFAllocatorRef, CFUUIDRef)>(dlsym(module, "VelkaroAudioFactory"));
    const __CFUUID type = {
        {0x44, 0x3A, 0xBA, 0xB8, 0xE7, 0xB3, 0x49, 0x1A, 0xB9, 0x85, 0xBE, 0xB9, 0x18, 0x70, 0x30, 0xDB}};
    auto driver = factory ? static_cast<AudioServerPlugInDriverRef>(factory(nullptr, &type)) : nullptr;
    if (driver == nullptr || (*driver)->Initialize(driver, nullptr) != 0)
        return nullptr;
    return driver;
}

void DriverIO(benchmark::State& state)
{
    static AudioServerPlugInDriverRef driver = loadDriver();
    if (driver == nullptr) {
        state.SkipWithError("cannot load VelkaroAudio.so");
        return;
    }
    AudioServerPlugInDriverInterface& api = **driver;
    api.StartIO(driver, 2, 0);
    std::vector<float> out(kFrames * 2, 0.25f), in(kFrames * 2);
    AudioServerPlugInIOCycleInfo cycle{};
    Float64 time = 0;
    for (auto _ : state) {
        cycle.mOutputTime.mSampleTime = time + kFrames;
        cycle.mInputTime.mSampleTime = time;
        api.DoIOOperation(driver, 2, 4, 0, kAudioServerPlugInIOOperationWriteMix, kFrames, &cycle, out.data(),
                          nullptr);
        api.DoIOOperation(driver, 2, 3, 0, kAudioServerPlugInIOOperationReadInput, kFrames, &cycle, in.data(),
                          nullptr);
        benchmark::DoNotOptimize(in.data());
        benchmark::ClobberMemory();
        time += kFrames;
    }
    api.StopIO(driver, 2, 0);
}
BENCHMARK(DriverIO);

void Memcpy(benchmark::State& state)
{
    std::vector<float> out(kFrames * 2, 0.25f), ring(kFrames * 2), in(kFrames * 2);
    for (auto _ : state) {
        std::memcpy(ring.data(), out.data(), kFrames * 8);
        benchmark::ClobberMemory();
        std::memcpy(in.data(), ring.data(), kFrames * 8);
        benchmark::DoNotOptimize(in.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Memcpy);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // No colours: the ratio line must stand alone on its line.
    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.iterations > 0)
                timeNs[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    std::map<std::string, double> timeNs;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto io = reporter.timeNs.find("DriverIO");
    const auto copy = reporter.timeNs.find("Memcpy");
    if (io != reporter.timeNs.end() && copy != reporter.timeNs.end() && copy->second > 0)
        std::printf("ratio driver_io %.3f\n", io->second / copy->second);
    benchmark::Shutdown();
    return 0;
}
