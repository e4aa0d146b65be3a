#pragma once

#include "app/phone/IncomingCall.h"
#include "platform/ax/Accessibility.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

class Clock;

namespace workspace {
class Workspace;
}

// Sees, answers and hangs up the calls of the Phone app through Accessibility, by reading the visible
// labels of the telephony processes' buttons. Every operation is bounded to about one second of
// Accessibility work however large or hung the other processes are: a deadline, a 600-element cap per
// walk and a depth limit of 12. Main thread only.
class PhoneAutomation {
public:
    PhoneAutomation(ax::Accessibility& accessibility, workspace::Workspace& workspace, Clock& clock);

    // The ringing call and its answer button, if any (nothing without Accessibility trust).
    std::optional<IncomingCall> incoming();
    // Presses the call's answer button after checking it still is one; throws AppError.
    void answer(const IncomingCall& call);
    // Whether a hang-up button is visible in a call screen.
    bool hasActiveCall();
    // Presses the first hang-up button of a phone application; throws AppError.
    void hangup();

    static constexpr double kBudgetSeconds = 1.0;
    static constexpr int kMaxElements = 600;
    static constexpr int kMaxDepth = 12;
    static constexpr float kElementTimeoutSeconds = 0.03f;
    static constexpr float kApplicationTimeoutSeconds = 0.15f;

private:
    struct Root {
        ax::Element element;
        bool isPhoneApplication = false;
    };

    void startOperation();
    bool deadlinePassed() const;
    std::vector<Root> roots();
    std::vector<ax::Element> descendants(const ax::Element& root);
    QStringList labels(const ax::Element& element);
    ax::AttributeValue read(const ax::Element& element, const QString& attribute);
    bool isButton(const ax::Element& element);
    bool hasLabelIn(const QStringList& labels, const QStringList& words) const;
    // The labels of everything around a candidate answer button (up to three levels above it).
    QStringList contextLabels(const ax::Element& button);

    ax::Accessibility& m_accessibility;
    workspace::Workspace& m_workspace;
    Clock& m_clock;
    // Uptime after which the current operation stops reading the interface.
    double m_deadline = 0;
    // The application elements of the current operation keep their longer time-out.
    std::vector<ax::Element> m_applicationElements;
};
