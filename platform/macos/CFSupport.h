#pragma once

// Ownership and text conversion for Core Foundation objects in the macOS backends.

#include <CoreFoundation/CoreFoundation.h>

#include <QString>
#include <utility>

namespace macos {

// Owns one reference to a Core Foundation object and releases it once, when the holder goes or is reset:
// what a Copy or Create function returned, or what `retain` added to an object the caller does not own.
template <typename Ref> class CFRef {
public:
    CFRef() = default;
    ~CFRef() { reset(); }
    CFRef(CFRef&& other) noexcept : m_ref(std::exchange(other.m_ref, nullptr)) {}
    CFRef& operator=(CFRef&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_ref = std::exchange(other.m_ref, nullptr);
        }
        return *this;
    }
    CFRef(const CFRef&) = delete;
    CFRef& operator=(const CFRef&) = delete;

    // Takes over a reference the caller owns (the Create and Copy rule).
    static CFRef adopt(Ref ref)
    {
        CFRef owned;
        owned.m_ref = ref;
        return owned;
    }
    // Adds a reference to an object obtained under the Get rule.
    static CFRef retain(Ref ref)
    {
        if (ref != nullptr)
            CFRetain(ref);
        return adopt(ref);
    }

    Ref get() const { return m_ref; }
    explicit operator bool() const { return m_ref != nullptr; }
    // For a Copy function's out parameter: releases what was held and receives the new reference.
    Ref* out()
    {
        reset();
        return &m_ref;
    }
    void reset()
    {
        if (m_ref != nullptr)
            CFRelease(m_ref);
        m_ref = nullptr;
    }

private:
    Ref m_ref = nullptr;
};

// The characters of a Core Foundation string (also an NSString, bridged); empty for null.
QString toQString(CFStringRef string);
CFRef<CFStringRef> toCFString(const QString& text);

} // namespace macos
