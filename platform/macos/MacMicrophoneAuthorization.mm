#include "platform/macos/MacMicrophoneAuthorization.h"

#include "platform/macos/MainThread.h"

#include <AVFoundation/AVFoundation.h>

namespace macos {

permissions::AuthorizationStatus MacMicrophoneAuthorization::authorizationStatus()
{
    switch ([AVCaptureDevice authorizationStatusForMediaType:AVMediaTypeAudio]) {
    case AVAuthorizationStatusAuthorized:
        return permissions::AuthorizationStatus::Authorized;
    case AVAuthorizationStatusDenied:
        return permissions::AuthorizationStatus::Denied;
    case AVAuthorizationStatusRestricted:
        return permissions::AuthorizationStatus::Restricted;
    case AVAuthorizationStatusNotDetermined:
        break;
    }
    return permissions::AuthorizationStatus::NotDetermined;
}

void MacMicrophoneAuthorization::requestAccess(std::function<void(bool granted)> completion)
{
    [AVCaptureDevice requestAccessForMediaType:AVMediaTypeAudio
                             completionHandler:^(BOOL granted) {
                               const bool answer = granted;
                               postToMainThread([completion, answer] { completion(answer); });
                             }];
}

} // namespace macos
