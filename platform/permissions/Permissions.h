#pragma once

#include <functional>

// The privacy authorisations the program asks of the system, shaped like AVCaptureDevice's
// authorisation API for audio, and the System Settings privacy pages where the user changes them.
namespace permissions {

// AVAuthorizationStatus.
enum class AuthorizationStatus {
    NotDetermined,
    // The user cannot change it (parental controls, device management).
    Restricted,
    Denied,
    Authorized,
};

// Microphone access of this process: AVCaptureDevice.authorizationStatus(for: .audio) and
// requestAccess(for: .audio).
class MicrophoneAuthorization {
public:
    virtual ~MicrophoneAuthorization() = default;

    virtual AuthorizationStatus authorizationStatus() = 0;
    // Asks the user when the status is not determined yet; otherwise answers from the status at
    // once. The completion runs later on the main thread, never inside this call; it receives
    // whether access is granted.
    virtual void requestAccess(std::function<void(bool granted)> completion) = 0;
};

// Pages of System Settings › Privacy & Security, opened with the workspace's URL opening.
inline constexpr char kMicrophonePrivacyUrl[] =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone";
inline constexpr char kAccessibilityPrivacyUrl[] =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

} // namespace permissions
