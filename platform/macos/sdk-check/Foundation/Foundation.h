#pragma once

// Declaration-only stand-in for part of Apple's SDK, used only to type-check our Objective-C++ sources on
// other systems. Written from Apple's documentation, not copied from the SDK; unverified until a Mac build
// confirms it. Declares only what our sources use (no bodies); each group names the SDK header it stands
// for.

#include <CoreFoundation/CoreFoundation.h>

// objc/objc.h (BOOL as on Apple silicon)
typedef bool BOOL;
#define YES true
#define NO false
#define nil nullptr

// Foundation/NSObjCRuntime.h
typedef long NSInteger;
typedef unsigned long NSUInteger;

// Foundation/NSObject.h (objc/NSObject.h)
@protocol NSObject
@end

__attribute__((objc_root_class))
@interface NSObject<NSObject>
+ (instancetype)new;
@end

// Foundation/NSEnumerator.h
typedef struct {
    unsigned long state;
    id __unsafe_unretained* itemsPtr;
    unsigned long* mutationsPtr;
    unsigned long extra[5];
} NSFastEnumerationState;

@protocol NSFastEnumeration
- (NSUInteger)countByEnumeratingWithState:(NSFastEnumerationState*)state
                                  objects:(id __unsafe_unretained[])buffer
                                    count:(NSUInteger)len;
@end

// Foundation/NSString.h
typedef unsigned short unichar;

@interface NSString : NSObject
+ (instancetype)stringWithCharacters:(const unichar*)characters length:(NSUInteger)length;
- (BOOL)isEqualToString:(NSString*)aString;
@end

// Foundation/NSArray.h
@interface NSArray<ObjectType> : NSObject <NSFastEnumeration>
@property(readonly) NSUInteger count;
@end

@interface NSMutableArray<ObjectType> : NSArray <ObjectType>
+ (instancetype)arrayWithCapacity:(NSUInteger)numItems;
- (void)addObject:(ObjectType)anObject;
@end

// Foundation/NSURL.h
@interface NSURL : NSObject
+ (instancetype)URLWithString:(NSString*)URLString;
@property(readonly, copy) NSString* absoluteString;
@end

// Foundation/NSError.h
typedef NSString* NSErrorDomain;

@interface NSError : NSObject
@property(readonly, copy) NSErrorDomain domain;
@property(readonly) NSInteger code;
@property(readonly, copy) NSString* localizedDescription;
@end

// Foundation/NSOperation.h
@interface NSOperationQueue : NSObject
@property(class, readonly, strong) NSOperationQueue* mainQueue;
@end

// Foundation/NSNotification.h
typedef NSString* NSNotificationName;

@interface NSNotification : NSObject
@property(readonly, copy) NSNotificationName name;
@end

@interface NSNotificationCenter : NSObject
- (id<NSObject>)addObserverForName:(NSNotificationName)name
                            object:(id)obj
                             queue:(NSOperationQueue*)queue
                        usingBlock:(void (^)(NSNotification* notification))block;
- (void)removeObserver:(id)observer;
@end
