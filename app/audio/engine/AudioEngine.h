#pragma once

#include "app/audio/engine/AudioNodes.h"
#include "app/audio/engine/PcmBlock.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore.h>
#include <thread>
#include <vector>

// A tap's delivery: a block of exactly the requested frame count in the node's output format
// (planar float), and the node's frame position of its first frame. Runs on the service thread.
using AudioTapBlock = std::function<void(const std::shared_ptr<PcmBlock>& block, double sampleTime)>;

struct AudioTap {
    AudioTap(const AudioFormat& format, int bufferFrames, AudioTapBlock block);
    AudioFormat format;
    int bufferFrames;
    AudioTapBlock block;
    FrameRing ring;
    std::shared_ptr<PcmBlock> pending;
    double deliveredFrames = 0.0;
    AudioNode* node = nullptr;
};

// One audio engine: a graph of nodes rendered pull-model in fixed quanta, its input node fed by the
// input device's IO cycle and its output node pulled by the output device's IO cycle.
//
//   AudioEngine engine;
//   engine.setOutputDeviceFormat(48000, 2);            // from the device's stream format
//   auto player = std::make_shared<AudioPlayerNode>();
//   engine.attach(player);
//   engine.connect(*player, engine.mainMixerNode(), 0, AudioFormat::standard(24000, 1));
//   engine.connect(engine.mainMixerNode(), engine.outputNode(), 0, AudioFormat::standard(48000, 2));
//   engine.start();
//   // in the output device's IO proc:  engine.renderOutput(buffer, frames, channels, sampleTime);
//   // in the input device's IO proc:   engine.captureInput(buffer, frames, channels, sampleTime);
//
// Threads: graph building and start on the main thread; stop on the main thread, stopBySystem on any
// thread but the IO threads (a device listener's), the two serialised by one state lock that the IO
// side never takes; renderOutput() on the output device's IO thread and captureInput() on the input
// device's, both real-time; tap blocks and player completions on the engine's own service thread,
// which the render side wakes with a semaphore. A player's queue has one consumer at a time: the
// render while IO is let in, otherwise whoever holds the state lock.
class AudioEngine {
public:
    static constexpr int kRenderQuantumFrames = 256;

    AudioEngine();
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // The device formats (rate and channel count) of the IO cycles; set before connecting.
    void setInputDeviceFormat(double sampleRateHz, int channels);
    void setOutputDeviceFormat(double sampleRateHz, int channels);

    AudioInputNode& inputNode() { return *m_input; }
    AudioOutputNode& outputNode() { return *m_output; }
    AudioMixerNode& mainMixerNode() { return *m_mainMixer; }

    // Main thread, engine stopped. The engine keeps the node alive until detach or destruction.
    void attach(const std::shared_ptr<AudioNode>& node);
    void detach(AudioNode& node);
    // `format` becomes the source's output format (device nodes keep their device's format).
    // False, and nothing changed, when a node is not in this engine or the engine runs.
    bool connect(AudioNode& source, AudioNode& destination, int destinationBus, const AudioFormat& format);
    void disconnectNodeInput(AudioNode& destination, int bus);

    // Main thread. `format` is checked against the node's output format (a tap does not convert).
    // False when the node is not in this engine, already tapped on that bus, or the format differs.
    bool installTap(AudioNode& node, int bus, int bufferFrames, const AudioFormat& format,
                    AudioTapBlock block);
    void removeTap(AudioNode& node, int bus);

    // Main thread. Allocates everything the render path needs. Throws AppError on a broken graph.
    void prepare();
    // Main thread. Prepares if needed and starts; throws AppError when the graph cannot run.
    void start();
    // Main thread (never a tap block or completion). Returns once no render or capture call is in
    // progress and the service thread has delivered what was pending and ended. A stop running on
    // another thread is waited for.
    void stop();
    // False only once a stop has finished: no IO call is in progress and none will run the graph.
    bool isRunning() const { return m_running.load(std::memory_order_acquire); }
    // The device went away or stopped under us: the engine stops as if stop() had been called.
    // Any thread but the IO threads and the service thread.
    void stopBySystem();
    bool wasStoppedBySystem() const { return m_stoppedBySystem.load(); }

    // Real-time: one output IO cycle. Writes `frames` interleaved frames of `channels` channels;
    // silence when the engine is not running. No allocation, no lock.
    void renderOutput(float* interleaved, int frames, int channels, double sampleTime);
    // Real-time: one input IO cycle with the device's interleaved frames. No allocation, no lock.
    void captureInput(const float* interleaved, int frames, int channels, double sampleTime);

    // Blocks until every tap block and completion that the IO cycles made before this call has been
    // delivered: by the service thread, or here when none runs. Returns as well when a stop on
    // another thread ends the service thread meanwhile, its last pass having delivered everything.
    // Any thread but the service thread; for tests, probes and orderly shutdowns.
    void synchronize();

    // Counters for diagnostics and tests.
    long long renderedCycles() const { return m_renderedCycles.load(); }

private:
    friend class AudioPlayerNode;
    friend class AudioInputNode;
    friend class AudioNode;

    bool owns(const AudioNode& node) const;
    // Real-time: a played or discarded player item goes to the service thread.
    void complete(AudioPlayerNode::Item* item);
    // A stopped player's queue is emptied here, under the state lock, only while no IO can consume it.
    void discardIfStopped(AudioPlayerNode& player);
    void wakeService();
    void serviceLoop();
    void serviceOnce();
    void deliverTaps();
    void deliverCompletions();
    void stopInternal(bool bySystem);
    void waitForIoQuiescence();

    std::shared_ptr<AudioInputNode> m_input;
    std::shared_ptr<AudioOutputNode> m_output;
    std::shared_ptr<AudioMixerNode> m_mainMixer;
    std::vector<std::shared_ptr<AudioNode>> m_nodes;

    bool m_prepared = false;
    // Serialises start, stop and stopBySystem, and the consumers of the queues that the IO side
    // consumes while it runs. Never taken by IO, tap blocks or completions.
    std::mutex m_stateMutex;
    // Lets IO calls into the graph; cleared first when stopping, before waiting for IO to drain.
    std::atomic<bool> m_ioEnabled{false};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stoppedBySystem{false};
    std::atomic<int> m_ioInProgress{0};
    std::atomic<long long> m_renderedCycles{0};

    // Render side: the quantum not yet handed to the device.
    std::vector<float> m_quantum; // planar, output channels × quantum
    int m_quantumOffset = kRenderQuantumFrames;

    MpscQueue<AudioPlayerNode::Item> m_completed;

    std::mutex m_tapsMutex; // main and service threads only
    std::vector<std::unique_ptr<AudioTap>> m_taps;

    sem_t m_wake;
    std::thread m_service;
    std::atomic<bool> m_serviceStop{false};
    std::mutex m_syncMutex;
    std::condition_variable m_syncDone;
    unsigned long long m_syncRequested = 0;
    unsigned long long m_syncServed = 0;
    bool m_serviceActive = false; // under m_syncMutex: a service thread runs and will answer
};
