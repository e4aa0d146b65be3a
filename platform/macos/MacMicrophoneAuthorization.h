#pragma once

#include "platform/permissions/Permissions.h"

namespace macos {

// The microphone seam on AVCaptureDevice's authorisation for audio (Objective-C only, hence
// MacMicrophoneAuthorization.mm). The request's answer arrives on a queue of the system's and is handed
// to the completion on the main thread. The application's Info.plist must carry
// NSMicrophoneUsageDescription, or the system ends the process at the request.
class MacMicrophoneAuthorization final : public permissions::MicrophoneAuthorization {
public:
    permissions::AuthorizationStatus authorizationStatus() override;
    void requestAccess(std::function<void(bool granted)> completion) override;
};

} // namespace macos
