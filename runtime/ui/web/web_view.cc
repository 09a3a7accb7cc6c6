#include "runtime/ui/web/web_view.h"

namespace runtime::ui {

namespace web {

namespace {

std::string shorten(const std::string& url) {
    constexpr std::size_t kMax = 80;
    if (url.size() <= kMax) return url;
    return url.substr(0, kMax) + "\xE2\x80\xA6 (" + std::to_string(url.size()) + " bytes)";
}

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace

std::string describe(const Event& event) {
    return std::visit(
        Overloaded{
            [](const CanDisplay& e) {
                return e.available ? std::string("can display") : "cannot display: " + e.reason;
            },
            [](const LoadStarted& e) { return "load started: " + shorten(e.url); },
            [](const LoadFinished& e) { return "load finished: " + shorten(e.url); },
            [](const LoadFailed& e) { return "load failed: " + shorten(e.url) + " (" + e.message + ")"; },
            [](const RulesApplied&) { return std::string("rules applied"); },
            [](const RulesFailed& e) { return "rules failed: " + e.message; },
            [](const LinkClicked& e) { return "link clicked: " + shorten(e.url); },
        },
        event);
}

std::string describe(const Command& command) {
    return std::visit(
        Overloaded{
            [](const SetContentRules& c) {
                return c.rules_json.empty() ? std::string("clear rules") : "set rules: " + shorten(c.rules_json);
            },
            [](const LoadUrl& c) { return "load url: " + shorten(c.url); },
            [](const LoadHtml& c) { return "load html: " + std::to_string(c.html.size()) + " bytes"; },
            [](const Clear&) { return std::string("clear"); },
        },
        command);
}

}  // namespace web

WebView::WebView() : WebView(nullptr) {}

WebView::WebView(std::unique_ptr<WebEngine> engine) : engine_(std::move(engine)) {
    if (!engine_) engine_ = std::make_unique<TestEngine>();
}

WebView&& WebView::with_test_id(std::string id) && {
    with_test_id(std::move(id));
    return std::move(*this);
}

WebView& WebView::with_test_id(std::string id) & {
    test_id_ = std::move(id);
    engine_->set_test_id(test_id_);
    return *this;
}

void WebView::set_viewport(const WebViewport& viewport) { engine_->set_viewport(viewport); }

TestEngine* WebView::test_engine() { return dynamic_cast<TestEngine*>(engine_.get()); }

namespace {

std::function<std::unique_ptr<WebEngine>()>& factory_slot() {
    static std::function<std::unique_ptr<WebEngine>()> slot;
    return slot;
}

}  // namespace

void set_web_engine_factory(std::function<std::unique_ptr<WebEngine>()> factory) {
    factory_slot() = std::move(factory);
}

std::unique_ptr<WebEngine> make_web_engine() {
    const auto& f = factory_slot();
    return f ? f() : nullptr;
}

}  // namespace runtime::ui
