// The IO path of the loaded module must not allocate: every allocation function of this process is counted
// while the test drives IO.

#include "tests/driver/DriverHost.h"

#include <gtest/gtest.h>
#include <malloc.h>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {
thread_local bool counting = false;
thread_local int allocations = 0;

void count()
{
    if (counting)
        ++allocations;
}
} // namespace

extern "C" void* malloc(size_t size)
{
    count();
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count_, size_t size)
{
    count();
    return __libc_calloc(count_, size);
}

extern "C" void* realloc(void* pointer, size_t size)
{
    count();
    return __libc_realloc(pointer, size);
}

extern "C" void* memalign(size_t alignment, size_t size)
{
    count();
    return __libc_memalign(alignment, size);
}

extern "C" int posix_memalign(void** out, size_t alignment, size_t size)
{
    count();
    *out = __libc_memalign(alignment, size);
    return *out ? 0 : 12;
}

extern "C" void* aligned_alloc(size_t alignment, size_t size)
{
    count();
    return __libc_memalign(alignment, size);
}

TEST(DriverAllocation, IOAndPropertyCallsAllocateNothing)
{
    DriverHost host;
    ASSERT_NE(host.ref(), nullptr);
    AudioServerPlugInDriverInterface& driver = host.driver();
    std::vector<UInt64> buffer(512, 42);
    AudioServerPlugInIOCycleInfo cycle{};
    Float64 sampleTime = 0;
    UInt64 hostTime = 0, seed = 0;
    Boolean willDo = 0, inPlace = 0;
    CFStringRef name = nullptr;
    const AudioObjectPropertyAddress nameAddress = {kAudioObjectPropertyName, kAudioObjectPropertyScopeGlobal,
                                                    0};
    UInt32 used = 0;

    // Make sure the probe works before trusting a zero.
    counting = true;
    free(malloc(16));
    counting = false;
    ASSERT_EQ(allocations, 1) << "the allocation counter is not interposed";
    allocations = 0;

    driver.StartIO(host.ref(), 2, 0); // not IO: it may notify the host, whose recorder allocates
    counting = true;
    for (int i = 0; i < 200; ++i) {
        cycle.mOutputTime.mSampleTime = 512.0 * i;
        cycle.mInputTime.mSampleTime = 512.0 * i;
        driver.GetZeroTimeStamp(host.ref(), 2, 0, &sampleTime, &hostTime, &seed);
        driver.WillDoIOOperation(host.ref(), 2, 0, kAudioServerPlugInIOOperationWriteMix, &willDo, &inPlace);
        driver.BeginIOOperation(host.ref(), 2, 0, kAudioServerPlugInIOOperationWriteMix, 512, &cycle);
        driver.DoIOOperation(host.ref(), 2, 4, 0, kAudioServerPlugInIOOperationWriteMix, 512, &cycle,
                             buffer.data(), nullptr);
        driver.DoIOOperation(host.ref(), 2, 3, 0, kAudioServerPlugInIOOperationReadInput, 512, &cycle,
                             buffer.data(), nullptr);
        driver.EndIOOperation(host.ref(), 2, 0, kAudioServerPlugInIOOperationWriteMix, 512, &cycle);
        driver.GetPropertyData(host.ref(), 2, 0, &nameAddress, 0, nullptr, sizeof name, &used, &name);
    }
    counting = false;
    driver.StopIO(host.ref(), 2, 0);
    EXPECT_EQ(allocations, 0) << "the driver allocated on its IO or property path";
    EXPECT_NE(name, nullptr);
}
