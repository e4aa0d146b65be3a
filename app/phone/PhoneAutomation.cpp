#include "app/phone/PhoneAutomation.h"

#include "app/common/AppError.h"
#include "app/common/Clock.h"
#include "app/common/TextFolding.h"
#include "app/records/CallPolicy.h"
#include "platform/workspace/Workspace.h"

namespace {

const QString kNotificationCentre = QStringLiteral("com.apple.notificationcenterui");

// The processes searched, in no particular order: the workspace's order decides.
bool isTelephonyProcess(const QString& bundle)
{
    return bundle == QLatin1String("com.apple.mobilephone") ||
           bundle == QLatin1String("com.apple.FaceTime") ||
           bundle == QLatin1String("com.apple.TelephonyUtilities.PhoneCallUI") ||
           bundle == kNotificationCentre;
}

// Word lists, already in normalised form; a label matches only when equal to an entry. Both
// apostrophes appear because builds of the Phone app use either.
const QStringList& answerWords()
{
    static const QStringList words = {
        QStringLiteral("accepter"),
        QStringLiteral("decrocher"),
        QStringLiteral("repondre"),
        QStringLiteral("answer"),
        QStringLiteral("accept"),
        QStringLiteral("accept call"),
        QStringLiteral("repondre a l’appel"),
        QStringLiteral("repondre a l'appel"),
    };
    return words;
}

const QStringList& hangupWords()
{
    static const QStringList words = {
        QStringLiteral("raccrocher"), QStringLiteral("terminer l’appel"), QStringLiteral("terminer l'appel"),
        QStringLiteral("end call"),   QStringLiteral("hang up"),
    };
    return words;
}

const QStringList& activeScreenWords()
{
    static const QStringList words = {QStringLiteral("telephone"), QStringLiteral("phone"),
                                      QStringLiteral("facetime")};
    return words;
}

const QStringList& incomingScreenWords()
{
    static const QStringList words = {QStringLiteral("telephone"), QStringLiteral("phone"),
                                      QStringLiteral("facetime"), QStringLiteral("appel entrant"),
                                      QStringLiteral("incoming call")};
    return words;
}

} // namespace

PhoneAutomation::PhoneAutomation(ax::Accessibility& accessibility, workspace::Workspace& workspace,
                                 Clock& clock)
    : m_accessibility(accessibility), m_workspace(workspace), m_clock(clock)
{
}

void PhoneAutomation::startOperation()
{
    m_deadline = m_clock.uptimeSeconds() + kBudgetSeconds;
    m_applicationElements.clear();
}

bool PhoneAutomation::deadlinePassed() const
{
    return m_clock.uptimeSeconds() >= m_deadline;
}

ax::AttributeValue PhoneAutomation::read(const ax::Element& element, const QString& attribute)
{
    bool application = false;
    for (const auto& app : m_applicationElements) {
        if (app.isSameReference(element)) {
            application = true;
            break;
        }
    }
    // A hung process costs at most this time-out per read.
    if (!application)
        m_accessibility.setMessagingTimeout(element, kElementTimeoutSeconds);
    return m_accessibility.copyAttributeValue(element, attribute);
}

std::vector<PhoneAutomation::Root> PhoneAutomation::roots()
{
    std::vector<Root> result;
    for (const workspace::RunningApplication& app : m_workspace.runningApplications()) {
        if (!isTelephonyProcess(app.bundleIdentifier))
            continue;
        ax::Element element = m_accessibility.createApplication(app.processIdentifier);
        m_accessibility.setMessagingTimeout(element, kApplicationTimeoutSeconds);
        m_applicationElements.push_back(element);
        result.push_back({element, app.bundleIdentifier != kNotificationCentre});
    }
    return result;
}

std::vector<ax::Element> PhoneAutomation::descendants(const ax::Element& root)
{
    std::vector<ax::Element> result;
    std::vector<std::pair<ax::Element, int>> stack{{root, 0}};
    while (!stack.empty()) {
        auto [element, depth] = std::move(stack.back());
        stack.pop_back();
        if (result.size() >= std::size_t(kMaxElements) || deadlinePassed())
            break;
        result.push_back(element);
        if (depth < kMaxDepth && !deadlinePassed()) {
            if (auto children = read(element, ax::kChildrenAttribute).elements()) {
                for (const ax::Element& child : *children)
                    stack.emplace_back(child, depth + 1);
            }
        }
    }
    return result;
}

QStringList PhoneAutomation::labels(const ax::Element& element)
{
    QStringList result;
    for (const QString* attribute :
         {&ax::kTitleAttribute, &ax::kDescriptionAttribute, &ax::kHelpAttribute, &ax::kValueAttribute}) {
        if (deadlinePassed())
            break;
        if (auto text = read(element, *attribute).string(); text && !text->isEmpty())
            result.append(*text);
    }
    return result;
}

bool PhoneAutomation::isButton(const ax::Element& element)
{
    const auto role = read(element, ax::kRoleAttribute).string();
    return role && *role == ax::kButtonRole;
}

bool PhoneAutomation::hasLabelIn(const QStringList& labels, const QStringList& words) const
{
    for (const QString& label : labels)
        if (words.contains(TextFolding::normalizedLabel(label)))
            return true;
    return false;
}

QStringList PhoneAutomation::contextLabels(const ax::Element& button)
{
    ax::Element context = button;
    for (int level = 0; level < 3 && !deadlinePassed(); ++level) {
        auto parent = read(context, ax::kParentAttribute).element();
        if (!parent)
            break;
        context = *parent;
    }
    QStringList collected;
    for (const ax::Element& element : descendants(context))
        collected.append(labels(element));
    return collected;
}

std::optional<IncomingCall> PhoneAutomation::incoming()
{
    startOperation();
    if (!m_accessibility.isProcessTrusted())
        return std::nullopt;
    for (const Root& root : roots()) {
        for (const ax::Element& element : descendants(root.element)) {
            if (deadlinePassed())
                break;
            if (!isButton(element) || !hasLabelIn(labels(element), answerWords()))
                continue;
            const QStringList context = contextLabels(element);
            // A banner's accept button counts only beside words of a call screen: calendar
            // invitations have accept buttons too.
            if (!root.isPhoneApplication && !hasLabelIn(context, incomingScreenWords()))
                continue;
            return IncomingCall{
                element, CallPolicy::phoneNumber(context).value_or(QStringLiteral("Identité à confirmer"))};
        }
    }
    return std::nullopt;
}

void PhoneAutomation::answer(const IncomingCall& call)
{
    startOperation();
    const QString gone = QStringLiteral("L’appel n’est plus disponible.");
    if (!m_accessibility.isProcessTrusted())
        throw AppError(gone);
    // The snapshot may be stale: the caller hung up, or the app redrew the button as something else.
    if (!hasLabelIn(labels(call.button), answerWords()))
        throw AppError(gone);
    if (m_accessibility.performAction(call.button, ax::kPressAction) != ax::Error::Success)
        throw AppError(QStringLiteral("Le bouton Décrocher n’a pas répondu. Décrochez dans Téléphone."));
}

bool PhoneAutomation::hasActiveCall()
{
    startOperation();
    if (!m_accessibility.isProcessTrusted())
        return false;
    for (const Root& root : roots()) {
        for (const ax::Element& element : descendants(root.element)) {
            if (deadlinePassed())
                break;
            if (!isButton(element) || !hasLabelIn(labels(element), hangupWords()))
                continue;
            if (root.isPhoneApplication)
                return true;
            // A notification centre hang-up button counts only in a telephony banner.
            QStringList rootLabels;
            for (const ax::Element& any : descendants(root.element))
                rootLabels.append(labels(any));
            if (hasLabelIn(rootLabels, activeScreenWords()))
                return true;
            break;
        }
    }
    return false;
}

void PhoneAutomation::hangup()
{
    // No trust check: without it nothing can be read and the button is simply not found.
    startOperation();
    for (const Root& root : roots()) {
        if (!root.isPhoneApplication)
            continue;
        for (const ax::Element& element : descendants(root.element)) {
            if (deadlinePassed())
                break;
            if (!isButton(element) || !hasLabelIn(labels(element), hangupWords()))
                continue;
            if (m_accessibility.performAction(element, ax::kPressAction) != ax::Error::Success)
                throw AppError(QStringLiteral("Raccrochez dans Téléphone."));
            return;
        }
    }
    throw AppError(QStringLiteral("Bouton Raccrocher introuvable : terminez l’appel dans Téléphone."));
}
