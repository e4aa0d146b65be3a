#pragma once

// Declaration-only stand-in for part of Apple's SDK, used only to type-check our Objective-C++ sources on
// other systems. Written from Apple's documentation, not copied from the SDK; unverified until a Mac build
// confirms it. Declares only what our sources use (no bodies); each group names the SDK header it stands
// for.

#include <Foundation/Foundation.h>

// UserNotifications/UNUserNotificationCenter.h (NS_OPTIONS in C++: plain NSUInteger)
typedef NSUInteger UNAuthorizationOptions;
enum : NSUInteger {
    UNAuthorizationOptionBadge = 1 << 0,
    UNAuthorizationOptionSound = 1 << 1,
    UNAuthorizationOptionAlert = 1 << 2,
};

typedef NSUInteger UNNotificationPresentationOptions;
enum : NSUInteger {
    UNNotificationPresentationOptionBadge = 1 << 0,
    UNNotificationPresentationOptionSound = 1 << 1,
    UNNotificationPresentationOptionList = 1 << 3,
    UNNotificationPresentationOptionBanner = 1 << 4,
};

// UserNotifications/UNNotificationSound.h
@interface UNNotificationSound : NSObject
@property(class, readonly, copy) UNNotificationSound* defaultSound;
@end

// UserNotifications/UNNotificationContent.h
@interface UNNotificationContent : NSObject
@property(readonly, copy) NSString* title;
@property(readonly, copy) NSString* body;
@end

@interface UNMutableNotificationContent : UNNotificationContent
@property(copy) NSString* title;
@property(copy) NSString* body;
@property(copy) UNNotificationSound* sound;
@end

// UserNotifications/UNNotificationTrigger.h
@interface UNNotificationTrigger : NSObject
@end

// UserNotifications/UNNotificationRequest.h
@interface UNNotificationRequest : NSObject
+ (instancetype)requestWithIdentifier:(NSString*)identifier
                              content:(UNNotificationContent*)content
                              trigger:(UNNotificationTrigger*)trigger;
@property(readonly, copy) NSString* identifier;
@end

// UserNotifications/UNNotification.h
@interface UNNotification : NSObject
@property(readonly, copy) UNNotificationRequest* request;
@end

// UserNotifications/UNNotificationResponse.h
extern "C" NSString* const UNNotificationDefaultActionIdentifier;

@interface UNNotificationResponse : NSObject
@property(readonly, copy) UNNotification* notification;
@property(readonly, copy) NSString* actionIdentifier;
@end

// UserNotifications/UNUserNotificationCenter.h
@class UNUserNotificationCenter;

@protocol UNUserNotificationCenterDelegate <NSObject>
@optional
- (void)userNotificationCenter:(UNUserNotificationCenter*)center
       willPresentNotification:(UNNotification*)notification
         withCompletionHandler:(void (^)(UNNotificationPresentationOptions options))completionHandler;
- (void)userNotificationCenter:(UNUserNotificationCenter*)center
    didReceiveNotificationResponse:(UNNotificationResponse*)response
             withCompletionHandler:(void (^)(void))completionHandler;
@end

@interface UNUserNotificationCenter : NSObject
+ (UNUserNotificationCenter*)currentNotificationCenter;
@property(weak) id<UNUserNotificationCenterDelegate> delegate;
- (void)requestAuthorizationWithOptions:(UNAuthorizationOptions)options
                      completionHandler:(void (^)(BOOL granted, NSError* error))completionHandler;
- (void)addNotificationRequest:(UNNotificationRequest*)request
         withCompletionHandler:(void (^)(NSError* error))completionHandler;
@end
