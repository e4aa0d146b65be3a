#pragma once

// Declaration-only stand-in for part of Apple's SDK, used only to type-check our Objective-C++ sources on
// other systems. Written from Apple's documentation, not copied from the SDK; unverified until a Mac build
// confirms it. Declares only what our sources use (no bodies).

#include <Foundation/Foundation.h>

// AVFoundation/AVMediaFormat.h
typedef NSString* AVMediaType;
extern "C" AVMediaType const AVMediaTypeAudio;

// AVFoundation/AVCaptureDevice.h
typedef enum AVAuthorizationStatus : NSInteger {
    AVAuthorizationStatusNotDetermined = 0,
    AVAuthorizationStatusRestricted = 1,
    AVAuthorizationStatusDenied = 2,
    AVAuthorizationStatusAuthorized = 3,
} AVAuthorizationStatus;

@interface AVCaptureDevice : NSObject
+ (AVAuthorizationStatus)authorizationStatusForMediaType:(AVMediaType)mediaType;
+ (void)requestAccessForMediaType:(AVMediaType)mediaType completionHandler:(void (^)(BOOL granted))handler;
@end
