#include "app/audio/engine/AudioEngine.h"
#include "app/audio/engine/ParametricEqualizer.h"
#include "app/audio/engine/PeakLimiter.h"
#include "tests/audio_engine/Signal.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>

// Every allocation of this program goes through these counters; only the calls made while the
// current thread has `t_counting` set are counted, i.e. those of the IO cycles under test.
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);

namespace {
thread_local bool t_counting = false;
std::atomic<long> g_allocations{0};
std::atomic<long> g_frees{0};
} // namespace

extern "C" void* malloc(size_t size)
{
    if (t_counting)
        ++g_allocations;
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size)
{
    if (t_counting)
        ++g_allocations;
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* pointer, size_t size)
{
    if (t_counting)
        ++g_allocations;
    return __libc_realloc(pointer, size);
}
extern "C" void free(void* pointer)
{
    if (t_counting && pointer)
        ++g_frees;
    __libc_free(pointer);
}
void* operator new(size_t size)
{
    if (t_counting)
        ++g_allocations;
    if (void* p = __libc_malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* pointer) noexcept
{
    free(pointer);
}
void operator delete(void* pointer, size_t) noexcept
{
    free(pointer);
}

namespace {
std::shared_ptr<PcmBlock> voiceChunk(int frames)
{
    auto block = PcmBlock::make(AudioFormat::standard(24000, 1), frames);
    const std::vector<float> tone = Signal::sine(440, 24000, frames, 0.8);
    std::copy(tone.begin(), tone.end(), block->floatChannelData(0));
    block->setFrameLength(frames);
    return block;
}
} // namespace

TEST(AudioEngineRealtime, IoCyclesAllocateNothing)
{
    // The bridge's Mac-mode graph: voice chain into the main mixer, operator voice, microphone
    // pulled through a silent mixer, voice processing on, both taps installed.
    const AudioFormat play = AudioFormat::standard(24000, 1);
    const AudioFormat device = AudioFormat::standard(48000, 2);
    AudioEngine engine;
    engine.setInputDeviceFormat(48000, 2);
    engine.setOutputDeviceFormat(48000, 2);
    engine.inputNode().setVoiceProcessingEnabled(true);
    engine.inputNode().setVoiceProcessingAGC(true);
    auto player = std::make_shared<AudioPlayerNode>();
    auto operatorPlayer = std::make_shared<AudioPlayerNode>();
    auto eq = std::make_shared<AudioEffectNode>(std::make_unique<ParametricEqualizer>(9));
    auto limiter = std::make_shared<AudioEffectNode>(std::make_unique<PeakLimiter>());
    auto headroom = std::make_shared<AudioMixerNode>();
    auto micMixer = std::make_shared<AudioMixerNode>();
    for (const std::shared_ptr<AudioNode>& node :
         std::vector<std::shared_ptr<AudioNode>>{player, operatorPlayer, eq, limiter, headroom, micMixer})
        engine.attach(node);
    engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, device);
    engine.connect(*player, *eq, 0, play);
    engine.connect(*eq, *limiter, 0, play);
    engine.connect(*limiter, *headroom, 0, play);
    engine.connect(*headroom, engine.mainMixerNode(), 0, play);
    engine.connect(*operatorPlayer, engine.mainMixerNode(), 1, play);
    engine.connect(engine.inputNode(), *micMixer, 0, device);
    engine.connect(*micMixer, engine.mainMixerNode(), 2, device);
    headroom->setOutputVolume(0.85f);
    micMixer->setOutputVolume(0.0f);
    auto& equalizer = static_cast<ParametricEqualizer&>(eq->processor());
    for (int i = 0; i < 9; ++i)
        equalizer.setBand(i, EqualizerBand{EqualizerBand::FilterType::Parametric, 100.0f * float(i + 1), 1.0f,
                                           6.0f, false});
    std::atomic<int> tapBlocks{0};
    std::atomic<int> completions{0};
    ASSERT_TRUE(engine.installTap(engine.inputNode(), 0, 2048, device, [&](auto&, double) { ++tapBlocks; }));
    ASSERT_TRUE(
        engine.installTap(engine.mainMixerNode(), 0, 2048, device, [&](auto&, double) { ++tapBlocks; }));
    engine.start();
    player->play();
    operatorPlayer->play();

    const std::vector<float> mic = Signal::sine(300, 48000, 512 * 2, 0.3);
    std::vector<float> out(512 * 2);
    for (int cycle = 0; cycle < 400; ++cycle) {
        if (cycle % 10 == 0) {
            // Main thread work between cycles: allocation allowed here.
            player->scheduleBuffer(voiceChunk(2400), [&] { ++completions; });
            operatorPlayer->scheduleBuffer(voiceChunk(960));
            equalizer.setBand(cycle % 9, EqualizerBand{EqualizerBand::FilterType::Parametric, 500.0f, 1.0f,
                                                       float(cycle % 12), cycle % 20 == 0});
        }
        if (cycle == 200) {
            player->stop(); // the interruption path: the render thread discards the queue
            player->play();
        }
        t_counting = true;
        engine.captureInput(mic.data(), 512, 2, cycle * 512.0);
        engine.renderOutput(out.data(), 512, 2, cycle * 512.0);
        t_counting = false;
    }
    engine.synchronize();
    EXPECT_EQ(g_allocations.load(), 0) << "the IO cycles allocated";
    EXPECT_EQ(g_frees.load(), 0) << "the IO cycles freed memory";
    EXPECT_GT(tapBlocks.load(), 150);
    EXPECT_EQ(completions.load(), 40);
    engine.stop();
}
