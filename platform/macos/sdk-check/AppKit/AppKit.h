#pragma once

// Declaration-only stand-in for part of Apple's SDK, used only to type-check our Objective-C++ sources on
// other systems. Written from Apple's documentation, not copied from the SDK; unverified until a Mac build
// confirms it. Declares only what our sources use (no bodies); each group names the SDK header it stands
// for.

#include <Foundation/Foundation.h>
#include <sys/types.h>

// AppKit/NSRunningApplication.h
// NS_OPTIONS in C++: a plain NSUInteger, so that options combine with |.
typedef NSUInteger NSApplicationActivationOptions;
enum : NSUInteger {
    NSApplicationActivateAllWindows = 1 << 0,
    NSApplicationActivateIgnoringOtherApps = 1 << 1,
};

@interface NSRunningApplication : NSObject
@property(class, readonly) NSRunningApplication* currentApplication;
+ (instancetype)runningApplicationWithProcessIdentifier:(pid_t)pid;
@property(readonly, copy) NSString* bundleIdentifier;
@property(readonly) pid_t processIdentifier;
@property(readonly, copy) NSString* localizedName;
@property(readonly, getter=isActive) BOOL active;
- (BOOL)activateWithOptions:(NSApplicationActivationOptions)options;
- (BOOL)activateFromApplication:(NSRunningApplication*)application
                        options:(NSApplicationActivationOptions)options;
@end

// AppKit/NSWorkspace.h
@interface NSWorkspaceOpenConfiguration : NSObject
+ (instancetype)configuration;
@property BOOL activates;
@end

@interface NSWorkspace : NSObject
@property(class, readonly, strong) NSWorkspace* sharedWorkspace;
@property(readonly, strong) NSNotificationCenter* notificationCenter;
@property(readonly, copy) NSArray<NSRunningApplication*>* runningApplications;
@property(readonly, strong) NSRunningApplication* frontmostApplication;
- (NSURL*)URLForApplicationWithBundleIdentifier:(NSString*)bundleIdentifier;
- (void)openApplicationAtURL:(NSURL*)applicationURL
               configuration:(NSWorkspaceOpenConfiguration*)configuration
           completionHandler:(void (^)(NSRunningApplication* app, NSError* error))completionHandler;
- (BOOL)openURL:(NSURL*)url;
- (void)activateFileViewerSelectingURLs:(NSArray<NSURL*>*)fileURLs;
@end

extern "C" NSNotificationName const NSWorkspaceWillSleepNotification;
