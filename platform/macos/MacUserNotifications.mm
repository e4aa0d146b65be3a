#include "platform/macos/MacUserNotifications.h"

#include "platform/macos/CFSupport.h"
#include "platform/macos/MainThread.h"

#include <UserNotifications/UserNotifications.h>

@interface OrleaNotificationDelegate : NSObject <UNUserNotificationCenterDelegate>
// Called with the identifier of the notification the user clicked, on a queue of the system's.
@property(nonatomic, copy) void (^activated)(NSString* identifier);
@end

@implementation OrleaNotificationDelegate
- (void)userNotificationCenter:(UNUserNotificationCenter*)center
    didReceiveNotificationResponse:(UNNotificationResponse*)response
             withCompletionHandler:(void (^)(void))completionHandler
{
    if ([response.actionIdentifier isEqualToString:UNNotificationDefaultActionIdentifier] && self.activated)
        self.activated(response.notification.request.identifier);
    completionHandler();
}

- (void)userNotificationCenter:(UNUserNotificationCenter*)center
       willPresentNotification:(UNNotification*)notification
         withCompletionHandler:(void (^)(UNNotificationPresentationOptions options))completionHandler
{
    // An urgent call is announced even while Orlea is the front application.
    completionHandler(UNNotificationPresentationOptionBanner | UNNotificationPresentationOptionList |
                      UNNotificationPresentationOptionSound);
}
@end

namespace macos {

namespace {

NSString* toNSString(const QString& text)
{
    return [NSString stringWithCharacters:reinterpret_cast<const unichar*>(text.utf16())
                                   length:NSUInteger(text.size())];
}

std::optional<notifications::Error> errorOf(NSError* error)
{
    if (error == nil)
        return std::nullopt;
    return notifications::Error{toQString((__bridge CFStringRef)error.domain), int(error.code),
                                toQString((__bridge CFStringRef)error.localizedDescription)};
}

} // namespace

struct MacUserNotifications::Delegate {
    OrleaNotificationDelegate* object = nil;
    std::shared_ptr<std::function<void(const QString&)>> handler =
        std::make_shared<std::function<void(const QString&)>>();
};

MacUserNotifications::MacUserNotifications() : m_delegate(std::make_unique<Delegate>())
{
    m_delegate->object = [OrleaNotificationDelegate new];
    std::weak_ptr<std::function<void(const QString&)>> handler = m_delegate->handler;
    m_delegate->object.activated = ^(NSString* identifier) {
      const QString text = toQString((__bridge CFStringRef)identifier);
      postToMainThread([handler, text] {
          if (const auto live = handler.lock(); live && *live)
              (*live)(text);
      });
    };
    // The centre holds its delegate weakly; m_delegate keeps it alive.
    [UNUserNotificationCenter currentNotificationCenter].delegate = m_delegate->object;
}

MacUserNotifications::~MacUserNotifications()
{
    [UNUserNotificationCenter currentNotificationCenter].delegate = nil;
}

void MacUserNotifications::requestAuthorization(
    std::function<void(bool granted, std::optional<notifications::Error> error)> completion)
{
    [[UNUserNotificationCenter currentNotificationCenter]
        requestAuthorizationWithOptions:(UNAuthorizationOptionAlert | UNAuthorizationOptionSound)
                      completionHandler:^(BOOL granted, NSError* error) {
                        const bool answer = granted;
                        const std::optional<notifications::Error> failure = errorOf(error);
                        postToMainThread([completion, answer, failure] {
                            if (completion)
                                completion(answer, failure);
                        });
                      }];
}

void MacUserNotifications::add(const notifications::NotificationRequest& request,
                               std::function<void(std::optional<notifications::Error> error)> completion)
{
    UNMutableNotificationContent* content = [UNMutableNotificationContent new];
    content.title = toNSString(request.title);
    content.body = toNSString(request.body);
    content.sound = [UNNotificationSound defaultSound];
    // No trigger: delivered at once.
    UNNotificationRequest* notification =
        [UNNotificationRequest requestWithIdentifier:toNSString(request.identifier)
                                             content:content
                                             trigger:nil];
    [[UNUserNotificationCenter currentNotificationCenter]
        addNotificationRequest:notification
         withCompletionHandler:^(NSError* error) {
           const std::optional<notifications::Error> failure = errorOf(error);
           postToMainThread([completion, failure] {
               if (completion)
                   completion(failure);
           });
         }];
}

void MacUserNotifications::setActivationHandler(std::function<void(const QString& identifier)> handler)
{
    *m_delegate->handler = std::move(handler);
}

} // namespace macos
