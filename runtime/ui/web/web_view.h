// The web view widget: a sandboxed HTML renderer placed on a rectangle of the
// window, driven by commands to its engine and reporting back by events that
// the owner drains each frame. The engine is an interface: the WebKit engine
// (webkit_engine.h) displays pages; the TestEngine displays nothing, records
// what it was sent and lets tests feed events. This header needs no GTK.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace runtime::ui {

// Where the page is shown, in window coordinates (logical pixels), and its zoom.
struct WebViewport {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    double scale = 1.0;
    bool operator==(const WebViewport&) const = default;
};

namespace web {

// Commands. They are carried out in the order sent; a load that follows a
// rule list waits until that list is in force.
struct SetContentRules {
    std::string rules_json;  // a content-blocking rule list; empty removes every rule
};
struct LoadUrl {
    std::string url;  // only data: URLs and about:blank are loaded
};
struct LoadHtml {
    std::string html;  // shown as a UTF-8 data: document with no base URL
};
struct Clear {};  // shows an empty page; the rules stay
using Command = std::variant<SetContentRules, LoadUrl, LoadHtml, Clear>;

// Events.
struct CanDisplay {
    bool available = false;
    std::string reason;  // why not, when not
};
struct LoadStarted {
    std::string url;
};
struct LoadFinished {
    std::string url;
};
struct LoadFailed {
    std::string url;
    std::string message;
};
struct RulesApplied {};
struct RulesFailed {
    std::string message;
};
// The user activated a link; the page did not navigate. The owner decides
// (e.g. link::try_os_open after asking).
struct LinkClicked {
    std::string url;
};
using Event = std::variant<CanDisplay, LoadStarted, LoadFinished, LoadFailed, RulesApplied, RulesFailed, LinkClicked>;

// One line for logs and test messages, e.g. "load failed: about:x (reason)".
// Long URLs are shortened.
std::string describe(const Event& event);
std::string describe(const Command& command);

}  // namespace web

class WebEngine {
public:
    virtual ~WebEngine() = default;
    virtual void send(web::Command command) = 0;
    // Events since the last call, oldest first.
    virtual std::vector<web::Event> drain_events() = 0;
    virtual void set_viewport(const WebViewport& viewport) = 0;
    // Name for automation (e.g. the widget name); no effect by default.
    virtual void set_test_id(const std::string& /*id*/) {}
};

// An engine that displays nothing: it never reports that it can display,
// records every command and viewport, and hands out events a test injects.
class TestEngine : public WebEngine {
public:
    void send(web::Command command) override { commands_.push_back(std::move(command)); }
    std::vector<web::Event> drain_events() override {
        std::vector<web::Event> out;
        out.swap(events_);
        return out;
    }
    void set_viewport(const WebViewport& viewport) override {
        viewport_ = viewport;
        ++viewport_updates_;
    }
    void set_test_id(const std::string& id) override { test_id_ = id; }

    void inject(web::Event event) { events_.push_back(std::move(event)); }
    const std::vector<web::Command>& commands() const { return commands_; }
    std::vector<web::Command> take_commands() {
        std::vector<web::Command> out;
        out.swap(commands_);
        return out;
    }
    const std::optional<WebViewport>& viewport() const { return viewport_; }
    int viewport_updates() const { return viewport_updates_; }
    const std::string& test_id() const { return test_id_; }

private:
    std::vector<web::Command> commands_;
    std::vector<web::Event> events_;
    std::optional<WebViewport> viewport_;
    int viewport_updates_ = 0;
    std::string test_id_;
};

class WebView {
public:
    // With the TestEngine.
    WebView();
    // With the given engine; a null engine installs the TestEngine.
    explicit WebView(std::unique_ptr<WebEngine> engine);

    WebView(WebView&&) noexcept = default;
    WebView& operator=(WebView&&) noexcept = default;

    WebView&& with_test_id(std::string id) &&;
    WebView& with_test_id(std::string id) &;
    const std::string& test_id() const { return test_id_; }

    // Shows the page on this rectangle for the current frame. A web view whose
    // viewport is not set during a frame is hidden (see host.h).
    void set_viewport(const WebViewport& viewport);

    void send(web::Command command) { engine_->send(std::move(command)); }
    std::vector<web::Event> drain_events() { return engine_->drain_events(); }

    WebEngine& engine() { return *engine_; }
    // The TestEngine when that is the engine in use, else nullptr.
    TestEngine* test_engine();

private:
    std::unique_ptr<WebEngine> engine_;
    std::string test_id_;
};

// The engine that new web views should use. The window installs a factory
// for the WebKit engine once the display is up; without one (scenes without
// a display, unit tests) make_web_engine() returns nullptr and views fall
// back to the TestEngine. Window thread only.
void set_web_engine_factory(std::function<std::unique_ptr<WebEngine>()> factory);
std::unique_ptr<WebEngine> make_web_engine();

}  // namespace runtime::ui
