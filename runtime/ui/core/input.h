// Input as the window delivers it to the application, free of any toolkit
// types. Coordinates are logical pixels from the window's top-left corner.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/ui/core/geometry.h"

namespace runtime::ui {

struct Modifiers {
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
    // The Super/Command key.
    bool meta = false;
    // Ctrl, or Meta: the key that turns letters into commands.
    bool command() const { return ctrl || meta; }
    bool none() const { return !shift && !ctrl && !alt && !meta; }
};

// A key press (or auto-repeat). `key` names the key the way the keyboard
// library does: "Return", "Escape", "BackSpace", "Delete", "Tab", "Left",
// "Right", "Up", "Down", "Home", "End", "Page_Up", "Page_Down", "F1"…, and
// for letters and digits the unshifted character ("a", "7"). Shift+Tab
// arrives as "Tab" with shift, keypad Enter as "Return".
//
// Printable text normally does not come as key presses: it arrives through
// the input method as committed text (App::text_input), which also covers
// dead keys and composed characters. Key presses carry `text` only when the
// character did not go through an input method (off-screen tests).
struct KeyEvent {
    std::string key;
    Modifiers mods;
    bool repeat = false;
    std::string text;

    // The key compared without regard to ASCII case ("a" matches "A").
    bool is(std::string_view name) const;
};

enum class PointerButton { none, primary, middle, secondary };

struct PointerEvent {
    Point pos;
    PointerButton button = PointerButton::none;
    Modifiers mods;
    // 1 single click, 2 double, 3 triple (on presses).
    int clicks = 1;
};

struct ScrollEvent {
    Point pos;
    // Logical pixels; positive dy scrolls the content up (the wheel towards
    // the user).
    double dx = 0;
    double dy = 0;
    Modifiers mods;
};

// The system clipboard. Reading is asynchronous: the text arrives later on
// the window thread (nullopt when the clipboard holds no text), followed by
// an update turn.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual void set_text(std::string text) = 0;
    virtual void request_text(std::function<void(std::optional<std::string>)> done) = 0;
};

// A clipboard that lives in this process only (off-screen runs and tests).
// Requests are answered at once.
class LocalClipboard : public Clipboard {
public:
    void set_text(std::string text) override { text_ = std::move(text); }
    void request_text(std::function<void(std::optional<std::string>)> done) override { done(text_); }
    const std::optional<std::string>& text() const { return text_; }

private:
    std::optional<std::string> text_;
};

}  // namespace runtime::ui
