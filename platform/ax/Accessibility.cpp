#include "platform/ax/Accessibility.h"

namespace ax {

namespace {
template <typename T> std::optional<T> valueAs(const AttributeValue& read)
{
    if (read.error != Error::Success)
        return std::nullopt;
    if (const T* value = std::get_if<T>(&read.value))
        return *value;
    return std::nullopt;
}
} // namespace

std::optional<QString> AttributeValue::string() const
{
    return valueAs<QString>(*this);
}

std::optional<bool> AttributeValue::boolean() const
{
    return valueAs<bool>(*this);
}

std::optional<Element> AttributeValue::element() const
{
    auto element = valueAs<Element>(*this);
    if (element && element->isNull())
        return std::nullopt;
    return element;
}

std::optional<ElementList> AttributeValue::elements() const
{
    return valueAs<ElementList>(*this);
}

} // namespace ax
