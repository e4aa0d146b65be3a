#include "app/audio/engine/AudioEngine.h"

#include "app/audio/engine/RateStage.h"
#include "app/audio/engine/VoiceProcessor.h"
#include "app/common/AppError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <set>

namespace {
// A tap may fall a little behind the IO cycles; two seconds of room before frames are dropped.
constexpr double kTapRingSeconds = 2.0;
} // namespace

AudioTap::AudioTap(const AudioFormat& format, int bufferFrames, AudioTapBlock block)
    : format(format), bufferFrames(bufferFrames), block(std::move(block)),
      ring(format.channels, std::max(size_t(bufferFrames) * 4, size_t(format.sampleRateHz * kTapRingSeconds)))
{
}

AudioEngine::AudioEngine()
    : m_input(std::make_shared<AudioInputNode>()), m_output(std::make_shared<AudioOutputNode>()),
      m_mainMixer(std::make_shared<AudioMixerNode>())
{
    sem_init(&m_wake, 0, 0);
    for (const std::shared_ptr<AudioNode>& node :
         {std::shared_ptr<AudioNode>(m_input), std::shared_ptr<AudioNode>(m_output),
          std::shared_ptr<AudioNode>(m_mainMixer)})
        attach(node);
}

AudioEngine::~AudioEngine()
{
    stop();
    for (auto& tap : m_taps)
        tap->node->m_tap.store(nullptr);
    while (AudioPlayerNode::Item* item = m_completed.take())
        delete item;
    // Nodes kept elsewhere (a bridge's player) must not reach a dead engine.
    for (const std::shared_ptr<AudioNode>& node : m_nodes) {
        node->m_engine = nullptr;
        node->m_inputs.clear();
        node->m_destination = nullptr;
    }
    sem_destroy(&m_wake);
}

void AudioEngine::setInputDeviceFormat(double sampleRateHz, int channels)
{
    m_input->m_outputFormat = AudioFormat::standard(sampleRateHz, channels);
    m_prepared = false;
}

void AudioEngine::setOutputDeviceFormat(double sampleRateHz, int channels)
{
    m_output->m_outputFormat = AudioFormat::standard(sampleRateHz, channels);
    m_prepared = false;
}

bool AudioEngine::owns(const AudioNode& node) const
{
    return node.m_engine == this;
}

void AudioEngine::attach(const std::shared_ptr<AudioNode>& node)
{
    if (!node || node->m_engine)
        return;
    node->m_engine = this;
    m_nodes.push_back(node);
    m_prepared = false;
}

void AudioEngine::detach(AudioNode& node)
{
    if (!owns(node) || &node == m_input.get() || &node == m_output.get() || &node == m_mainMixer.get())
        return;
    for (int bus = 0; bus < node.inputBusCount(); ++bus)
        disconnectNodeInput(node, bus);
    if (node.m_destination) {
        for (AudioNode::Link& link : node.m_destination->m_inputs)
            if (link.source == &node)
                link = AudioNode::Link{};
    }
    removeTap(node, 0);
    node.m_engine = nullptr;
    std::erase_if(m_nodes, [&](const std::shared_ptr<AudioNode>& n) { return n.get() == &node; });
    m_prepared = false;
}

bool AudioEngine::connect(AudioNode& source, AudioNode& destination, int destinationBus,
                          const AudioFormat& format)
{
    if (!owns(source) || !owns(destination) || &source == &destination || destinationBus < 0 ||
        destinationBus >= AudioMixerNode::kMaxInputBuses || isRunning())
        return false;
    if (&source != m_input.get() && &source != m_output.get())
        source.m_outputFormat = AudioFormat::standard(format.sampleRateHz, format.channels);
    // A node's output feeds one destination: a new connection replaces the old one.
    if (source.m_destination)
        for (AudioNode::Link& link : source.m_destination->m_inputs)
            if (link.source == &source)
                link = AudioNode::Link{};
    if (int(destination.m_inputs.size()) <= destinationBus)
        destination.m_inputs.resize(size_t(destinationBus) + 1);
    if (AudioNode* previous = destination.m_inputs[size_t(destinationBus)].source)
        previous->m_destination = nullptr;
    destination.m_inputs[size_t(destinationBus)] = AudioNode::Link{};
    destination.m_inputs[size_t(destinationBus)].source = &source;
    source.m_destination = &destination;
    m_prepared = false;
    return true;
}

void AudioEngine::disconnectNodeInput(AudioNode& destination, int bus)
{
    if (!owns(destination) || !destination.hasInput(bus) || isRunning())
        return;
    destination.m_inputs[size_t(bus)].source->m_destination = nullptr;
    destination.m_inputs[size_t(bus)] = AudioNode::Link{};
    m_prepared = false;
}

bool AudioEngine::installTap(AudioNode& node, int bus, int bufferFrames, const AudioFormat& format,
                             AudioTapBlock block)
{
    const AudioFormat own = node.outputFormat();
    if (!owns(node) || bus != 0 || bufferFrames <= 0 || node.m_tap.load() || !own.isValid() ||
        format.sampleRateHz != own.sampleRateHz || format.channels != own.channels)
        return false;
    auto tap = std::make_unique<AudioTap>(own, bufferFrames, std::move(block));
    tap->node = &node;
    AudioTap* raw = tap.get();
    {
        std::lock_guard lock(m_tapsMutex);
        m_taps.push_back(std::move(tap));
    }
    node.m_tap.store(raw, std::memory_order_release);
    return true;
}

void AudioEngine::removeTap(AudioNode& node, int bus)
{
    if (!owns(node) || bus != 0)
        return;
    AudioTap* tap = node.m_tap.exchange(nullptr, std::memory_order_acq_rel);
    if (!tap)
        return;
    waitForIoQuiescence();
    std::lock_guard lock(m_tapsMutex);
    std::erase_if(m_taps, [&](const std::unique_ptr<AudioTap>& t) { return t.get() == tap; });
}

void AudioEngine::waitForIoQuiescence()
{
    // An IO cycle that read the old tap pointer is at most one cycle away from finishing.
    while (m_ioInProgress.load(std::memory_order_seq_cst) != 0)
        std::this_thread::yield();
}

void AudioEngine::prepare()
{
    if (isRunning())
        return;
    // Every node reachable from the output node, plus the input node, gets its buffers now.
    std::set<AudioNode*> reachable;
    std::vector<AudioNode*> pending{m_output.get()};
    while (!pending.empty()) {
        AudioNode* node = pending.back();
        pending.pop_back();
        if (!reachable.insert(node).second)
            throw AppError(QStringLiteral("Le graphe audio forme une boucle."));
        for (const AudioNode::Link& link : node->m_inputs)
            if (link.source)
                pending.push_back(link.source);
    }
    reachable.insert(m_input.get());
    for (AudioNode* node : reachable) {
        if (node->m_outputFormat.channels > AudioFormat::kMaxChannels)
            throw AppError(QStringLiteral("Format audio non pris en charge."));
        if (node != m_input.get() && node != m_output.get() && !node->m_outputFormat.isValid())
            throw AppError(QStringLiteral("Un élément du graphe audio n’a pas de format."));
        node->prepareRender(kRenderQuantumFrames);
        node->prepareLinks(kRenderQuantumFrames);
        for (const AudioNode::Link& link : node->m_inputs)
            if (link.rate && !link.rate->isValid())
                throw AppError(QStringLiteral("Conversion de fréquence impossible dans le graphe audio."));
    }
    m_quantum.assign(size_t(std::max(1, m_output->m_outputFormat.channels)) * kRenderQuantumFrames, 0.0f);
    m_quantumOffset = kRenderQuantumFrames;
    m_prepared = true;
}

void AudioEngine::start()
{
    std::lock_guard state(m_stateMutex);
    if (m_running.load())
        return;
    if (!m_prepared)
        prepare();
    m_stoppedBySystem.store(false);
    m_serviceStop.store(false);
    m_quantumOffset = kRenderQuantumFrames; // nothing left over from before a stop
    {
        std::lock_guard sync(m_syncMutex);
        m_serviceActive = true;
    }
    m_service = std::thread([this] { serviceLoop(); });
    m_running.store(true, std::memory_order_seq_cst);
    m_ioEnabled.store(true, std::memory_order_seq_cst);
}

void AudioEngine::stop()
{
    stopInternal(false);
}

void AudioEngine::stopBySystem()
{
    stopInternal(true);
}

// Any thread but IO, tap and completion threads. A second stop (the main thread's while a device
// listener's runs) waits for the first and then finds nothing to do. "Running" is published false
// only at the end, so nobody takes over the player queues while an IO call may still consume them.
void AudioEngine::stopInternal(bool bySystem)
{
    std::lock_guard state(m_stateMutex);
    if (!m_running.load())
        return;
    m_ioEnabled.store(false, std::memory_order_seq_cst);
    waitForIoQuiescence();
    if (bySystem)
        m_stoppedBySystem.store(true);
    // Its last pass comes after the IO calls drained, so it delivers everything they made.
    m_serviceStop.store(true);
    sem_post(&m_wake);
    m_service.join();
    {
        std::lock_guard sync(m_syncMutex);
        m_serviceActive = false;
    }
    m_syncDone.notify_all();
    m_running.store(false, std::memory_order_seq_cst);
}

void AudioEngine::discardIfStopped(AudioPlayerNode& player)
{
    std::lock_guard state(m_stateMutex);
    if (!m_ioEnabled.load(std::memory_order_seq_cst))
        player.discardAllNow();
}

void AudioEngine::complete(AudioPlayerNode::Item* item)
{
    m_completed.push(item);
}

void AudioEngine::wakeService()
{
    sem_post(&m_wake);
}

void AudioEngine::renderOutput(float* interleaved, int frames, int channels, double)
{
    m_ioInProgress.fetch_add(1, std::memory_order_seq_cst);
    if (!m_ioEnabled.load(std::memory_order_seq_cst)) {
        m_ioInProgress.fetch_sub(1, std::memory_order_seq_cst);
        std::fill(interleaved, interleaved + size_t(frames) * size_t(channels), 0.0f);
        return;
    }
    const int quantumChannels = std::max(1, m_output->m_outputFormat.channels);
    float* quantum[AudioFormat::kMaxChannels];
    for (int c = 0; c < quantumChannels; ++c)
        quantum[c] = m_quantum.data() + size_t(c) * kRenderQuantumFrames;
    VoiceProcessor* voice = m_input->m_voiceProcessor.get();
    int done = 0;
    while (done < frames) {
        if (m_quantumOffset == kRenderQuantumFrames) {
            m_output->renderAndTap(quantum, kRenderQuantumFrames);
            if (voice && voice->sampleRateHz() == m_output->m_outputFormat.sampleRateHz)
                voice->playback(quantum[0], kRenderQuantumFrames);
            m_quantumOffset = 0;
        }
        const int n = std::min(frames - done, kRenderQuantumFrames - m_quantumOffset);
        for (int i = 0; i < n; ++i) {
            float* frame = interleaved + size_t(done + i) * size_t(channels);
            for (int c = 0; c < channels; ++c)
                frame[c] = c < quantumChannels ? quantum[c][m_quantumOffset + i] : 0.0f;
        }
        done += n;
        m_quantumOffset += n;
    }
    m_renderedCycles.fetch_add(1, std::memory_order_relaxed);
    wakeService();
    m_ioInProgress.fetch_sub(1, std::memory_order_seq_cst);
}

void AudioEngine::captureInput(const float* interleaved, int frames, int channels, double)
{
    m_ioInProgress.fetch_add(1, std::memory_order_seq_cst);
    if (!m_ioEnabled.load(std::memory_order_seq_cst)) {
        m_ioInProgress.fetch_sub(1, std::memory_order_seq_cst);
        return;
    }
    AudioInputNode& input = *m_input;
    const int nodeChannels = input.m_outputFormat.channels;
    const int chunkCapacity = int(input.m_captureScratch.size()) / std::max(1, nodeChannels);
    float* planar[AudioFormat::kMaxChannels];
    for (int c = 0; c < nodeChannels; ++c)
        planar[c] = input.m_captureScratch.data() + size_t(c) * size_t(chunkCapacity);
    AudioTap* tap = input.m_tap.load(std::memory_order_acquire);
    const bool muted = input.m_inputMuted.load(std::memory_order_relaxed);
    for (int done = 0; done < frames && nodeChannels > 0;) {
        const int n = std::min(frames - done, chunkCapacity);
        for (int c = 0; c < nodeChannels; ++c) {
            const int source = std::min(c, channels - 1);
            for (int i = 0; i < n; ++i)
                planar[c][i] =
                    muted ? 0.0f : interleaved[size_t(done + i) * size_t(channels) + size_t(source)];
        }
        if (input.m_voiceProcessor) {
            // The processed voice is mono; every channel carries it.
            input.m_voiceProcessor->capture(planar[0], n);
            for (int c = 1; c < nodeChannels; ++c)
                std::copy(planar[0], planar[0] + n, planar[c]);
        }
        if (input.m_destination && input.m_ring)
            input.m_ring->write(planar, 1, size_t(n));
        if (tap)
            tap->ring.write(planar, 1, size_t(n));
        done += n;
    }
    wakeService();
    m_ioInProgress.fetch_sub(1, std::memory_order_seq_cst);
}

void AudioEngine::serviceLoop()
{
    pthread_setname_np(pthread_self(), "orlea.audio.tap");
    for (;;) {
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_nsec += 100'000'000;
        if (deadline.tv_nsec >= 1'000'000'000) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1'000'000'000;
        }
        while (sem_timedwait(&m_wake, &deadline) != 0 && errno == EINTR) {
        }
        // Coalesce the wake-ups of many IO cycles into one pass.
        while (sem_trywait(&m_wake) == 0) {
        }
        const bool stopping = m_serviceStop.load();
        serviceOnce();
        if (stopping)
            return;
    }
}

void AudioEngine::serviceOnce()
{
    unsigned long long requested;
    {
        std::lock_guard lock(m_syncMutex);
        requested = m_syncRequested;
    }
    deliverCompletions();
    deliverTaps();
    {
        std::lock_guard lock(m_syncMutex);
        m_syncServed = std::max(m_syncServed, requested);
    }
    m_syncDone.notify_all();
}

void AudioEngine::synchronize()
{
    for (;;) {
        {
            std::unique_lock sync(m_syncMutex);
            if (m_serviceActive) {
                const unsigned long long ticket = ++m_syncRequested;
                sem_post(&m_wake);
                // A pass that read the counter before this ticket was raised may have been the last:
                // the thread's end then answers instead.
                m_syncDone.wait(sync, [&] { return m_syncServed >= ticket || !m_serviceActive; });
                return;
            }
        }
        // No service thread: deliver here, as the only consumer, unless a start came in between.
        std::lock_guard state(m_stateMutex);
        {
            std::lock_guard sync(m_syncMutex);
            if (m_serviceActive)
                continue;
        }
        deliverCompletions();
        deliverTaps();
        return;
    }
}

void AudioEngine::deliverCompletions()
{
    while (AudioPlayerNode::Item* item = m_completed.take()) {
        if (item->completion)
            item->completion();
        delete item;
    }
}

void AudioEngine::deliverTaps()
{
    std::lock_guard lock(m_tapsMutex);
    for (const std::unique_ptr<AudioTap>& tap : m_taps) {
        for (;;) {
            if (!tap->pending) {
                tap->pending = PcmBlock::make(tap->format, tap->bufferFrames);
                tap->pending->setFrameLength(0);
            }
            PcmBlock& block = *tap->pending;
            const int have = block.frameLength();
            float* channels[AudioFormat::kMaxChannels];
            for (int c = 0; c < tap->format.channels; ++c)
                channels[c] = block.floatChannelData(c) + have;
            const size_t got = tap->ring.read(channels, size_t(tap->bufferFrames - have));
            block.setFrameLength(have + int(got));
            if (block.frameLength() < tap->bufferFrames)
                break;
            std::shared_ptr<PcmBlock> full = std::move(tap->pending);
            tap->pending.reset();
            const double when = tap->deliveredFrames;
            tap->deliveredFrames += tap->bufferFrames;
            if (tap->block)
                tap->block(full, when);
        }
    }
}
