#pragma once

#include "platform/permissions/Permissions.h"

#include <functional>
#include <memory>
#include <vector>

class Scheduler;

namespace sim {

// What the simulated user does when the system asks something: answers yes, answers no, or leaves the
// question open until the control API (a test, the Simulateur window) answers for them.
enum class UserAnswer { Grant, Deny, Ask };

// The microphone privacy setting of the simulated Mac for our application, with the system's access
// dialog: a request while the status is not determined shows the dialog, answered by the policy.
class MicrophoneAccess final : public permissions::MicrophoneAuthorization {
public:
    // Completions and delayed answers run through `scheduler`, i.e. on the main thread.
    explicit MicrophoneAccess(Scheduler& scheduler);
    ~MicrophoneAccess() override;
    MicrophoneAccess(const MicrophoneAccess&) = delete;
    MicrophoneAccess& operator=(const MicrophoneAccess&) = delete;

    // permissions::MicrophoneAuthorization
    permissions::AuthorizationStatus authorizationStatus() override { return m_status; }
    void requestAccess(std::function<void(bool granted)> completion) override;

    // --- control
    void setDialogAnswer(UserAnswer answer) { m_dialogAnswer = answer; }
    UserAnswer dialogAnswer() const { return m_dialogAnswer; }
    // Seconds the simulated user takes to answer the dialog by policy.
    double answerDelaySeconds = 0.5;
    bool isDialogShown() const { return !m_waiting.empty(); }
    int dialogCount() const { return m_dialogs; }
    // The user answers the shown dialog; false when none is shown.
    bool answerDialog(bool grant);
    // The switch in the privacy page, or a device-management profile (Restricted). Answers a shown
    // dialog as well, as the system does when the setting changes under it.
    void setStatus(permissions::AuthorizationStatus status);

    // Called on every change of status or dialog.
    std::function<void()> onChanged;

private:
    void changed();
    void complete(std::function<void(bool)> completion, bool granted);

    Scheduler& m_scheduler;
    permissions::AuthorizationStatus m_status = permissions::AuthorizationStatus::NotDetermined;
    UserAnswer m_dialogAnswer = UserAnswer::Ask;
    std::vector<std::function<void(bool)>> m_waiting;
    int m_dialogs = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace sim
