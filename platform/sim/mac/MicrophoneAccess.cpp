#include "platform/sim/mac/MicrophoneAccess.h"

#include "app/common/Scheduler.h"

namespace sim {

using permissions::AuthorizationStatus;

MicrophoneAccess::MicrophoneAccess(Scheduler& scheduler) : m_scheduler(scheduler) {}

MicrophoneAccess::~MicrophoneAccess()
{
    *m_alive = false;
}

void MicrophoneAccess::complete(std::function<void(bool)> completion, bool granted)
{
    if (!completion)
        return;
    // Never inside the caller's own call: the system answers on its own turn.
    std::weak_ptr<bool> alive = m_alive;
    m_scheduler.after(0, [alive, completion = std::move(completion), granted] {
        if (!alive.expired())
            completion(granted);
    });
}

void MicrophoneAccess::requestAccess(std::function<void(bool granted)> completion)
{
    if (m_status != AuthorizationStatus::NotDetermined) {
        complete(std::move(completion), m_status == AuthorizationStatus::Authorized);
        return;
    }
    // One dialog for every request made while it is shown.
    const bool showing = !m_waiting.empty();
    m_waiting.push_back(completion ? std::move(completion) : [](bool) {});
    if (showing)
        return;
    ++m_dialogs;
    changed();
    if (m_dialogAnswer == UserAnswer::Ask)
        return;
    const bool grant = m_dialogAnswer == UserAnswer::Grant;
    std::weak_ptr<bool> alive = m_alive;
    m_scheduler.after(answerDelaySeconds, [this, alive, grant] {
        if (!alive.expired())
            answerDialog(grant);
    });
}

bool MicrophoneAccess::answerDialog(bool grant)
{
    if (m_waiting.empty())
        return false;
    setStatus(grant ? AuthorizationStatus::Authorized : AuthorizationStatus::Denied);
    return true;
}

void MicrophoneAccess::setStatus(AuthorizationStatus status)
{
    const bool same = status == m_status && m_waiting.empty();
    m_status = status;
    if (status != AuthorizationStatus::NotDetermined) {
        auto waiting = std::move(m_waiting);
        m_waiting.clear();
        for (auto& completion : waiting)
            complete(std::move(completion), status == AuthorizationStatus::Authorized);
    }
    if (!same)
        changed();
}

void MicrophoneAccess::changed()
{
    if (onChanged)
        onChanged();
}

} // namespace sim
