#include "platform/sim/mac/ComputerSound.h"

#include "app/common/AppError.h"
#include "app/common/PrivateFile.h"
#include "platform/sim/audio/AudioClient.h"
#include "platform/sim/audio/AudioServer.h"
#include "platform/sim/mac/PersonAtComputer.h"
#include "platform/sim/mac/PhoneCallAudio.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <optional>

namespace sim {
namespace {

using hostsound::Direction;

int slot(Direction direction)
{
    return direction == Direction::Input ? 0 : 1;
}

AudioObjectID builtIn(Direction direction)
{
    return direction == Direction::Input ? AudioServer::kMicrophoneID : AudioServer::kSpeakersID;
}

// A sound server stream seen as the simulated device's endpoint. Its calls come from the simulated
// server's IO cycles and only touch the stream's ring and atomics.
class StreamEndpoint final : public HostEndpoint {
public:
    explicit StreamEndpoint(std::shared_ptr<hostsound::Stream> stream) : m_stream(std::move(stream)) {}
    double sampleRateHz() const override { return m_stream->sampleRateHz(); }
    unsigned channels() const override { return m_stream->channels(); }
    bool isAlive() const override { return m_stream->state() != hostsound::Stream::State::Gone; }
    size_t queuedFrames() const override { return m_stream->readableFrames(); }
    size_t read(float* interleaved, size_t frames) override { return m_stream->read(interleaved, frames); }
    size_t write(const float* interleaved, size_t frames) override
    {
        return m_stream->write(interleaved, frames);
    }

private:
    std::shared_ptr<hostsound::Stream> m_stream;
};

const char* const kKeys[2] = {"microphone", "speakers"};

} // namespace

ComputerSound::ComputerSound(AudioServer& server, PhoneCallAudio& callAudio, const QString& stateFile)
    : m_server(server), m_callAudio(callAudio), m_stateFile(stateFile)
{
    load();
}

ComputerSound::~ComputerSound()
{
    *m_alive = false;
    // The simulated devices let go of the streams before the client goes.
    if (m_client) {
        m_client->setOnChanged(nullptr);
        for (Direction direction : {Direction::Input, Direction::Output})
            if (!m_backing[slot(direction)].isEmpty())
                m_server.setHostEndpoint(builtIn(direction), nullptr);
    }
}

bool ComputerSound::connect(const QString& server)
{
    if (m_client)
        return m_client->isConnected();
    std::string error;
    m_client = hostsound::SoundServer::connect(server.toStdString(), error);
    if (!m_client) {
        m_reason = QString::fromStdString(error);
        emit changed();
        return false;
    }
    m_reason.clear();
    // Hop from the sound server's thread to ours; a change after this object went is dropped.
    std::weak_ptr<bool> alive = m_alive;
    m_client->setOnChanged([this, alive] {
        QMetaObject::invokeMethod(
            this,
            [this, alive] {
                if (alive.lock())
                    emit changed();
            },
            Qt::QueuedConnection);
    });
    for (Direction direction : {Direction::Input, Direction::Output})
        if (!m_saved[slot(direction)].isEmpty())
            apply(direction, m_saved[slot(direction)]);
    emit changed();
    return true;
}

bool ComputerSound::isConnected() const
{
    return m_client && m_client->isConnected();
}

QList<hostsound::Device> ComputerSound::devices(Direction direction) const
{
    QList<hostsound::Device> list;
    if (m_client)
        for (const hostsound::Device& device : m_client->devices())
            if (device.direction == direction)
                list.append(device);
    return list;
}

QString ComputerSound::defaultDevice(Direction direction) const
{
    for (const hostsound::Device& device : devices(direction))
        if (device.isDefault)
            return QString::fromStdString(device.name);
    return {};
}

QString ComputerSound::backing(Direction direction) const
{
    return m_backing[slot(direction)];
}

bool ComputerSound::setBacking(Direction direction, const QString& deviceName)
{
    if (!apply(direction, deviceName))
        return false;
    m_notice.clear();
    if (direction == Direction::Input && samePhysical(deviceName, m_callerInput)) {
        setCaller({}, m_callerOutput);
        m_notice = QStringLiteral("Votre micro sert désormais au Mac : l’appelant reprend une voix simulée.");
    }
    updateAdvice();
    m_saved[slot(direction)] = deviceName;
    save();
    emit changed();
    return true;
}

bool ComputerSound::apply(Direction direction, const QString& deviceName)
{
    if (deviceName.isEmpty()) {
        m_server.setHostEndpoint(builtIn(direction), nullptr);
        m_backing[slot(direction)].clear();
        return true;
    }
    if (!isConnected())
        return false;
    for (const hostsound::Device& device : devices(direction)) {
        if (QString::fromStdString(device.name) != deviceName)
            continue;
        auto stream = m_client->open(direction, device.name, device.sampleRateHz, device.channels);
        if (stream->state() == hostsound::Stream::State::Gone)
            return false;
        m_server.setHostEndpoint(builtIn(direction), std::make_shared<StreamEndpoint>(std::move(stream)));
        m_backing[slot(direction)] = deviceName;
        return true;
    }
    return false;
}

bool ComputerSound::setCaller(const QString& input, const QString& output)
{
    if ((!input.isEmpty() || !output.isEmpty()) && !isConnected())
        return false;
    auto find = [&](Direction direction, const QString& name) -> std::optional<hostsound::Device> {
        for (const hostsound::Device& device : devices(direction))
            if (QString::fromStdString(device.name) == name)
                return device;
        return std::nullopt;
    };
    const auto inputDevice = input.isEmpty() ? std::nullopt : find(Direction::Input, input);
    const auto outputDevice = output.isEmpty() ? std::nullopt : find(Direction::Output, output);
    if ((!input.isEmpty() && !inputDevice) || (!output.isEmpty() && !outputDevice))
        return false;

    m_notice.clear();
    if (!input.isEmpty() && samePhysical(input, backing(Direction::Input))) {
        apply(Direction::Input, {});
        m_saved[slot(Direction::Input)].clear();
        save();
        m_notice = QStringLiteral(
            "Votre micro sert désormais à l’appelant : le micro du Mac reprend un son simulé.");
    }
    // Heard on the same card it speaks into, the caller's voice would carry what it hears back.
    m_cancelsEcho =
        inputDevice && outputDevice && !inputDevice->card.empty() && inputDevice->card == outputDevice->card;
    std::shared_ptr<HostEndpoint> microphone, speaker;
    m_callerStreams[slot(Direction::Input)].reset();
    m_callerStreams[slot(Direction::Output)].reset();
    if (inputDevice) {
        m_callerStreams[slot(Direction::Input)] = m_client->open(
            Direction::Input, inputDevice->name, inputDevice->sampleRateHz, inputDevice->channels);
        microphone = std::make_shared<StreamEndpoint>(m_callerStreams[slot(Direction::Input)]);
    }
    if (outputDevice) {
        m_callerStreams[slot(Direction::Output)] = m_client->open(
            Direction::Output, outputDevice->name, outputDevice->sampleRateHz, outputDevice->channels);
        speaker = std::make_shared<StreamEndpoint>(m_callerStreams[slot(Direction::Output)]);
    }
    const PersonAtComputer person = PersonAtComputer::make(microphone, speaker, m_cancelsEcho);
    m_callerVoice = person.voice;
    m_callerEar = person.ear;
    m_callerBridges[slot(Direction::Input)] = person.voiceBridge;
    m_callerBridges[slot(Direction::Output)] = person.earBridge;
    m_callerInput = inputDevice ? input : QString();
    m_callerOutput = outputDevice ? output : QString();
    if (m_callerVoice)
        m_callAudio.setCallerVoice(m_callerVoice);
    m_callAudio.setCallerEar(m_callerEar);
    updateAdvice();
    emit changed();
    return true;
}

double ComputerSound::callerDelayMs(Direction direction) const
{
    const auto& bridge = m_callerBridges[slot(direction)];
    const auto& stream = m_callerStreams[slot(direction)];
    if (!bridge || !stream)
        return -1;
    return bridge->queuedMs() + std::max(0.0, stream->serverLatencyMs());
}

QString ComputerSound::cardOf(const QString& deviceName) const
{
    for (Direction direction : {Direction::Input, Direction::Output})
        for (const hostsound::Device& device : devices(direction))
            if (QString::fromStdString(device.name) == deviceName)
                return QString::fromStdString(device.card);
    return {};
}

bool ComputerSound::samePhysical(const QString& a, const QString& b) const
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QString card = cardOf(a);
    return a == b || (!card.isEmpty() && card == cardOf(b));
}

void ComputerSound::updateAdvice()
{
    if (!m_notice.isEmpty())
        return;
    const bool macShares = !backing(Direction::Input).isEmpty() &&
                           !cardOf(backing(Direction::Input)).isEmpty() &&
                           cardOf(backing(Direction::Input)) == cardOf(backing(Direction::Output));
    if (m_cancelsEcho || macShares)
        m_notice = QStringLiteral("Micro et haut-parleurs sur la même carte : un casque évite l’écho.");
}

bool ComputerSound::isBackingAlive(Direction direction) const
{
    return m_backing[slot(direction)].isEmpty() || m_server.isAlive(builtIn(direction));
}

QString ComputerSound::describe(const QString& deviceName) const
{
    for (Direction direction : {Direction::Input, Direction::Output})
        for (const hostsound::Device& device : devices(direction))
            if (QString::fromStdString(device.name) == deviceName)
                return QString::fromStdString(device.description);
    return deviceName;
}

void ComputerSound::load()
{
    QFile file(m_stateFile);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject state = QJsonDocument::fromJson(file.readAll()).object();
    m_hasSaved = true;
    for (int i = 0; i < 2; ++i)
        m_saved[i] = state.value(QLatin1String(kKeys[i])).toString();
}

void ComputerSound::save()
{
    QJsonObject state;
    for (int i = 0; i < 2; ++i)
        state.insert(QLatin1String(kKeys[i]), m_saved[i]);
    m_hasSaved = true;
    try {
        PrivateFile::write(m_stateFile, QJsonDocument(state).toJson(QJsonDocument::Indented));
    } catch (const AppError&) {
        // Kept in memory; the next run starts from the last saved choice.
    }
}

} // namespace sim
