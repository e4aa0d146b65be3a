// The sound-server client where no desktop sound server exists (a Mac): every connection is refused, so
// the simulated Mac there keeps its synthetic devices.
#include "platform/linux/sound/SoundServer.h"

namespace hostsound {

struct Loop {};

Stream::Stream(std::shared_ptr<Loop> loop, Direction direction, std::string device, uint32_t rateHz,
               uint32_t channels, size_t ringFrames)
    : m_loop(std::move(loop)), m_direction(direction), m_device(std::move(device)), m_rateHz(rateHz),
      m_channels(channels), m_ring(channels, ringFrames)
{
}

Stream::~Stream() = default;

double Stream::serverLatencyMs() const
{
    return -1;
}

SoundServer::SoundServer() : m_loop(std::make_shared<Loop>()) {}

SoundServer::~SoundServer() = default;

std::unique_ptr<SoundServer> SoundServer::connect(const std::string&, std::string& error, const std::string&)
{
    error = "no desktop sound server on this system";
    return nullptr;
}

bool SoundServer::isConnected() const
{
    return false;
}

std::vector<Device> SoundServer::devices() const
{
    return {};
}

uint64_t SoundServer::devicesGeneration() const
{
    return 0;
}

void SoundServer::setOnChanged(std::function<void()>) {}

void SoundServer::sync() {}

std::shared_ptr<Stream> SoundServer::open(Direction, const std::string&, uint32_t, uint32_t, double)
{
    return nullptr;
}

} // namespace hostsound
