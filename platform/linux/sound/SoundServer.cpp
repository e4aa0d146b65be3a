#include "platform/linux/sound/SoundServer.h"

#include <pulse/pulseaudio.h>

#include <cstring>

namespace hostsound {

// What the loop thread owns: libpulse's main loop and context, the device list being gathered and the one
// published. Shared by the server object and its streams, so a stream outliving the server stays valid.
struct Loop {
    pa_threaded_mainloop* mainloop = nullptr;
    pa_context* context = nullptr;
    std::atomic<bool> connected{false};
    bool timedOut = false;

    // Loop thread only (or under the loop's lock).
    std::function<void()> onChanged;
    bool refreshing = false;
    bool dirty = false;
    int pendingReplies = 0;
    uint64_t refreshesDone = 0;
    std::vector<Device> gathering;
    std::string defaultSink;
    std::string defaultSource;

    mutable std::mutex listMutex;
    std::vector<Device> devices;
    uint64_t generation = 0;

    ~Loop()
    {
        if (mainloop == nullptr)
            return;
        pa_threaded_mainloop_lock(mainloop);
        if (context != nullptr) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_set_subscribe_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        pa_threaded_mainloop_unlock(mainloop);
        pa_threaded_mainloop_stop(mainloop);
        pa_threaded_mainloop_free(mainloop);
    }

    void publish(std::vector<Device> list)
    {
        {
            std::lock_guard lock(listMutex);
            devices = std::move(list);
            ++generation;
        }
        if (onChanged)
            onChanged();
    }
};

namespace {

// The loop's lock, unless already on the loop thread (which holds it around every callback).
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* mainloop)
        : m_mainloop(pa_threaded_mainloop_in_thread(mainloop) ? nullptr : mainloop)
    {
        if (m_mainloop != nullptr)
            pa_threaded_mainloop_lock(m_mainloop);
    }
    ~LoopLock()
    {
        if (m_mainloop != nullptr)
            pa_threaded_mainloop_unlock(m_mainloop);
    }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* m_mainloop;
};

std::string cardOf(uint32_t card)
{
    return card == PA_INVALID_INDEX ? std::string() : "card:" + std::to_string(card);
}

void refresh(Loop& loop);

// One reply of a listing came in; the last one publishes the list.
void replied(Loop& loop)
{
    if (--loop.pendingReplies > 0)
        return;
    loop.refreshing = false;
    ++loop.refreshesDone;
    if (loop.dirty) {
        refresh(loop);
        return;
    }
    std::vector<Device> list = std::move(loop.gathering);
    loop.gathering.clear();
    // Inputs first, then outputs, each in the server's order.
    std::stable_partition(list.begin(), list.end(),
                          [](const Device& device) { return device.direction == Direction::Input; });
    for (Device& device : list)
        device.isDefault =
            device.name == (device.direction == Direction::Input ? loop.defaultSource : loop.defaultSink);
    loop.publish(std::move(list));
    pa_threaded_mainloop_signal(loop.mainloop, 0);
}

void onServerInfo(pa_context*, const pa_server_info* info, void* user)
{
    auto& loop = *static_cast<Loop*>(user);
    loop.defaultSink = info != nullptr && info->default_sink_name ? info->default_sink_name : "";
    loop.defaultSource = info != nullptr && info->default_source_name ? info->default_source_name : "";
    replied(loop);
}

void onSink(pa_context*, const pa_sink_info* info, int eol, void* user)
{
    auto& loop = *static_cast<Loop*>(user);
    if (eol != 0) {
        replied(loop);
        return;
    }
    loop.gathering.push_back({Direction::Output, info->name,
                              info->description ? info->description : info->name, info->sample_spec.rate,
                              info->sample_spec.channels, false, cardOf(info->card)});
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* user)
{
    auto& loop = *static_cast<Loop*>(user);
    if (eol != 0) {
        replied(loop);
        return;
    }
    // A sink's monitor is what an output plays, not one of the computer's inputs.
    if (info->monitor_of_sink != PA_INVALID_INDEX)
        return;
    loop.gathering.push_back({Direction::Input, info->name,
                              info->description ? info->description : info->name, info->sample_spec.rate,
                              info->sample_spec.channels, false, cardOf(info->card)});
}

void refresh(Loop& loop)
{
    if (loop.refreshing) {
        loop.dirty = true;
        return;
    }
    loop.refreshing = true;
    loop.dirty = false;
    loop.gathering.clear();
    loop.pendingReplies = 0;
    auto issued = [&](pa_operation* operation) {
        if (operation == nullptr)
            return;
        ++loop.pendingReplies;
        pa_operation_unref(operation);
    };
    issued(pa_context_get_server_info(loop.context, onServerInfo, &loop));
    issued(pa_context_get_source_info_list(loop.context, onSource, &loop));
    issued(pa_context_get_sink_info_list(loop.context, onSink, &loop));
    if (loop.pendingReplies == 0) {
        loop.refreshing = false;
        pa_threaded_mainloop_signal(loop.mainloop, 0);
    }
}

void onEvent(pa_context*, pa_subscription_event_type_t event, uint32_t, void* user)
{
    auto& loop = *static_cast<Loop*>(user);
    const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    // Volume and state changes of a device come often and change nothing listed; the server's changes
    // are the default devices.
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER ||
        ((facility == PA_SUBSCRIPTION_EVENT_SINK || facility == PA_SUBSCRIPTION_EVENT_SOURCE) &&
         type != PA_SUBSCRIPTION_EVENT_CHANGE))
        refresh(loop);
}

void onContextState(pa_context* context, void* user)
{
    auto& loop = *static_cast<Loop*>(user);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        loop.connected = true;
        pa_context_set_subscribe_callback(context, onEvent, &loop);
        pa_operation_unref(pa_context_subscribe(context,
                                                pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK |
                                                                       PA_SUBSCRIPTION_MASK_SOURCE |
                                                                       PA_SUBSCRIPTION_MASK_SERVER),
                                                nullptr, nullptr));
        refresh(loop);
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        if (loop.connected.exchange(false))
            loop.publish({});
        pa_threaded_mainloop_signal(loop.mainloop, 0);
        break;
    default:
        break;
    }
}

void onConnectTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user)
{
    auto& loop = *static_cast<Loop*>(user);
    loop.timedOut = true;
    pa_threaded_mainloop_signal(loop.mainloop, 0);
}

} // namespace

// libpulse's callbacks for a stream, on the loop thread.
struct Stream::Callbacks {
    static void state(pa_stream* stream, void* user)
    {
        auto& self = *static_cast<Stream*>(user);
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            self.m_state = State::Ready;
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            self.m_state = State::Gone;
            break;
        default:
            break;
        }
    }

    // Loop thread, real-time: only moves samples into the ring; no allocation, no logging.
    static void captured(pa_stream* stream, size_t, void* user)
    {
        auto& self = *static_cast<Stream*>(user);
        const size_t frameBytes = sizeof(float) * self.m_channels;
        const void* data = nullptr;
        size_t bytes = 0;
        while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
            const size_t frames = bytes / frameBytes;
            // A hole (no data) is silence in the device's timeline.
            if (self.m_ring.write(static_cast<const float*>(data), frames) < frames &&
                self.m_reading.exchange(false, std::memory_order_relaxed))
                self.m_overruns.fetch_add(1, std::memory_order_relaxed);
            pa_stream_drop(stream);
        }
    }

    // Loop thread, real-time: only moves samples out of the ring; no allocation, no logging.
    static void wanted(pa_stream* stream, size_t nbytes, void* user)
    {
        auto& self = *static_cast<Stream*>(user);
        const size_t frameBytes = sizeof(float) * self.m_channels;
        while (nbytes >= frameBytes) {
            void* data = nullptr;
            size_t bytes = nbytes;
            if (pa_stream_begin_write(stream, &data, &bytes) < 0 || data == nullptr)
                return;
            const size_t frames = std::min(bytes, nbytes) / frameBytes;
            if (frames == 0) {
                pa_stream_cancel_write(stream);
                return;
            }
            auto* samples = static_cast<float*>(data);
            const size_t got = self.m_ring.read(samples, frames);
            if (got < frames) {
                std::memset(samples + got * self.m_channels, 0, (frames - got) * frameBytes);
                if (self.m_played.load(std::memory_order_relaxed))
                    self.m_underruns.fetch_add(1, std::memory_order_relaxed);
            }
            if (got > 0)
                self.m_played.store(true, std::memory_order_relaxed);
            pa_stream_write(stream, data, frames * frameBytes, nullptr, 0, PA_SEEK_RELATIVE);
            nbytes -= frames * frameBytes;
        }
    }

    static void underflow(pa_stream*, void* user)
    {
        auto& self = *static_cast<Stream*>(user);
        if (self.m_played.load(std::memory_order_relaxed))
            self.m_underruns.fetch_add(1, std::memory_order_relaxed);
    }

    static void overflow(pa_stream*, void* user)
    {
        static_cast<Stream*>(user)->m_overruns.fetch_add(1, std::memory_order_relaxed);
    }
};

Stream::Stream(std::shared_ptr<Loop> loop, Direction direction, std::string device, uint32_t rateHz,
               uint32_t channels, size_t ringFrames)
    : m_loop(std::move(loop)), m_direction(direction), m_device(std::move(device)), m_rateHz(rateHz),
      m_channels(channels), m_ring(channels, ringFrames)
{
}

Stream::~Stream()
{
    if (m_stream == nullptr)
        return;
    LoopLock lock(m_loop->mainloop);
    auto* stream = static_cast<pa_stream*>(m_stream);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream, nullptr, nullptr);
    pa_stream_set_overflow_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

double Stream::serverLatencyMs() const
{
    if (m_stream == nullptr || state() != State::Ready)
        return -1;
    LoopLock lock(m_loop->mainloop);
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(static_cast<pa_stream*>(m_stream), &latency, &negative) < 0)
        return -1;
    return (negative ? -1.0 : 1.0) * double(latency) / 1000.0;
}

SoundServer::SoundServer() : m_loop(std::make_shared<Loop>()) {}

SoundServer::~SoundServer() = default;

std::unique_ptr<SoundServer> SoundServer::connect(const std::string& server, std::string& error,
                                                  const std::string& clientName)
{
    std::unique_ptr<SoundServer> client(new SoundServer());
    Loop& loop = *client->m_loop;
    loop.mainloop = pa_threaded_mainloop_new();
    if (loop.mainloop == nullptr) {
        error = "libpulse could not make its main loop";
        return nullptr;
    }
    pa_threaded_mainloop_set_name(loop.mainloop, "orlea.pulse");
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, clientName.c_str());
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "app.orlea");
    loop.context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop.mainloop),
                                                clientName.c_str(), properties);
    pa_proplist_free(properties);
    if (loop.context == nullptr) {
        error = "libpulse could not make its context";
        return nullptr;
    }
    pa_context_set_state_callback(loop.context, onContextState, &loop);

    pa_threaded_mainloop_lock(loop.mainloop);
    if (pa_context_connect(loop.context, server.empty() ? nullptr : server.c_str(), PA_CONTEXT_NOAUTOSPAWN,
                           nullptr) < 0 ||
        pa_threaded_mainloop_start(loop.mainloop) < 0) {
        error = pa_strerror(pa_context_errno(loop.context));
        pa_threaded_mainloop_unlock(loop.mainloop);
        return nullptr;
    }
    // A server that accepts the connection and then says nothing is no server either.
    pa_time_event* timer =
        pa_context_rttime_new(loop.context, pa_rtclock_now() + 3 * PA_USEC_PER_SEC, onConnectTimeout, &loop);
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(loop.context);
        if (!PA_CONTEXT_IS_GOOD(state)) {
            error = pa_strerror(pa_context_errno(loop.context));
            break;
        }
        if (state == PA_CONTEXT_READY && loop.refreshesDone > 0 && !loop.refreshing)
            break;
        if (loop.timedOut) {
            error = "the sound server did not answer";
            break;
        }
        pa_threaded_mainloop_wait(loop.mainloop);
    }
    if (timer != nullptr)
        pa_threaded_mainloop_get_api(loop.mainloop)->time_free(timer);
    pa_threaded_mainloop_unlock(loop.mainloop);
    if (!error.empty())
        return nullptr;
    return client;
}

bool SoundServer::isConnected() const
{
    return m_loop->connected.load();
}

std::vector<Device> SoundServer::devices() const
{
    std::lock_guard lock(m_loop->listMutex);
    return m_loop->devices;
}

uint64_t SoundServer::devicesGeneration() const
{
    std::lock_guard lock(m_loop->listMutex);
    return m_loop->generation;
}

void SoundServer::setOnChanged(std::function<void()> changed)
{
    LoopLock lock(m_loop->mainloop);
    m_loop->onChanged = std::move(changed);
}

void SoundServer::sync()
{
    LoopLock lock(m_loop->mainloop);
    Loop& loop = *m_loop;
    if (!loop.connected)
        return;
    refresh(loop);
    const uint64_t target = loop.refreshesDone + (loop.dirty ? 2 : 1);
    while (loop.connected && loop.refreshesDone < target)
        pa_threaded_mainloop_wait(loop.mainloop);
    while (loop.connected && loop.refreshing)
        pa_threaded_mainloop_wait(loop.mainloop);
}

std::shared_ptr<Stream> SoundServer::open(Direction direction, const std::string& deviceName,
                                          uint32_t sampleRateHz, uint32_t channels, double bufferMs)
{
    // A quarter of a second of ring: far more than the server's buffering plus one IO cycle of the
    // reader, so only a stalled reader loses audio.
    const size_t ringFrames = std::max<size_t>(size_t(sampleRateHz) / 4, 4096);
    std::shared_ptr<Stream> stream(
        new Stream(m_loop, direction, deviceName, sampleRateHz, channels, ringFrames));
    const pa_sample_spec format = {PA_SAMPLE_FLOAT32NE, sampleRateHz, uint8_t(channels)};
    if (!pa_sample_spec_valid(&format)) {
        stream->m_state = Stream::State::Gone;
        return stream;
    }
    LoopLock lock(m_loop->mainloop);
    if (!m_loop->connected) {
        stream->m_state = Stream::State::Gone;
        return stream;
    }
    pa_channel_map map;
    pa_channel_map_init_extend(&map, channels, PA_CHANNEL_MAP_DEFAULT);
    pa_stream* handle = pa_stream_new(m_loop->context, "Orlea", &format, &map);
    if (handle == nullptr) {
        stream->m_state = Stream::State::Gone;
        return stream;
    }
    stream->m_stream = handle;
    pa_stream_set_state_callback(handle, Stream::Callbacks::state, stream.get());
    const uint32_t bytes = uint32_t(pa_usec_to_bytes(pa_usec_t(bufferMs * 1000), &format));
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xff, sizeof attributes); // (uint32_t)-1: the server's choice
    // The stream dies with its device, as a vanished Core Audio device stops its IO, rather than being
    // moved to another device behind our back.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE |
                                         PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING);
    int status = 0;
    if (direction == Direction::Input) {
        attributes.fragsize = bytes;
        pa_stream_set_read_callback(handle, Stream::Callbacks::captured, stream.get());
        pa_stream_set_overflow_callback(handle, Stream::Callbacks::overflow, stream.get());
        status = pa_stream_connect_record(handle, deviceName.c_str(), &attributes, flags);
    } else {
        attributes.tlength = bytes;
        pa_stream_set_write_callback(handle, Stream::Callbacks::wanted, stream.get());
        pa_stream_set_underflow_callback(handle, Stream::Callbacks::underflow, stream.get());
        status = pa_stream_connect_playback(handle, deviceName.c_str(), &attributes, flags, nullptr, nullptr);
    }
    if (status < 0)
        stream->m_state = Stream::State::Gone;
    return stream;
}

} // namespace hostsound
