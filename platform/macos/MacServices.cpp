#include "platform/macos/MacServices.h"

#include "platform/macos/MacAccessibility.h"
#include "platform/macos/MacAudioHardware.h"
#include "platform/macos/MacMicrophoneAuthorization.h"
#include "platform/macos/MacUserNotifications.h"
#include "platform/macos/MacWorkspace.h"

namespace macos {

MacServices::MacServices()
    : m_hardware(std::make_unique<MacAudioHardware>()), m_accessibility(std::make_unique<MacAccessibility>()),
      m_workspace(std::make_unique<MacWorkspace>()),
      m_microphone(std::make_unique<MacMicrophoneAuthorization>()),
      m_notifications(std::make_unique<MacUserNotifications>())
{
}

MacServices::~MacServices() = default;

hal::AudioHardware& MacServices::hardware()
{
    return *m_hardware;
}

ax::Accessibility& MacServices::accessibility()
{
    return *m_accessibility;
}

workspace::Workspace& MacServices::workspace()
{
    return *m_workspace;
}

permissions::MicrophoneAuthorization& MacServices::microphone()
{
    return *m_microphone;
}

notifications::UserNotificationCenter& MacServices::notifications()
{
    return *m_notifications;
}

} // namespace macos
