#pragma once

#include "platform/notifications/UserNotifications.h"
#include "platform/sim/mac/MicrophoneAccess.h"

#include <QList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Scheduler;

namespace sim {

// The notification centre of the simulated Mac for our application: the authorisation the system asks
// for once (answered by the simulated user's policy or by the control API), the notifications delivered,
// which a test reads, and the user's click on one. With a host centre (the Linux desktop's, in the
// window demo) each delivered notification is also shown there, and a click there counts as a click here.
// Main thread only; completions run through the scheduler, later than the call.
class NotificationCenter final : public notifications::UserNotificationCenter {
public:
    enum class Authorization { NotDetermined, Denied, Authorized };

    explicit NotificationCenter(Scheduler& scheduler);
    ~NotificationCenter() override;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // notifications::UserNotificationCenter
    void requestAuthorization(
        std::function<void(bool granted, std::optional<notifications::Error> error)> completion) override;
    void add(const notifications::NotificationRequest& request,
             std::function<void(std::optional<notifications::Error> error)> completion) override;
    void setActivationHandler(std::function<void(const QString& identifier)> handler) override;

    // --- control and inspection
    Authorization authorization() const { return m_authorization; }
    // The switch in System Settings › Notifications; answers a shown prompt as well.
    void setAuthorization(Authorization authorization);
    // What the simulated user answers to the prompt (Ask: it stays shown until `answerPrompt`).
    void setPromptAnswer(UserAnswer answer) { m_promptAnswer = answer; }
    bool isPromptShown() const { return !m_waiting.empty(); }
    bool answerPrompt(bool allow);
    // The system refuses the next requests with this error (nothing: it takes them again).
    void setDeliveryFailure(std::optional<notifications::Error> error)
    {
        m_deliveryFailure = std::move(error);
    }
    // Shown to the user, oldest first.
    const QList<notifications::NotificationRequest>& delivered() const { return m_delivered; }
    // The user clicks the notification with that identifier; false when none was delivered.
    bool activate(const QString& identifier);
    // Also shows notifications on `host` (null: nowhere else); it must outlive this centre or be unset.
    void setHost(notifications::UserNotificationCenter* host);
    double userDelaySeconds = 0.5;

    // Called on every prompt, answer and delivery.
    std::function<void(const QString& what)> onEvent;

private:
    void later(std::function<void()> task);

    Scheduler& m_scheduler;
    Authorization m_authorization = Authorization::NotDetermined;
    UserAnswer m_promptAnswer = UserAnswer::Ask;
    std::vector<std::function<void(bool, std::optional<notifications::Error>)>> m_waiting;
    std::optional<notifications::Error> m_deliveryFailure;
    QList<notifications::NotificationRequest> m_delivered;
    std::function<void(const QString&)> m_activation;
    notifications::UserNotificationCenter* m_host = nullptr;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace sim
