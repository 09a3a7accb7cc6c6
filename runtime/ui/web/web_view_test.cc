// The web view without a display: the TestEngine that scenes and the
// client's own tests run on.
#include <gtest/gtest.h>

#include "runtime/ui/web/web_view.h"

namespace {

using namespace runtime::ui;

TEST(WebView, FallsBackToTestEngineThatRecordsAndReplays) {
    WebView view = WebView(make_web_engine()).with_test_id("mail_html_body");
    TestEngine* engine = view.test_engine();
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->test_id(), "mail_html_body");

    view.send(web::SetContentRules{"[]"});
    view.send(web::LoadUrl{"data:text/html;charset=utf-8;base64,PGI+"});
    ASSERT_EQ(engine->commands().size(), 2u);
    EXPECT_EQ(std::get<web::SetContentRules>(engine->commands()[0]).rules_json, "[]");
    EXPECT_EQ(std::get<web::LoadUrl>(engine->commands()[1]).url, "data:text/html;charset=utf-8;base64,PGI+");

    // It never claims to display; events appear only when a test injects them.
    EXPECT_TRUE(view.drain_events().empty());
    engine->inject(web::CanDisplay{true, {}});
    engine->inject(web::LinkClicked{"https://example.com/"});
    const auto events = view.drain_events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(std::get<web::CanDisplay>(events[0]).available);
    EXPECT_EQ(std::get<web::LinkClicked>(events[1]).url, "https://example.com/");
    EXPECT_TRUE(view.drain_events().empty());

    view.set_viewport({10, 20, 300, 200, 1.0});
    view.set_viewport({10, 20, 300, 210, 1.0});
    EXPECT_EQ(engine->viewport_updates(), 2);
    EXPECT_EQ(engine->viewport(), (WebViewport{10, 20, 300, 210, 1.0}));
}

TEST(WebView, UsesTheInstalledEngineFactory) {
    int made = 0;
    set_web_engine_factory([&] {
        ++made;
        auto e = std::make_unique<TestEngine>();
        e->inject(web::CanDisplay{true, {}});
        return e;
    });
    WebView view(make_web_engine());
    set_web_engine_factory(nullptr);
    EXPECT_EQ(made, 1);
    ASSERT_EQ(view.drain_events().size(), 1u);
    EXPECT_EQ(make_web_engine(), nullptr);
}

TEST(WebView, DescriptionsKeepLongDocumentsShort) {
    const std::string url = "data:text/html;charset=utf-8;base64," + std::string(400000, 'A');
    const std::string text = web::describe(web::Event{web::LoadFailed{url, "boom"}});
    EXPECT_LT(text.size(), 200u);
    EXPECT_EQ(text.rfind("load failed: data:text/html", 0), 0u) << text;
    EXPECT_NE(text.find("(400036 bytes)"), std::string::npos) << text;
    EXPECT_NE(text.find("(boom)"), std::string::npos) << text;
    EXPECT_EQ(web::describe(web::Command{web::SetContentRules{""}}), "clear rules");
}

}  // namespace
