#pragma once

#include <QList>
#include <QString>
#include <memory>
#include <optional>
#include <variant>

// The Accessibility service, shaped like the macOS AXUIElement API so that a macOS backend is a thin
// pass-through: reference-counted element handles, attribute reads that yield a typed value or an
// error code, named actions and per-element messaging time-outs.
namespace ax {

// The AXError codes the program distinguishes.
enum class Error {
    Success = 0,
    Failure = -25200,
    IllegalArgument = -25201,
    InvalidUIElement = -25202,
    InvalidUIElementObserver = -25203,
    CannotComplete = -25204,
    AttributeUnsupported = -25205,
    ActionUnsupported = -25206,
    NotImplemented = -25208,
    APIDisabled = -25211,
    NoValue = -25212,
};

// What a backend keeps behind an element handle (the AXUIElementRef object). Backends subclass it.
class ElementRef {
public:
    virtual ~ElementRef() = default;
    // Whether both references denote the same user-interface element (CFEqual).
    virtual bool sameElement(const ElementRef& other) const { return this == &other; }
};

// A reference-counted handle on one user-interface element; copies share the reference, and with it
// the messaging time-out set on it. A default handle refers to nothing.
class Element {
public:
    Element() = default;
    explicit Element(std::shared_ptr<ElementRef> ref) : m_ref(std::move(ref)) {}

    bool isNull() const { return !m_ref; }
    ElementRef* ref() const { return m_ref.get(); }
    // Same reference object, not merely the same element.
    bool isSameReference(const Element& other) const { return m_ref == other.m_ref; }
    friend bool operator==(const Element& a, const Element& b)
    {
        if (a.m_ref == b.m_ref)
            return true;
        return a.m_ref && b.m_ref && a.m_ref->sameElement(*b.m_ref);
    }

private:
    std::shared_ptr<ElementRef> m_ref;
};

using ElementList = QList<Element>;

// An attribute value: nothing, a string, a boolean, a number, an element or a list of elements.
using Value = std::variant<std::monostate, QString, bool, double, Element, ElementList>;

// The result of one attribute read.
struct AttributeValue {
    Error error = Error::NoValue;
    Value value;

    bool ok() const { return error == Error::Success; }
    // The value when it has the asked type and the read succeeded; nothing otherwise.
    std::optional<QString> string() const;
    std::optional<bool> boolean() const;
    std::optional<Element> element() const;
    std::optional<ElementList> elements() const;
};

// Attribute and action names used by the program.
inline const QString kRoleAttribute = QStringLiteral("AXRole");
inline const QString kSubroleAttribute = QStringLiteral("AXSubrole");
inline const QString kTitleAttribute = QStringLiteral("AXTitle");
inline const QString kDescriptionAttribute = QStringLiteral("AXDescription");
inline const QString kHelpAttribute = QStringLiteral("AXHelp");
inline const QString kValueAttribute = QStringLiteral("AXValue");
inline const QString kIdentifierAttribute = QStringLiteral("AXIdentifier");
inline const QString kChildrenAttribute = QStringLiteral("AXChildren");
inline const QString kParentAttribute = QStringLiteral("AXParent");
inline const QString kWindowsAttribute = QStringLiteral("AXWindows");
inline const QString kMenuBarAttribute = QStringLiteral("AXMenuBar");
inline const QString kMenuItemMarkCharAttribute = QStringLiteral("AXMenuItemMarkChar");
inline const QString kSelectedAttribute = QStringLiteral("AXSelected");
inline const QString kEnabledAttribute = QStringLiteral("AXEnabled");

inline const QString kPressAction = QStringLiteral("AXPress");
inline const QString kCancelAction = QStringLiteral("AXCancel");

inline const QString kApplicationRole = QStringLiteral("AXApplication");
inline const QString kWindowRole = QStringLiteral("AXWindow");
inline const QString kButtonRole = QStringLiteral("AXButton");
inline const QString kGroupRole = QStringLiteral("AXGroup");
inline const QString kStaticTextRole = QStringLiteral("AXStaticText");
inline const QString kMenuBarRole = QStringLiteral("AXMenuBar");
inline const QString kMenuBarItemRole = QStringLiteral("AXMenuBarItem");
inline const QString kMenuRole = QStringLiteral("AXMenu");
inline const QString kMenuItemRole = QStringLiteral("AXMenuItem");

// The system's messaging time-out for an element on which none was set (macOS uses 6 seconds).
inline constexpr float kDefaultMessagingTimeoutSeconds = 6.0f;

// The Accessibility service of the running system.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    // AXIsProcessTrusted.
    virtual bool isProcessTrusted() = 0;
    // AXIsProcessTrustedWithOptions; with `prompt` the system asks the user to grant access when
    // the process is not yet trusted.
    virtual bool isProcessTrustedWithOptions(bool prompt) = 0;

    // AXUIElementCreateApplication: always yields a handle; reads fail if the process is gone.
    virtual Element createApplication(qint64 pid) = 0;
    // AXUIElementSetMessagingTimeout: a request the target does not answer within `timeoutSeconds`
    // fails with CannotComplete. Zero restores the system default.
    virtual Error setMessagingTimeout(const Element& element, float timeoutSeconds) = 0;
    // AXUIElementCopyAttributeValue.
    virtual AttributeValue copyAttributeValue(const Element& element, const QString& attribute) = 0;
    // AXUIElementPerformAction.
    virtual Error performAction(const Element& element, const QString& action) = 0;
};

} // namespace ax
