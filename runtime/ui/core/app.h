// The application interface: what a program built on the toolkit implements
// (App), what the toolkit hands it in every hook (Context), and the handle
// given to the set-up callback (AppHandle). Nothing here needs GTK.
//
// Threads: every hook runs on the window thread. Other threads reach the
// application only through their own channels, and ask for an update turn
// with a Waker.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <typeindex>
#include <typeinfo>
#include <vector>

#include "lib/base/result.h"
#include "runtime/ui/core/canvas.h"
#include "runtime/ui/core/geometry.h"
#include "runtime/ui/core/input.h"
#include "runtime/ui/util/a11y.h"

namespace runtime::ui {

class OverlayHost;  // runtime/ui/core/overlay_host.h, for GTK-aware code
struct LaunchContext;

// A value of any type held by shared pointer, asked for by type: the
// persisted application state opened by the launcher.
class AppState {
public:
    AppState() = default;
    template <class T>
    static AppState hold(std::shared_ptr<T> value) {
        AppState s;
        s.type_ = typeid(T);
        s.value_ = std::move(value);
        return s;
    }
    // The held value when it is a T, else nullptr.
    template <class T>
    T* get() const {
        return value_ && type_ == std::type_index(typeid(T)) ? static_cast<T*>(value_.get()) : nullptr;
    }
    bool has_value() const { return static_cast<bool>(value_); }

private:
    std::type_index type_ = typeid(void);
    std::shared_ptr<void> value_;
};

// Asks the window for an update turn soon. Copyable, callable from any
// thread, and harmless after the window has gone. Several wakes before the
// turn runs give one turn.
class Waker {
public:
    struct Target {
        virtual ~Target() = default;
        virtual void wake() = 0;
    };
    Waker() = default;
    explicit Waker(std::shared_ptr<Target> target) : target_(std::move(target)) {}
    void wake() const {
        if (target_) target_->wake();
    }

private:
    std::shared_ptr<Target> target_;
};

// How a control is invoked from outside (accessibility, automation).
enum class ControlVerb { activate, focus, toggle, expand, collapse, set_value };

struct ControlAction {
    ControlVerb verb = ControlVerb::activate;
    // The text of set_value.
    std::string value;
};

// Parses "activate", "focus", "toggle", "expand", "collapse", "set-value".
std::optional<ControlVerb> parse_control_verb(std::string_view name);

// Whether other programs may invoke the application's controls and actions.
struct PermissionContext {
    bool external_controls = true;
    bool external_actions = true;
    static PermissionContext permissive() { return {true, true}; }
    static PermissionContext restricted() { return {false, false}; }
};

// Decoders of encoded actions by kind (e.g. "mail.action"): each takes the
// JSON payload and applies it, answering with a status.
class ActionRegistry {
public:
    using Decoder = std::function<lib::Status(std::string_view payload_json)>;
    // Replaces any decoder of the same kind.
    void register_decoder(std::string kind, Decoder decoder);
    bool has(std::string_view kind) const;
    std::vector<std::string> kinds() const;
    // Fails with "no decoder for action kind {kind}" when none is registered.
    lib::Status dispatch(std::string_view kind, std::string_view payload_json) const;

private:
    std::map<std::string, Decoder, std::less<>> decoders_;
};

// What the toolkit offers in every hook.
class Context {
public:
    virtual ~Context() = default;

    // Asks for the window to be drawn again after this hook.
    void request_redraw() { redraw_ = true; }
    bool redraw_requested() const { return redraw_; }
    // Clears and returns the request (for hosts).
    bool take_redraw() {
        const bool r = redraw_;
        redraw_ = false;
        return r;
    }

    // The window's size in logical pixels.
    virtual Size window_size() const = 0;
    // The reader's text scale (the desktop setting or --text-scale).
    virtual double text_scale() const = 0;
    // Device pixels per logical pixel.
    virtual double device_scale() const = 0;
    // True when drawing off-screen (no window, no display).
    virtual bool headless() const = 0;
    virtual const LaunchContext& launch() const = 0;

    virtual Clipboard& clipboard() = 0;
    virtual Waker waker() = 0;
    virtual void set_window_title(std::string title) = 0;
    // Where the input method shows its candidates (the caret).
    virtual void set_ime_cursor(const Rect&) {}
    // Closes the window and ends the program's loop.
    virtual void quit() = 0;
    // For hosting native children over the drawing (nullptr off-screen).
    virtual OverlayHost* overlay_host() { return nullptr; }
    // The persisted state opened at launch (may hold nothing).
    virtual AppState& state() = 0;
    virtual ActionRegistry& actions() = 0;

private:
    bool redraw_ = false;
};

// The application. Every hook may call ctx.request_redraw(); nothing is drawn
// unless a redraw was asked for (by the context or take_redraw_request).
class App {
public:
    virtual ~App() = default;

    // The update turn: runs after input, after a wake, on a short timer while
    // wants_fast_ticks() is true, and otherwise once a minute.
    virtual void update(Context& ctx) = 0;
    // The window got this size (also called once before the first draw).
    virtual void resize(Context& /*ctx*/, Size /*size*/) {}
    // Draws the whole window; the canvas is in logical pixels.
    virtual void draw(Canvas& canvas, Context& ctx) = 0;

    // Returns true when the key was used.
    virtual bool key_pressed(Context& /*ctx*/, const KeyEvent& /*ev*/) { return false; }
    // Text committed by the input method (typed characters, compositions).
    virtual void text_input(Context& /*ctx*/, std::string_view /*text*/) {}
    // Text being composed in the input method (not yet committed), with the
    // composition's cursor as a byte offset into it; empty when composing
    // ends. Shown at the caret (TextInput::set_preedit), never stored.
    virtual void text_preedit(Context& /*ctx*/, std::string_view /*text*/, std::size_t /*cursor*/) {}
    virtual void pointer_down(Context& /*ctx*/, const PointerEvent& /*ev*/) {}
    virtual void pointer_up(Context& /*ctx*/, const PointerEvent& /*ev*/) {}
    virtual void pointer_move(Context& /*ctx*/, const PointerEvent& /*ev*/) {}
    virtual void pointer_leave(Context& /*ctx*/) {}
    virtual void scroll(Context& /*ctx*/, const ScrollEvent& /*ev*/) {}
    virtual void focus_changed(Context& /*ctx*/, bool /*focused*/) {}

    // A control invoked by identifier; true when it was handled.
    virtual bool invoke_control(Context& /*ctx*/, std::string_view /*identifier*/, const ControlAction& /*action*/) {
        return false;
    }
    // The accessibility tree of the window as it is now.
    virtual std::optional<a11y::AccessNode> access_tree(Context& /*ctx*/) { return std::nullopt; }

    // Something is pending (a picker, a discovery, a page load): update turns
    // then come every 50 ms.
    virtual bool wants_fast_ticks() const { return false; }
    // The application's own redraw flag, taken after every hook.
    virtual bool take_redraw_request() { return false; }
    virtual PermissionContext permission_context() const { return PermissionContext::permissive(); }
    // The window is closing; the application is destroyed right after.
    virtual void closing(Context& /*ctx*/) {}
};

// Given to the set-up callback once the application is built.
class AppHandle {
public:
    virtual ~AppHandle() = default;
    virtual void set_window_title(std::string title) = 0;
    virtual ActionRegistry& action_registry_mut() = 0;
    virtual App& app() = 0;
    virtual const LaunchContext& launch() const = 0;
};

}  // namespace runtime::ui
