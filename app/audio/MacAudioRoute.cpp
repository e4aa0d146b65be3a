#include "app/audio/MacAudioRoute.h"

#include "app/common/AppError.h"

MacAudioRoute::MacAudioRoute(hal::AudioHardware& hardware, ReadFunction read, WriteFunction write)
    : m_hardware(hardware), m_read(std::move(read)), m_write(std::move(write))
{
    if (!m_read)
        m_read = [this](AudioObjectPropertySelector selector) { return readSystem(selector); };
    if (!m_write)
        m_write = [this](AudioObjectPropertySelector selector, AudioObjectID device) {
            writeSystem(selector, device);
        };
}

MacAudioRoute::~MacAudioRoute()
{
    restore();
}

bool MacAudioRoute::isBuiltIn(AudioObjectID device) const
{
    UInt32 transport = 0;
    return hal::readValue(m_hardware, device, hal::address(kAudioDevicePropertyTransportType), transport) ==
               kAudioHardwareNoError &&
           transport == kAudioDeviceTransportTypeBuiltIn;
}

void MacAudioRoute::prepare(const QList<SoundDevice>& devices)
{
    if (!m_previous.isEmpty())
        return;
    const SoundDevice* input = nullptr;
    const SoundDevice* output = nullptr;
    for (const SoundDevice& device : devices)
        if (input == nullptr && device.input && isBuiltIn(device.id))
            input = &device;
    for (const SoundDevice& device : devices)
        if (output == nullptr && device.output && isBuiltIn(device.id))
            output = &device;
    if (input == nullptr || output == nullptr)
        throw AppError(
            QStringLiteral("Le micro et les haut-parleurs intégrés du Mac sont nécessaires pour ce test."));
    prepare(input->id, output->id);
}

void MacAudioRoute::prepare(AudioObjectID inputID, AudioObjectID outputID)
{
    if (!m_previous.isEmpty())
        return;
    try {
        apply(kAudioHardwarePropertyDefaultInputDevice, inputID);
        apply(kAudioHardwarePropertyDefaultOutputDevice, outputID);
    } catch (...) {
        restore();
        throw;
    }
}

void MacAudioRoute::apply(AudioObjectPropertySelector selector, AudioObjectID device)
{
    const AudioObjectID current = m_read(selector);
    if (current == device)
        return;
    m_write(selector, device);
    m_previous.append({selector, current, device});
}

void MacAudioRoute::restore()
{
    for (qsizetype i = m_previous.size() - 1; i >= 0; --i) {
        const RouteChange& change = m_previous[i];
        try {
            // Only put back a default that is still ours: the user may have chosen another since.
            if (m_read(change.selector) == change.appliedValue)
                m_write(change.selector, change.previousValue);
        } catch (...) {
        }
    }
    m_previous.clear();
}

AudioObjectID MacAudioRoute::readSystem(AudioObjectPropertySelector selector) const
{
    AudioObjectID device = kAudioObjectUnknown;
    const OSStatus status =
        hal::readValue(m_hardware, kAudioObjectSystemObject, hal::address(selector), device);
    if (status != kAudioHardwareNoError)
        throw AppError(QStringLiteral("Impossible de lire le réglage audio du Mac (%1).").arg(status));
    return device;
}

void MacAudioRoute::writeSystem(AudioObjectPropertySelector selector, AudioObjectID device) const
{
    const OSStatus status =
        hal::writeValue(m_hardware, kAudioObjectSystemObject, hal::address(selector), device);
    if (status != kAudioHardwareNoError)
        throw AppError(
            QStringLiteral("Impossible de préparer le micro ou les haut-parleurs du Mac (%1).").arg(status));
}
