#pragma once

#include "platform/ax/Accessibility.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace sim {

struct SimApplication;

// One element of a simulated application's interface. A null QString means the attribute is absent
// (the read yields NoValue); an empty one is an empty string, as real applications return both.
struct AxNode : std::enable_shared_from_this<AxNode> {
    QString role;
    QString subrole;
    QString title;
    QString description;
    QString help;
    QString value;
    QString identifier;
    QString markChar;
    std::optional<bool> selected;
    std::optional<bool> enabled;

    std::vector<std::shared_ptr<AxNode>> children;
    std::weak_ptr<AxNode> parent;
    SimApplication* application = nullptr;
    // False once the element has left its window: handles on it then read as InvalidUIElement.
    bool alive = true;
    // Seconds the owning application takes to answer a request about this element; below zero the
    // application's own latency applies.
    double latencySeconds = -1;
    // Named actions; the handler returns the error the caller sees.
    std::vector<std::pair<QString, std::function<ax::Error()>>> actions;
    // When set, every action on this element fails with this error (a press that does nothing).
    std::optional<ax::Error> actionFailure;

    static std::shared_ptr<AxNode> make(const QString& role, const QString& title = QString());
    static std::shared_ptr<AxNode> text(const QString& value);
    static std::shared_ptr<AxNode> button(const QString& label, std::function<ax::Error()> press,
                                          const QString& labelAttribute = ax::kTitleAttribute);

    // Appends `child` (and its subtree) under this element; returns the child.
    std::shared_ptr<AxNode> add(std::shared_ptr<AxNode> child);
    std::shared_ptr<AxNode> insert(std::size_t index, std::shared_ptr<AxNode> child);
    // Takes `child` out of the tree; it and its subtree die.
    void remove(const std::shared_ptr<AxNode>& child);
    void removeAllChildren();
    void setAction(const QString& name, std::function<ax::Error()> handler);
    const std::function<ax::Error()>* action(const QString& name) const;
    // Sets the label attribute named `attribute` (AXTitle, AXDescription, AXHelp or AXValue).
    void setLabel(const QString& attribute, const QString& label);
    // Number of elements in this subtree, this one included.
    std::size_t subtreeSize() const;
};

// Marks a detached subtree dead.
void killSubtree(AxNode& node);
// Sets the owning application of a subtree and brings it (back) to life.
void adoptSubtree(AxNode& node, SimApplication* application);

// A filler subtree of `elementCount` elements (root included) nested at most `depth` levels below its
// root: the recent-calls lists and contact cards a real interface is full of.
std::shared_ptr<AxNode> makeFillerTree(std::size_t elementCount, int depth, const QString& label = "Récent");

// A simulated process known to the workspace.
struct SimApplication {
    QString bundleIdentifier;
    QString name;
    QString path;
    qint64 pid = 0;
    bool installed = true;
    bool running = true;
    // Seconds the process takes to answer each Accessibility request.
    double latencySeconds = 0;
    // A hung process: no request is ever answered.
    bool neverAnswers = false;
    // When false, the menu bar cannot be read (a sandboxed or half-launched process).
    bool menuBarReadable = true;
    // The AXApplication element; its children are the menu bar and the windows.
    std::shared_ptr<AxNode> root;

    std::shared_ptr<AxNode> menuBar() const;
};

} // namespace sim
