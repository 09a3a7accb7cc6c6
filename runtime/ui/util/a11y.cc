#include "runtime/ui/util/a11y.h"

#include <set>

#include "lib/json/strict.h"

namespace runtime::ui::a11y {

std::string_view role_name(Role role) {
    switch (role) {
        case Role::application: return "application";
        case Role::window: return "window";
        case Role::dialog: return "dialog";
        case Role::group: return "group";
        case Role::toolbar: return "toolbar";
        case Role::status: return "status";
        case Role::list: return "list";
        case Role::list_item: return "list item";
        case Role::tree: return "tree";
        case Role::tree_item: return "tree item";
        case Role::menu: return "menu";
        case Role::menu_item: return "menu item";
        case Role::button: return "button";
        case Role::toggle: return "toggle";
        case Role::switch_button: return "switch";
        case Role::radio_button: return "radio button";
        case Role::check_box: return "check box";
        case Role::text_field: return "text field";
        case Role::label: return "label";
        case Role::text: return "text";
        case Role::link: return "link";
        case Role::image: return "image";
        case Role::heading: return "heading";
        case Role::busy_indicator: return "busy indicator";
        case Role::document: return "document";
    }
    return "unknown";
}

AccessNode AccessNode::with_description(std::string text) && {
    description = std::move(text);
    return std::move(*this);
}
AccessNode AccessNode::with_value(std::string text) && {
    value = std::move(text);
    return std::move(*this);
}
AccessNode AccessNode::with_optional_value(std::optional<std::string> text) && {
    value = std::move(text);
    return std::move(*this);
}
AccessNode AccessNode::with_bounds(Bounds b) && {
    bounds = b;
    return std::move(*this);
}
AccessNode AccessNode::with_identifier(std::string id) && {
    identifier = std::move(id);
    return std::move(*this);
}
AccessNode AccessNode::with_flags(Flags f) && {
    flags = f;
    return std::move(*this);
}
AccessNode AccessNode::with_focused(bool on) && {
    flags.focused = on;
    return std::move(*this);
}
AccessNode AccessNode::with_selected(bool on) && {
    flags.selected = on;
    return std::move(*this);
}
AccessNode AccessNode::with_checked(bool on) && {
    flags.checked = on;
    return std::move(*this);
}
AccessNode AccessNode::with_disabled(bool on) && {
    flags.disabled = on;
    return std::move(*this);
}
AccessNode AccessNode::with_expanded(bool on) && {
    flags.expanded = on;
    return std::move(*this);
}
AccessNode AccessNode::with_busy(bool on) && {
    flags.busy = on;
    return std::move(*this);
}
AccessNode AccessNode::with_children(std::vector<AccessNode> nodes) && {
    children = std::move(nodes);
    return std::move(*this);
}
AccessNode AccessNode::with_child(AccessNode node) && {
    children.push_back(std::move(node));
    return std::move(*this);
}

const AccessNode* find_by_identifier(const AccessNode& root, std::string_view identifier) {
    // Iterative so that a very deep tree cannot exhaust the stack.
    std::vector<const AccessNode*> stack{&root};
    while (!stack.empty()) {
        const AccessNode* node = stack.back();
        stack.pop_back();
        if (node->identifier && *node->identifier == identifier) return node;
        for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) stack.push_back(&*it);
    }
    return nullptr;
}

std::vector<std::string> duplicate_identifiers(const AccessNode& root) {
    std::set<std::string, std::less<>> seen;
    std::set<std::string, std::less<>> reported;
    std::vector<std::string> out;
    std::vector<const AccessNode*> stack{&root};
    while (!stack.empty()) {
        const AccessNode* node = stack.back();
        stack.pop_back();
        if (node->identifier) {
            const std::string& id = *node->identifier;
            if (!seen.insert(id).second && reported.insert(id).second) out.push_back(id);
        }
        for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) stack.push_back(&*it);
    }
    return out;
}

std::size_t node_count(const AccessNode& root) {
    std::size_t n = 0;
    std::vector<const AccessNode*> stack{&root};
    while (!stack.empty()) {
        const AccessNode* node = stack.back();
        stack.pop_back();
        ++n;
        for (const AccessNode& c : node->children) stack.push_back(&c);
    }
    return n;
}

namespace {

lib::json::Json node_json(const AccessNode& node) {
    lib::json::Json j = lib::json::Json::object();
    j["role"] = std::string(role_name(node.role));
    j["label"] = node.label;
    if (node.description) j["description"] = *node.description;
    if (node.value) j["value"] = *node.value;
    if (node.bounds) {
        j["bounds"] = {{"x", node.bounds->x},
                       {"y", node.bounds->y},
                       {"width", node.bounds->width},
                       {"height", node.bounds->height}};
    }
    if (node.identifier) j["identifier"] = *node.identifier;
    lib::json::Json flags = lib::json::Json::array();
    const Flags& f = node.flags;
    if (f.focused) flags.push_back("focused");
    if (f.selected) flags.push_back("selected");
    if (f.checked) flags.push_back("checked");
    if (f.disabled) flags.push_back("disabled");
    if (f.expanded) flags.push_back("expanded");
    if (f.busy) flags.push_back("busy");
    if (!flags.empty()) j["flags"] = std::move(flags);
    if (!node.children.empty()) {
        lib::json::Json kids = lib::json::Json::array();
        for (const AccessNode& c : node.children) kids.push_back(node_json(c));
        j["children"] = std::move(kids);
    }
    return j;
}

}  // namespace

std::string to_json(const AccessNode& root, int indent) {
    return node_json(root).dump(indent, ' ', false, lib::json::Json::error_handler_t::replace);
}

}  // namespace runtime::ui::a11y
