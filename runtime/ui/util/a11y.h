// Accessibility nodes: the window describes itself to assistive technology
// and automation as a tree of these, rebuilt whenever the toolkit asks.
// Plain data with chainable builders; no display stack needed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace runtime::ui::a11y {

enum class Role {
    application,
    window,
    dialog,
    group,
    toolbar,
    status,
    list,
    list_item,
    tree,
    tree_item,
    menu,
    menu_item,
    button,
    toggle,
    switch_button,
    radio_button,
    check_box,
    text_field,
    label,
    text,
    link,
    image,
    heading,
    busy_indicator,
    document,
};

// Lower-case words, as used in the JSON dump: "list item", "switch", "busy indicator".
std::string_view role_name(Role role);

// Rectangle in window coordinates (logical pixels).
struct Bounds {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const Bounds&) const = default;
};

struct Flags {
    bool focused = false;
    bool selected = false;
    bool checked = false;
    bool disabled = false;
    bool expanded = false;
    bool busy = false;
    bool operator==(const Flags&) const = default;
};

struct AccessNode {
    Role role = Role::group;
    std::string label;
    std::optional<std::string> description;
    std::optional<std::string> value;
    std::optional<Bounds> bounds;
    // The control identifier a semantic activation of this node is delivered with.
    std::optional<std::string> identifier;
    Flags flags;
    std::vector<AccessNode> children;

    AccessNode() = default;
    AccessNode(Role r, std::string l) : role(r), label(std::move(l)) {}

    // Builders for temporaries: AccessNode(Role::button, "Cancel").with_identifier("x").
    AccessNode with_description(std::string text) &&;
    AccessNode with_value(std::string text) &&;
    // Sets the value only when one is given (and clears it otherwise).
    AccessNode with_optional_value(std::optional<std::string> text) &&;
    AccessNode with_bounds(Bounds b) &&;
    AccessNode with_identifier(std::string id) &&;
    AccessNode with_flags(Flags f) &&;
    AccessNode with_focused(bool on = true) &&;
    AccessNode with_selected(bool on = true) &&;
    AccessNode with_checked(bool on = true) &&;
    AccessNode with_disabled(bool on = true) &&;
    AccessNode with_expanded(bool on = true) &&;
    AccessNode with_busy(bool on = true) &&;
    // Replaces the children.
    AccessNode with_children(std::vector<AccessNode> nodes) &&;
    // Appends one child.
    AccessNode with_child(AccessNode node) &&;

    bool operator==(const AccessNode&) const = default;
};

// First node (depth-first, pre-order) carrying this identifier, or nullptr.
const AccessNode* find_by_identifier(const AccessNode& root, std::string_view identifier);

// Identifiers that occur on more than one node of the tree, each once, in
// order of their second occurrence. Empty for a sound tree.
std::vector<std::string> duplicate_identifiers(const AccessNode& root);

// Number of nodes in the tree, the root included.
std::size_t node_count(const AccessNode& root);

// JSON text of the tree for tests and the command-line tool. Keys: "role",
// "label", then "description", "value", "bounds" {x,y,width,height},
// "identifier" when present, "flags" (array of set flag names) when any is
// set, "children" when there are any. Invalid UTF-8 in texts is replaced.
// indent < 0 gives compact text.
std::string to_json(const AccessNode& root, int indent = -1);

}  // namespace runtime::ui::a11y
