// The loopback stress run under ThreadSanitizer, with the driver compiled into this program.

#include "tests/driver/LoopbackStress.h"

#include <cstdio>

extern "C" void* VelkaroAudioFactory(CFAllocatorRef allocator, CFUUIDRef requestedType);

int main()
{
    const __CFUUID plugInType = {
        {0x44, 0x3A, 0xBA, 0xB8, 0xE7, 0xB3, 0x49, 0x1A, 0xB9, 0x85, 0xBE, 0xB9, 0x18, 0x70, 0x30, 0xDB}};
    auto driver = static_cast<AudioServerPlugInDriverRef>(VelkaroAudioFactory(nullptr, &plugInType));
    if (driver == nullptr || (*driver)->Initialize(driver, nullptr) != 0) {
        std::puts("the driver did not initialise");
        return 1;
    }
    int failures = 0;
    for (StressMode mode : {StressMode::Chasing, StressMode::Lapping}) {
        const StressResult result = runLoopbackStress(driver, 1'100'000, mode);
        std::printf("frames read %llu, matched %llu, bad %llu %s\n", (unsigned long long)result.framesRead,
                    (unsigned long long)result.framesMatched, (unsigned long long)result.framesBad,
                    result.firstBad.c_str());
        if (result.framesBad != 0 || result.framesRead < 1'000'000 || result.framesMatched == 0)
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}
