#pragma once

#include "app/common/AppError.h"
#include "platform/ax/Accessibility.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

class Scheduler;
class UserDefaults;

namespace workspace {
class Workspace;
}

// Chooses the two virtual devices in the Phone app's "Vidéo" menu for the user (the Phone app has no
// other way to set its audio devices), checks the choice and puts the user's own devices back when it
// cannot be confirmed. Asynchronous on the main thread: the completion receives the error, or nothing
// on success; it may run before the call returns when the failure is immediate.
class NativeAudioSetup {
public:
    using Completion = std::function<void(std::optional<AppError> error)>;

    // What the Phone app must use as microphone, and as speaker.
    static inline const QString kMicrophoneDevice = QStringLiteral("Velkaro — IA vers appel");
    static inline const QString kSpeakerDevice = QStringLiteral("Velkaro — Appel vers IA");
    static constexpr double kLaunchSettleSeconds = 0.2;
    static constexpr double kMenuOpenSeconds = 0.12;
    static constexpr float kApplicationTimeoutSeconds = 0.5f;

    NativeAudioSetup(ax::Accessibility& accessibility, workspace::Workspace& workspace, Scheduler& scheduler,
                     UserDefaults& defaults);
    ~NativeAudioSetup();

    // Selects the two virtual devices, remembering the user's current choices; rolls back to them if
    // the selection fails or cannot be confirmed.
    void prepare(Completion done);
    // Puts both sections back on "Utiliser le réglage système".
    void useSystemAudio(Completion done);

private:
    using MenuCompletion =
        std::function<void(std::optional<ax::Element> menu, std::optional<AppError> error)>;

    void audioMenu(MenuCompletion done);
    ax::ElementList section(const ax::Element& menu, bool input);
    void choose(const QString& name, bool input, Completion done);
    bool selected(const ax::Element& item);
    ax::ElementList children(const ax::Element& element);
    QString title(const ax::Element& element);
    void cancel(const ax::Element& menu);

    void selectDevices(std::optional<QString> previousMicrophone, std::optional<QString> previousSpeaker,
                       Completion done);
    void confirm(std::optional<QString> previousMicrophone, std::optional<QString> previousSpeaker,
                 Completion done);
    void rollBack(std::optional<QString> previousMicrophone, std::optional<QString> previousSpeaker,
                  AppError cause, Completion done);
    void resetSection(bool input, Completion done);
    // Wraps a continuation so that it does nothing once this object is gone.
    std::function<void()> guarded(std::function<void()> step);

    ax::Accessibility& m_accessibility;
    workspace::Workspace& m_workspace;
    Scheduler& m_scheduler;
    UserDefaults& m_defaults;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
