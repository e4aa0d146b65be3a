#pragma once

// The macOS backends of the platform seams, created together by the application entry and handed to the
// model as interfaces. Main thread only. A new seam adds its backend here: a member, and an accessor
// returning its interface.

#include "platform/ax/Accessibility.h"
#include "platform/hal/AudioHardware.h"
#include "platform/notifications/UserNotifications.h"
#include "platform/permissions/Permissions.h"
#include "platform/workspace/Workspace.h"

#include <memory>

namespace macos {

class MacAccessibility;
class MacAudioHardware;
class MacMicrophoneAuthorization;
class MacUserNotifications;
class MacWorkspace;

class MacServices {
public:
    MacServices();
    ~MacServices();
    MacServices(const MacServices&) = delete;
    MacServices& operator=(const MacServices&) = delete;

    hal::AudioHardware& hardware();
    ax::Accessibility& accessibility();
    workspace::Workspace& workspace();
    permissions::MicrophoneAuthorization& microphone();
    notifications::UserNotificationCenter& notifications();

private:
    std::unique_ptr<MacAudioHardware> m_hardware;
    std::unique_ptr<MacAccessibility> m_accessibility;
    std::unique_ptr<MacWorkspace> m_workspace;
    std::unique_ptr<MacMicrophoneAuthorization> m_microphone;
    std::unique_ptr<MacUserNotifications> m_notifications;
};

} // namespace macos
