#include "platform/sim/mac/NotificationCenter.h"

#include "app/common/Scheduler.h"

namespace sim {

namespace {
// UNErrorCodeNotificationsNotAllowed, as the system reports a request of an application it may not notify.
notifications::Error notAllowed()
{
    return {QStringLiteral("UNErrorDomain"), 1,
            QStringLiteral("Les notifications ne sont pas autorisées pour cette application.")};
}
} // namespace

NotificationCenter::NotificationCenter(Scheduler& scheduler) : m_scheduler(scheduler) {}

NotificationCenter::~NotificationCenter()
{
    *m_alive = false;
    setHost(nullptr);
}

void NotificationCenter::later(std::function<void()> task)
{
    // Never inside the caller's own call: the system answers on its own turn.
    std::weak_ptr<bool> alive = m_alive;
    m_scheduler.after(0, [alive, task = std::move(task)] {
        if (!alive.expired())
            task();
    });
}

void NotificationCenter::requestAuthorization(
    std::function<void(bool granted, std::optional<notifications::Error> error)> completion)
{
    if (!completion)
        completion = [](bool, std::optional<notifications::Error>) {};
    if (m_authorization != Authorization::NotDetermined) {
        const bool granted = m_authorization == Authorization::Authorized;
        later([completion = std::move(completion), granted] { completion(granted, std::nullopt); });
        return;
    }
    const bool showing = !m_waiting.empty();
    m_waiting.push_back(std::move(completion));
    if (showing)
        return;
    if (onEvent)
        onEvent(QStringLiteral("Demande d’autorisation des notifications affichée"));
    if (m_promptAnswer == UserAnswer::Ask)
        return;
    const bool allow = m_promptAnswer == UserAnswer::Grant;
    std::weak_ptr<bool> alive = m_alive;
    m_scheduler.after(userDelaySeconds, [this, alive, allow] {
        if (!alive.expired())
            answerPrompt(allow);
    });
}

bool NotificationCenter::answerPrompt(bool allow)
{
    if (m_waiting.empty())
        return false;
    setAuthorization(allow ? Authorization::Authorized : Authorization::Denied);
    return true;
}

void NotificationCenter::setAuthorization(Authorization authorization)
{
    m_authorization = authorization;
    if (authorization == Authorization::NotDetermined)
        return;
    const bool granted = authorization == Authorization::Authorized;
    if (onEvent)
        onEvent(granted ? QStringLiteral("Notifications : autorisées")
                        : QStringLiteral("Notifications : refusées"));
    auto waiting = std::exchange(m_waiting, {});
    for (auto& completion : waiting)
        later([completion = std::move(completion), granted] { completion(granted, std::nullopt); });
}

void NotificationCenter::add(const notifications::NotificationRequest& request,
                             std::function<void(std::optional<notifications::Error> error)> completion)
{
    if (!completion)
        completion = [](std::optional<notifications::Error>) {};
    std::optional<notifications::Error> refusal = m_deliveryFailure;
    if (m_authorization != Authorization::Authorized)
        refusal = notAllowed();
    if (refusal) {
        later([completion = std::move(completion), refusal] { completion(refusal); });
        return;
    }
    m_delivered.append(request);
    if (onEvent)
        onEvent(QStringLiteral("Notification : ") + request.title + QStringLiteral(" — ") + request.body);
    if (m_host) {
        // What the user sees is the host's: its answer is the answer.
        m_host->add(request, std::move(completion));
        return;
    }
    later([completion = std::move(completion)] { completion(std::nullopt); });
}

void NotificationCenter::setActivationHandler(std::function<void(const QString& identifier)> handler)
{
    m_activation = std::move(handler);
}

bool NotificationCenter::activate(const QString& identifier)
{
    for (const notifications::NotificationRequest& request : std::as_const(m_delivered)) {
        if (request.identifier != identifier)
            continue;
        if (onEvent)
            onEvent(QStringLiteral("Notification ouverte : ") + request.title);
        if (m_activation)
            m_activation(identifier);
        return true;
    }
    return false;
}

void NotificationCenter::setHost(notifications::UserNotificationCenter* host)
{
    if (m_host)
        m_host->setActivationHandler(nullptr);
    m_host = host;
    if (!m_host)
        return;
    std::weak_ptr<bool> alive = m_alive;
    m_host->setActivationHandler([this, alive](const QString& identifier) {
        if (!alive.expired())
            activate(identifier);
    });
}

} // namespace sim
