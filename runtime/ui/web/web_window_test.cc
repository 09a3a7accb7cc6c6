// The WebKit engine in a real window under Xvfb: rule lists keep remote
// loads away from a loopback server, scripts stay off, navigation stays on
// the loaded document, link clicks come back as events, the overlay places
// the view on its rectangle, and what was loaded is really drawn.
//
// The binary re-starts itself under xvfb-run and dbus-run-session, so it can
// be run directly or by ctest on a machine without a display.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/ui/util/test_http_server.h"
#include "runtime/ui/util/xvfb_reexec.h"
#include "runtime/ui/web/host.h"
#include "runtime/ui/web/web_view.h"
#include "runtime/ui/web/webkit_engine.h"

namespace {

using namespace runtime::ui;
using runtime::ui::testing::HttpReply;
using runtime::ui::testing::LoopbackHttpServer;
using namespace std::chrono_literals;

const std::string kBlockRemote = R"([{"trigger":{"url-filter":"^https?://"},"action":{"type":"block"}}])";
const std::string kAllowImages =
    R"([{"trigger":{"url-filter":"^https?://","resource-type":["script","style-sheet","font","raw"]},)"
    R"("action":{"type":"block"}}])";

// A 1×1 PNG.
const std::string kPng = std::string(
    "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89\0\0\0\rIDATx\x9c"
    "c\xf8\x0f\x00\x00\x01\x01\x00\x05\x18\xd8N\x00\x00\x00\x00IEND\xae" "B`\x82",
    67);

bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const guint tick = g_timeout_add(10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok = true;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            ok = false;
            break;
        }
        g_main_context_iteration(nullptr, TRUE);
    }
    g_source_remove(tick);
    return ok;
}

void pump_for(std::chrono::milliseconds span) {
    pump_until([] { return false; }, span);
}

class WebWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.listening());
        window = GTK_WINDOW(gtk_window_new());
        gtk_window_set_default_size(window, 800, 600);
        overlay = GTK_OVERLAY(gtk_overlay_new());
        keys = gtk_drawing_area_new();
        gtk_widget_set_focusable(keys, TRUE);
        gtk_overlay_set_child(overlay, keys);
        gtk_window_set_child(window, GTK_WIDGET(overlay));
        gtk_window_present(window);
        gtk_widget_grab_focus(keys);
        view = std::make_unique<WebView>(create_webkit_engine());
        view->with_test_id("mail_html_body");
        frame(WebViewport{0, 0, 800, 600});
    }

    void TearDown() override {
        view.reset();
        gtk_window_destroy(window);
        pump_for(50ms);
    }

    // One window frame in which the owner shows the view at `where`.
    void frame(std::optional<WebViewport> where) {
        web::host::begin_frame();
        if (where) view->set_viewport(*where);
        web::host::sync_overlay(overlay);
    }

    void collect() {
        for (auto& e : view->drain_events()) events.push_back(std::move(e));
    }

    template <class T>
    int count() {
        collect();
        int n = 0;
        for (const auto& e : events) n += std::holds_alternative<T>(e) ? 1 : 0;
        return n;
    }

    template <class T>
    bool wait_for(int n = 1, std::chrono::milliseconds limit = 15s) {
        return pump_until([&] { return count<T>() >= n; }, limit);
    }

    std::string history() {
        collect();
        std::string out;
        for (const auto& e : events) out += web::describe(e) + "\n";
        return out;
    }

    WebKitWebView* webkit_view() {
        const auto all = web::host::placements();
        return all.empty() ? nullptr : WEBKIT_WEB_VIEW(all.back().widget);
    }

    std::string uri_now() {
        const gchar* uri = webkit_web_view_get_uri(webkit_view());
        return uri ? uri : "";
    }

    LoopbackHttpServer server;
    GtkWindow* window = nullptr;
    GtkOverlay* overlay = nullptr;
    GtkWidget* keys = nullptr;  // the window's own widget, holding the keyboard
    std::unique_ptr<WebView> view;
    std::vector<web::Event> events;
};

TEST_F(WebWindow, RuleListsDecideWhichRemoteLoadsHappen) {
    struct Case {
        std::string name;
        std::string rules;
        int image_requests;
        int style_requests;
    };
    const std::vector<Case> cases = {
        {"blocked", kBlockRemote, 0, 0},
        {"images allowed", kAllowImages, 1, 0},
        {"no rules", "", 1, 1},
    };
    ASSERT_TRUE(wait_for<web::CanDisplay>());
    ASSERT_TRUE(std::get<web::CanDisplay>(events.front()).available);
    int finished = 0;
    for (const Case& c : cases) {
        // Fresh paths per case, so that no cache can hide a request.
        const std::string img = "/" + std::to_string(finished) + "x.png";
        const std::string css = "/" + std::to_string(finished) + "s.css";
        server.route(img, {200, "image/png", kPng});
        server.route(css, {200, "text/css", "body{color:red}"});
        view->send(web::SetContentRules{c.rules});
        view->send(web::LoadHtml{"<html><head><link rel=\"stylesheet\" href=\"" + server.url(css) +
                                 "\"></head><body><img src=\"" + server.url(img) + "\"></body></html>"});
        ASSERT_TRUE(wait_for<web::LoadFinished>(++finished)) << c.name << "\n" << history();
        pump_until([&] { return server.requests_for(img) >= c.image_requests && server.requests_for(css) >= c.style_requests; },
                   3s);
        pump_for(300ms);
        EXPECT_EQ(server.requests_for(img), c.image_requests) << c.name;
        EXPECT_EQ(server.requests_for(css), c.style_requests) << c.name;
    }
    EXPECT_EQ(count<web::RulesApplied>(), 3) << history();
    EXPECT_EQ(count<web::LoadFailed>(), 0) << history();
}

TEST_F(WebWindow, ScriptsRefreshesAndNonDocumentLoadsGoNowhere) {
    server.route("/js.png", {200, "image/png", kPng});
    view->send(web::SetContentRules{""});
    view->send(web::LoadHtml{"<html><head><meta http-equiv=\"refresh\" content=\"0;url=" + server.url("/refresh") +
                             "\"></head><body><script>document.write('<img src=\"" + server.url("/js.png") +
                             "\">');location.href='" + server.url("/js-nav") + "';</script>text</body></html>"});
    ASSERT_TRUE(wait_for<web::LoadFinished>()) << history();
    pump_for(1500ms);
    // Only a document the owner hands over is ever loaded.
    view->send(web::LoadUrl{server.url("/page")});
    pump_for(300ms);
    EXPECT_EQ(server.requests(), 0);
    EXPECT_EQ(count<web::LoadStarted>(), 1) << history();
    EXPECT_EQ(count<web::LinkClicked>(), 0) << history();
    ASSERT_EQ(count<web::LoadFailed>(), 1) << history();
    EXPECT_EQ(std::get<web::LoadFailed>(events.back()).message, "only data: documents and about:blank are loaded");
    EXPECT_EQ(uri_now().rfind("data:text/html", 0), 0u);
}

// Without any rule list, so that only the engine's own settings are tested:
// a click on a link is reported, the page stays, and not even a speculative
// connection reaches the link's host (nor one asked for by the page).
TEST_F(WebWindow, LinkClickIsReportedAndNotFollowed) {
    const std::string target = server.url("/next?a=1");
    view->send(web::SetContentRules{""});
    view->send(web::LoadHtml{"<html><head><link rel=\"preconnect\" href=\"" + server.url("/") +
                             "\"></head><body style=\"margin:0\"><a href=\"" + target +
                             "\" style=\"display:block;width:100vw;height:100vh\">go</a></body></html>"});
    ASSERT_TRUE(wait_for<web::LoadFinished>()) << history();
    pump_for(700ms);  // content reaches the screen a little after the load finishes
    ASSERT_EQ(std::system("xdotool mousemove 400 300 click 1"), 0);
    ASSERT_TRUE(wait_for<web::LinkClicked>(1, 5s)) << history();
    pump_for(500ms);
    EXPECT_EQ(std::get<web::LinkClicked>(events.back()).url, target);
    EXPECT_EQ(server.connections(), 0);
    EXPECT_EQ(count<web::LoadStarted>(), 1) << history();
    // The click did not take the keyboard away from the window's own widget.
    EXPECT_EQ(gtk_window_get_focus(window), keys);
    EXPECT_EQ(uri_now().rfind("data:text/html", 0), 0u);
}

TEST_F(WebWindow, OverlayPlacesShowsAndHidesTheView) {
    frame(WebViewport{100, 50, 400, 300});
    ASSERT_TRUE(pump_until(
        [&] {
            graphene_rect_t r;
            GtkWidget* w = GTK_WIDGET(webkit_view());
            return gtk_widget_compute_bounds(w, GTK_WIDGET(overlay), &r) && r.origin.x == 100 &&
                   r.origin.y == 50 && r.size.width == 400 && r.size.height == 300;
        },
        5s));
    EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(webkit_view())));
    frame(std::nullopt);  // a frame in which the owner does not show the page
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(webkit_view())));
    EXPECT_EQ(web::host::placements().size(), 1u);
    EXPECT_STREQ(gtk_widget_get_name(GTK_WIDGET(webkit_view())), "mail_html_body");
    view.reset();  // the engine takes its widget out of the window
    EXPECT_TRUE(web::host::placements().empty());
    int overlays = 0;
    for (GtkWidget* c = gtk_widget_get_first_child(GTK_WIDGET(overlay)); c; c = gtk_widget_get_next_sibling(c)) {
        ++overlays;
    }
    EXPECT_EQ(overlays, 1);  // only the drawing area is left
}

TEST_F(WebWindow, SnapshotShowsTheLoadedDocument) {
    view->send(web::SetContentRules{kBlockRemote});
    view->send(web::LoadHtml{"<html><body style=\"margin:0;background:#ff0000\"><img src=\"" +
                             server.url("/x.png") + "\"></body></html>"});
    ASSERT_TRUE(wait_for<web::LoadFinished>()) << history();
    std::uint32_t centre = 0;
    const bool red = pump_until(
        [&] {
            struct Shot {
                GdkTexture* texture = nullptr;
                bool done = false;
            } shot;
            webkit_web_view_get_snapshot(
                webkit_view(), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
                [](GObject* src, GAsyncResult* res, gpointer data) {
                    auto* s = static_cast<Shot*>(data);
                    s->texture = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(src), res, nullptr);
                    s->done = true;
                },
                &shot);
            pump_until([&] { return shot.done; }, 5s);
            if (!shot.texture) return false;
            const int w = gdk_texture_get_width(shot.texture), h = gdk_texture_get_height(shot.texture);
            std::vector<std::uint32_t> px(std::size_t(w) * std::size_t(h));
            gdk_texture_download(shot.texture, reinterpret_cast<guchar*>(px.data()), std::size_t(w) * 4);
            g_object_unref(shot.texture);
            centre = px[std::size_t(h / 2) * std::size_t(w) + std::size_t(w / 2)];
            return w == 800 && h == 600 && centre == 0xFFFF0000u;
        },
        5s);
    EXPECT_TRUE(red) << std::hex << centre;
    EXPECT_EQ(server.requests(), 0);
}

TEST_F(WebWindow, RulesThatDoNotCompileStopLoadsUntilRulesCompile) {
    server.route("/x.png", {200, "image/png", kPng});
    const std::string page = "<html><body><img src=\"" + server.url("/x.png") + "\"></body></html>";
    view->send(web::SetContentRules{"[{\"trigger\":"});
    view->send(web::LoadHtml{page});
    ASSERT_TRUE(wait_for<web::LoadFailed>()) << history();
    EXPECT_EQ(count<web::RulesFailed>(), 1) << history();
    EXPECT_EQ(std::get<web::LoadFailed>(events.back()).message, "content rules are not in force");
    view->send(web::SetContentRules{kBlockRemote});
    view->send(web::LoadHtml{page});
    ASSERT_TRUE(wait_for<web::LoadFinished>()) << history();
    pump_for(300ms);
    EXPECT_EQ(server.requests(), 0);
}

TEST_F(WebWindow, LargeDocumentLoadsAndRulesAreAppliedInOrder) {
    std::string body(300000, 'a');
    for (std::size_t i = 80; i < body.size(); i += 81) body[i] = ' ';
    view->send(web::SetContentRules{kBlockRemote});
    view->send(web::LoadHtml{"<p>" + body + "</p>"});
    ASSERT_TRUE(wait_for<web::LoadFinished>(1)) << history();
    EXPECT_GT(std::get<web::LoadFinished>(events.back()).url.size(), 400000u);

    view->send(web::SetContentRules{kAllowImages});
    view->send(web::SetContentRules{kBlockRemote});  // compiled before: in force at once
    view->send(web::LoadHtml{"<p>second</p>"});
    ASSERT_TRUE(wait_for<web::LoadFinished>(2)) << history();
    EXPECT_EQ(std::get<web::LoadFinished>(events.back()).url, "data:text/html;charset=utf-8;base64,PHA+c2Vjb25kPC9wPg==");
    EXPECT_EQ(count<web::RulesApplied>(), 3) << history();
    EXPECT_EQ(count<web::LoadFailed>(), 0) << history();
}

TEST_F(WebWindow, DestroyedWhileRulesCompileIsHarmless) {
    view->send(web::SetContentRules{kBlockRemote});
    view->send(web::LoadHtml{"<p>x</p>"});
    view.reset();
    pump_for(1500ms);
    SUCCEED();
}

}  // namespace

int main(int argc, char** argv) {
    const bool listing = runtime::ui::testing::reexec_under_xvfb(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (!listing && !gtk_init_check()) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
