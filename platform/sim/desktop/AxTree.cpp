#include "platform/sim/desktop/AxTree.h"

#include <algorithm>

namespace sim {

std::shared_ptr<AxNode> AxNode::make(const QString& role, const QString& title)
{
    auto node = std::make_shared<AxNode>();
    node->role = role;
    node->title = title;
    return node;
}

std::shared_ptr<AxNode> AxNode::text(const QString& value)
{
    auto node = make(ax::kStaticTextRole);
    node->value = value;
    return node;
}

std::shared_ptr<AxNode> AxNode::button(const QString& label, std::function<ax::Error()> press,
                                       const QString& labelAttribute)
{
    auto node = make(ax::kButtonRole);
    node->setLabel(labelAttribute, label);
    node->setAction(ax::kPressAction, std::move(press));
    return node;
}

std::shared_ptr<AxNode> AxNode::add(std::shared_ptr<AxNode> child)
{
    return insert(children.size(), std::move(child));
}

std::shared_ptr<AxNode> AxNode::insert(std::size_t index, std::shared_ptr<AxNode> child)
{
    child->parent = weak_from_this();
    adoptSubtree(*child, application);
    children.insert(children.begin() + std::ptrdiff_t(std::min(index, children.size())), child);
    return child;
}

void AxNode::remove(const std::shared_ptr<AxNode>& child)
{
    auto it = std::find(children.begin(), children.end(), child);
    if (it == children.end())
        return;
    killSubtree(**it);
    children.erase(it);
}

void AxNode::removeAllChildren()
{
    for (auto& child : children)
        killSubtree(*child);
    children.clear();
}

void AxNode::setAction(const QString& name, std::function<ax::Error()> handler)
{
    for (auto& [actionName, existing] : actions) {
        if (actionName == name) {
            existing = std::move(handler);
            return;
        }
    }
    actions.emplace_back(name, std::move(handler));
}

const std::function<ax::Error()>* AxNode::action(const QString& name) const
{
    for (const auto& [actionName, handler] : actions)
        if (actionName == name)
            return &handler;
    return nullptr;
}

void AxNode::setLabel(const QString& attribute, const QString& label)
{
    if (attribute == ax::kDescriptionAttribute)
        description = label;
    else if (attribute == ax::kHelpAttribute)
        help = label;
    else if (attribute == ax::kValueAttribute)
        value = label;
    else
        title = label;
}

std::size_t AxNode::subtreeSize() const
{
    std::size_t count = 1;
    for (const auto& child : children)
        count += child->subtreeSize();
    return count;
}

void killSubtree(AxNode& node)
{
    node.alive = false;
    for (auto& child : node.children)
        killSubtree(*child);
}

void adoptSubtree(AxNode& node, SimApplication* application)
{
    node.application = application;
    node.alive = true;
    for (auto& child : node.children)
        adoptSubtree(*child, application);
}

std::shared_ptr<AxNode> makeFillerTree(std::size_t elementCount, int depth, const QString& label)
{
    auto root = AxNode::make(ax::kGroupRole);
    root->description = label;
    std::size_t made = 1;
    // A comb: a spine `depth` levels deep, and rows of texts hanging from each spine element, so the
    // tree is both deep and wide.
    std::vector<AxNode*> spine{root.get()};
    AxNode* tip = root.get();
    for (int level = 1; level <= depth && made < elementCount; ++level) {
        auto next = AxNode::make(ax::kGroupRole);
        tip->add(next);
        tip = next.get();
        spine.push_back(tip);
        ++made;
    }
    std::size_t row = 0;
    while (made < elementCount) {
        AxNode* host = spine[row % spine.size()];
        host->add(AxNode::text(QStringLiteral("%1 %2").arg(label).arg(made)));
        ++made;
        ++row;
    }
    return root;
}

std::shared_ptr<AxNode> SimApplication::menuBar() const
{
    if (!root)
        return nullptr;
    for (const auto& child : root->children)
        if (child->role == ax::kMenuBarRole)
            return child;
    return nullptr;
}

} // namespace sim
