#include "runtime/ui/web/webkit_engine.h"

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <cmath>
#include <deque>
#include <filesystem>
#include <map>
#include <system_error>

#include "lib/base/log.h"
#include "runtime/ui/web/host.h"

namespace runtime::ui {

namespace {

// ---- hosting registry (GTK main thread only) --------------------------------

struct HostRecord {
    GtkWidget* widget = nullptr;
    WebViewport viewport;
    std::uint64_t placed_frame = 0;
    GdkRectangle synced{0, 0, 0, 0};
};

std::vector<HostRecord*>& registry() {
    static std::vector<HostRecord*> records;
    return records;
}

std::uint64_t& frame_counter() {
    static std::uint64_t frame = 1;
    return frame;
}

GdkRectangle to_rect(const WebViewport& v) {
    GdkRectangle r;
    r.x = static_cast<int>(std::lround(v.x));
    r.y = static_cast<int>(std::lround(v.y));
    r.width = std::max(1, static_cast<int>(std::lround(v.width)));
    r.height = std::max(1, static_cast<int>(std::lround(v.height)));
    return r;
}

bool is_shown(const HostRecord& r) {
    return r.placed_frame == frame_counter() && r.viewport.width >= 1 && r.viewport.height >= 1;
}

HostRecord* find_record(GtkWidget* widget) {
    for (HostRecord* r : registry()) {
        if (r->widget == widget) return r;
    }
    return nullptr;
}

gboolean on_get_child_position(GtkOverlay*, GtkWidget* child, GdkRectangle* out, gpointer) {
    return web::host::child_position(child, out) ? TRUE : FALSE;
}

bool inside_web_view(GtkWidget* widget) {
    for (HostRecord* r : registry()) {
        if (widget == r->widget || gtk_widget_is_ancestor(widget, r->widget)) return true;
    }
    return false;
}

// A click into a page makes WebKit take the keyboard focus, even from a
// widget that is not focusable; the window's own key handling (its
// shortcuts) would then stop. Focus that lands in a web view goes back to
// where it was, right after; mouse selection and the Copy menu item still work.
constexpr const char* kLastFocus = "zelk-web-last-focus";

gboolean restore_focus(gpointer data) {
    auto* window = static_cast<GtkWindow*>(data);
    GtkWidget* focus = gtk_window_get_focus(window);
    if (focus && inside_web_view(focus)) {
        auto* last = static_cast<GWeakRef*>(g_object_get_data(G_OBJECT(window), kLastFocus));
        GtkWidget* back = last ? GTK_WIDGET(g_weak_ref_get(last)) : nullptr;
        if (back && gtk_widget_get_root(back) == GTK_ROOT(window)) {
            gtk_widget_grab_focus(back);
        } else {
            gtk_window_set_focus(window, nullptr);
        }
        if (back) g_object_unref(back);
    }
    g_object_unref(window);
    return G_SOURCE_REMOVE;
}

void on_focus_widget(GtkWindow* window, GParamSpec*, gpointer) {
    GtkWidget* focus = gtk_window_get_focus(window);
    if (focus && inside_web_view(focus)) {
        g_idle_add(restore_focus, g_object_ref(window));
        return;
    }
    auto* last = static_cast<GWeakRef*>(g_object_get_data(G_OBJECT(window), kLastFocus));
    if (last) g_weak_ref_set(last, focus);
}

void keep_keyboard_with_window(GtkOverlay* overlay) {
    GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(overlay));
    if (!root || !GTK_IS_WINDOW(root) || g_object_get_data(G_OBJECT(root), kLastFocus)) return;
    auto* last = g_new0(GWeakRef, 1);
    g_weak_ref_init(last, gtk_window_get_focus(GTK_WINDOW(root)));
    g_object_set_data_full(G_OBJECT(root), kLastFocus, last, [](gpointer p) {
        g_weak_ref_clear(static_cast<GWeakRef*>(p));
        g_free(p);
    });
    g_signal_connect(root, "notify::focus-widget", G_CALLBACK(on_focus_widget), nullptr);
}

// ---- shared WebKit objects --------------------------------------------------

void on_download_started(WebKitNetworkSession*, WebKitDownload* download, gpointer) {
    // Nothing shown in a message view is ever saved to disk by the engine.
    webkit_download_cancel(download);
}

WebKitNetworkSession* shared_session() {
    static WebKitNetworkSession* session = [] {
        WebKitNetworkSession* s = webkit_network_session_new_ephemeral();
        g_signal_connect(s, "download-started", G_CALLBACK(on_download_started), nullptr);
        webkit_web_context_set_cache_model(webkit_web_context_get_default(), WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
        return s;
    }();
    return session;
}

WebKitSettings* locked_down_settings() {
    WebKitSettings* s = webkit_settings_new();
    webkit_settings_set_enable_javascript(s, FALSE);
    webkit_settings_set_enable_javascript_markup(s, FALSE);
    webkit_settings_set_javascript_can_open_windows_automatically(s, FALSE);
    webkit_settings_set_javascript_can_access_clipboard(s, FALSE);
    webkit_settings_set_enable_developer_extras(s, FALSE);
    webkit_settings_set_enable_page_cache(s, FALSE);
    webkit_settings_set_enable_html5_local_storage(s, FALSE);
    webkit_settings_set_enable_html5_database(s, FALSE);
    webkit_settings_set_enable_webaudio(s, FALSE);
    webkit_settings_set_enable_webgl(s, FALSE);
    webkit_settings_set_enable_webrtc(s, FALSE);
    webkit_settings_set_enable_media_stream(s, FALSE);
    webkit_settings_set_enable_mediasource(s, FALSE);
    webkit_settings_set_enable_encrypted_media(s, FALSE);
    webkit_settings_set_media_playback_requires_user_gesture(s, TRUE);
    webkit_settings_set_enable_fullscreen(s, FALSE);
    webkit_settings_set_allow_modal_dialogs(s, FALSE);
    webkit_settings_set_allow_file_access_from_file_urls(s, FALSE);
    webkit_settings_set_allow_universal_access_from_file_urls(s, FALSE);
    webkit_settings_set_allow_top_navigation_to_data_urls(s, FALSE);
    webkit_settings_set_enable_back_forward_navigation_gestures(s, FALSE);
    webkit_settings_set_auto_load_images(s, TRUE);
    // Speculative connections: without these, a click on a link (even one
    // whose navigation is refused) and <link rel=preconnect> open a
    // connection to the host past every rule list.
    {
        WebKitFeatureList* features = webkit_settings_get_all_features();
        for (gsize i = 0; i < webkit_feature_list_get_length(features); ++i) {
            WebKitFeature* f = webkit_feature_list_get(features, i);
            const std::string id = webkit_feature_get_identifier(f);
            if (id == "LinkPreconnect" || id == "LinkDNSPrefetch" || id == "LinkPreload" || id == "LinkPrefetch" ||
                id == "LinkPreconnectEarlyHints") {
                webkit_settings_set_feature_enabled(s, f, FALSE);
            }
        }
        webkit_feature_list_unref(features);
    }
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    webkit_settings_set_enable_dns_prefetching(s, FALSE);
    G_GNUC_END_IGNORE_DEPRECATIONS
    return s;
}

bool loadable(const std::string& url) {
    if (url == "about:blank") return true;
    if (url.size() < 5) return false;
    for (std::size_t i = 0; i < 5; ++i) {
        if (g_ascii_tolower(url[i]) != "data:"[i]) return false;
    }
    return true;
}

std::string html_data_url(const std::string& html) {
    gchar* b64 = g_base64_encode(reinterpret_cast<const guchar*>(html.data()), html.size());
    std::string url = std::string("data:text/html;charset=utf-8;base64,") + b64;
    g_free(b64);
    return url;
}

std::string before_fragment(const std::string& uri) { return uri.substr(0, uri.find('#')); }

// ---- the engine -------------------------------------------------------------

class Impl : public std::enable_shared_from_this<Impl> {
public:
    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void start() {
        if (!gdk_display_get_default()) {
            unavailable_ = "no display";
            events_.push_back(web::CanDisplay{false, unavailable_});
            return;
        }
        manager_ = webkit_user_content_manager_new();
        WebKitSettings* settings = locked_down_settings();
        GtkWidget* widget = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", shared_session(),
                                                    "settings", settings, "user-content-manager", manager_,
                                                    nullptr));
        g_object_unref(settings);
        view_ = WEBKIT_WEB_VIEW(g_object_ref_sink(widget));
        // The window keeps the keyboard (see keep_keyboard_with_window).
        gtk_widget_set_focusable(widget, FALSE);
        const GdkRGBA clear{0, 0, 0, 0};
        webkit_web_view_set_background_color(view_, &clear);

        g_signal_connect(view_, "load-changed", G_CALLBACK(&Impl::on_load_changed), this);
        g_signal_connect(view_, "load-failed", G_CALLBACK(&Impl::on_load_failed), this);
        g_signal_connect(view_, "decide-policy", G_CALLBACK(&Impl::on_decide_policy), this);
        g_signal_connect(view_, "web-process-terminated", G_CALLBACK(&Impl::on_terminated), this);
        g_signal_connect(view_, "context-menu", G_CALLBACK(&Impl::on_context_menu), nullptr);
        g_signal_connect(view_, "permission-request", G_CALLBACK(&Impl::on_permission_request), nullptr);
        g_signal_connect(view_, "run-file-chooser", G_CALLBACK(&Impl::on_file_chooser), nullptr);
        g_signal_connect(view_, "authenticate", G_CALLBACK(&Impl::on_authenticate), nullptr);
        g_signal_connect(view_, "load-failed-with-tls-errors", G_CALLBACK(&Impl::on_tls_errors), nullptr);
        g_signal_connect(view_, "print", G_CALLBACK(&Impl::on_print), nullptr);
        g_signal_connect(view_, "enter-fullscreen", G_CALLBACK(&Impl::on_fullscreen), nullptr);

        record_.widget = widget;
        registry().push_back(&record_);
        available_ = true;
        events_.push_back(web::CanDisplay{true, {}});
    }

    ~Impl() {
        if (view_) {
            std::erase(registry(), &record_);
            g_signal_handlers_disconnect_by_data(view_, this);
            GtkWidget* w = GTK_WIDGET(view_);
            GtkWidget* parent = gtk_widget_get_parent(w);
            if (parent && GTK_IS_OVERLAY(parent)) {
                gtk_overlay_remove_overlay(GTK_OVERLAY(parent), w);
            } else if (parent) {
                gtk_widget_unparent(w);
            }
            webkit_web_view_stop_loading(view_);
            g_object_unref(view_);
        }
        for (auto& [json, filter] : compiled_) webkit_user_content_filter_unref(filter);
        if (manager_) g_object_unref(manager_);
        if (store_) g_object_unref(store_);
        if (!store_dir_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(store_dir_, ec);
        }
    }

    void send(web::Command command) {
        pending_.push_back(std::move(command));
        pump();
    }

    std::vector<web::Event> drain() {
        std::vector<web::Event> out;
        out.swap(events_);
        return out;
    }

    void set_viewport(const WebViewport& v) {
        record_.viewport = v;
        record_.placed_frame = frame_counter();
        if (view_ && v.scale > 0 && v.scale != zoom_) {
            zoom_ = v.scale;
            webkit_web_view_set_zoom_level(view_, v.scale);
        }
    }

    void set_test_id(const std::string& id) {
        if (view_) gtk_widget_set_name(GTK_WIDGET(view_), id.c_str());
    }

private:
    void pump() {
        while (!compiling_ && !pending_.empty()) {
            web::Command command = std::move(pending_.front());
            pending_.pop_front();
            if (auto* rules = std::get_if<web::SetContentRules>(&command)) {
                set_rules(rules->rules_json);
            } else if (auto* load = std::get_if<web::LoadUrl>(&command)) {
                load_url(load->url);
            } else if (auto* html = std::get_if<web::LoadHtml>(&command)) {
                load_url(html_data_url(html->html));
            } else {
                load_url("about:blank");
            }
        }
    }

    void set_rules(const std::string& json) {
        if (!view_) {
            events_.push_back(web::RulesFailed{"web view unavailable: " + unavailable_});
            return;
        }
        if (json.empty()) {
            webkit_user_content_manager_remove_all_filters(manager_);
            rules_ok_ = true;
            events_.push_back(web::RulesApplied{});
            return;
        }
        if (auto it = compiled_.find(json); it != compiled_.end()) {
            install(it->second);
            return;
        }
        if (!ensure_store()) {
            refuse_rules("could not create a private directory for content rules");
            return;
        }
        compiling_ = true;
        const std::string id = "rules-" + std::to_string(++compile_count_);
        GBytes* bytes = g_bytes_new(json.data(), json.size());
        auto* ctx = new CompileContext{weak_from_this(), json};
        webkit_user_content_filter_store_save(store_, id.c_str(), bytes, nullptr, &Impl::on_compiled, ctx);
        g_bytes_unref(bytes);
    }

    void install(WebKitUserContentFilter* filter) {
        webkit_user_content_manager_remove_all_filters(manager_);
        webkit_user_content_manager_add_filter(manager_, filter);
        rules_ok_ = true;
        events_.push_back(web::RulesApplied{});
    }

    // A rule list that cannot be put in force closes the view for loads until
    // a list compiles (or the owner asks for none), rather than showing pages
    // without the protection the owner asked for.
    void refuse_rules(const std::string& why) {
        webkit_user_content_manager_remove_all_filters(manager_);
        rules_ok_ = false;
        events_.push_back(web::RulesFailed{why});
        lib::log::warn("web content rules not applied", {{"error", why}});
    }

    bool ensure_store() {
        if (store_) return true;
        GError* error = nullptr;
        gchar* dir = g_dir_make_tmp("zelk-web-rules-XXXXXX", &error);
        if (!dir) {
            g_clear_error(&error);
            return false;
        }
        store_dir_ = dir;
        store_ = webkit_user_content_filter_store_new(dir);
        g_free(dir);
        return store_ != nullptr;
    }

    struct CompileContext {
        std::weak_ptr<Impl> impl;
        std::string json;
    };

    static void on_compiled(GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<CompileContext> ctx(static_cast<CompileContext*>(data));
        GError* error = nullptr;
        WebKitUserContentFilter* filter = webkit_user_content_filter_store_save_finish(
            WEBKIT_USER_CONTENT_FILTER_STORE(source), result, &error);
        std::shared_ptr<Impl> self = ctx->impl.lock();
        if (!self) {
            if (filter) webkit_user_content_filter_unref(filter);
            g_clear_error(&error);
            return;
        }
        self->compiling_ = false;
        if (!filter) {
            self->refuse_rules(std::string("content rules could not be compiled: ") +
                               (error ? error->message : "unknown error"));
        } else {
            if (self->compiled_.size() >= 8) {
                for (auto& [json, f] : self->compiled_) webkit_user_content_filter_unref(f);
                self->compiled_.clear();
            }
            self->compiled_.emplace(ctx->json, filter);
            self->install(filter);
        }
        g_clear_error(&error);
        self->pump();
    }

    void load_url(const std::string& url) {
        if (!view_) {
            events_.push_back(web::LoadFailed{url, "web view unavailable: " + unavailable_});
            return;
        }
        if (!rules_ok_) {
            events_.push_back(web::LoadFailed{url, "content rules are not in force"});
            return;
        }
        if (!loadable(url)) {
            events_.push_back(web::LoadFailed{url, "only data: documents and about:blank are loaded"});
            return;
        }
        expected_ = url;
        webkit_web_view_load_uri(view_, url.c_str());
    }

    static std::string current_uri(WebKitWebView* view) {
        const gchar* uri = webkit_web_view_get_uri(view);
        return uri ? uri : "";
    }

    static void on_load_changed(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        if (event == WEBKIT_LOAD_STARTED) {
            self->load_failed_ = false;
            self->events_.push_back(web::LoadStarted{current_uri(view)});
        } else if (event == WEBKIT_LOAD_FINISHED && !self->load_failed_) {
            if (!self->available_) {
                self->available_ = true;
                self->events_.push_back(web::CanDisplay{true, {}});
            }
            self->events_.push_back(web::LoadFinished{current_uri(view)});
        }
    }

    static gboolean on_load_failed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->load_failed_ = true;
        // A load replaced by the next one is not a failure worth reporting.
        const bool replaced = error && (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
                                        g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED));
        if (!replaced) {
            self->events_.push_back(web::LoadFailed{uri ? uri : "", error ? error->message : "load failed"});
        }
        return TRUE;  // no built-in error page
    }

    static gboolean on_decide_policy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                     gpointer data) {
        auto* self = static_cast<Impl*>(data);
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        WebKitURIRequest* request = webkit_navigation_action_get_request(action);
        const gchar* raw = request ? webkit_uri_request_get_uri(request) : nullptr;
        const std::string uri = raw ? raw : "";
        if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
            if (!self->expected_.empty() && uri == self->expected_) {
                self->document_ = uri;
                self->expected_.clear();
                webkit_policy_decision_use(decision);
                return TRUE;
            }
            // Jumps within the shown document (href="#part") stay allowed.
            if (!self->document_.empty() && uri.find('#') != std::string::npos &&
                before_fragment(uri) == before_fragment(self->document_)) {
                webkit_policy_decision_use(decision);
                return TRUE;
            }
        }
        webkit_policy_decision_ignore(decision);
        if (webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED) {
            self->events_.push_back(web::LinkClicked{uri});
        }
        return TRUE;
    }

    static void on_terminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->available_ = false;
        const char* why = reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "web content used too much memory"
                                                                              : "web content process ended";
        self->events_.push_back(web::CanDisplay{false, why});
        lib::log::warn("web view process ended", {{"reason", why}});
    }

    static gboolean on_context_menu(WebKitWebView*, WebKitContextMenu* menu, WebKitHitTestResult*, gpointer) {
        // Keep copying; drop opening, downloading, reloading and the like.
        GList* items = g_list_copy(webkit_context_menu_get_items(menu));
        for (GList* l = items; l; l = l->next) {
            auto* item = static_cast<WebKitContextMenuItem*>(l->data);
            switch (webkit_context_menu_item_get_stock_action(item)) {
                case WEBKIT_CONTEXT_MENU_ACTION_COPY:
                case WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD:
                case WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL:
                    break;
                default:
                    webkit_context_menu_remove(menu, item);
            }
        }
        g_list_free(items);
        return webkit_context_menu_get_n_items(menu) == 0 ? TRUE : FALSE;
    }

    static gboolean on_permission_request(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
        webkit_permission_request_deny(request);
        return TRUE;
    }

    static gboolean on_file_chooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer) {
        webkit_file_chooser_request_cancel(request);
        return TRUE;
    }

    static gboolean on_authenticate(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
        webkit_authentication_request_cancel(request);
        return TRUE;
    }

    static gboolean on_tls_errors(WebKitWebView*, gchar*, GTlsCertificate*, GTlsCertificateFlags, gpointer) {
        return TRUE;  // no error page offering to go on
    }
    static gboolean on_print(WebKitWebView*, WebKitPrintOperation*, gpointer) { return TRUE; }
    static gboolean on_fullscreen(WebKitWebView*, gpointer) { return TRUE; }

    WebKitWebView* view_ = nullptr;
    WebKitUserContentManager* manager_ = nullptr;
    WebKitUserContentFilterStore* store_ = nullptr;
    std::string store_dir_;
    std::map<std::string, WebKitUserContentFilter*> compiled_;
    int compile_count_ = 0;
    bool compiling_ = false;
    bool rules_ok_ = true;
    bool available_ = false;
    bool load_failed_ = false;
    std::string unavailable_;
    std::deque<web::Command> pending_;
    std::vector<web::Event> events_;
    std::string expected_;  // our own load, whose navigation is let through once
    std::string document_;  // the document on show
    double zoom_ = 1.0;
    HostRecord record_;
};

class WebKitEngine final : public WebEngine {
public:
    WebKitEngine() : impl_(std::make_shared<Impl>()) { impl_->start(); }
    void send(web::Command command) override { impl_->send(std::move(command)); }
    std::vector<web::Event> drain_events() override { return impl_->drain(); }
    void set_viewport(const WebViewport& viewport) override { impl_->set_viewport(viewport); }
    void set_test_id(const std::string& id) override { impl_->set_test_id(id); }

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace

std::unique_ptr<WebEngine> create_webkit_engine() { return std::make_unique<WebKitEngine>(); }

std::function<std::unique_ptr<WebEngine>()> webkit_engine_factory() {
    return [] { return create_webkit_engine(); };
}

namespace web::host {

void begin_frame() { ++frame_counter(); }

std::vector<Placement> placements() {
    std::vector<Placement> out;
    for (HostRecord* r : registry()) out.push_back(Placement{r->widget, r->viewport, is_shown(*r)});
    return out;
}

bool child_position(GtkWidget* child, GdkRectangle* out) {
    HostRecord* r = find_record(child);
    if (!r) return false;
    *out = to_rect(r->viewport);
    return true;
}

void sync_overlay(GtkOverlay* overlay) {
    static const char* const kHooked = "zelk-web-host-hooked";
    if (!g_object_get_data(G_OBJECT(overlay), kHooked)) {
        g_signal_connect(overlay, "get-child-position", G_CALLBACK(on_get_child_position), nullptr);
        g_object_set_data(G_OBJECT(overlay), kHooked, GINT_TO_POINTER(1));
    }
    keep_keyboard_with_window(overlay);
    bool changed = false;
    for (HostRecord* r : registry()) {
        GtkWidget* w = r->widget;
        GtkWidget* parent = gtk_widget_get_parent(w);
        if (!parent) {
            gtk_overlay_add_overlay(overlay, w);
            parent = GTK_WIDGET(overlay);
            changed = true;
        }
        if (parent != GTK_WIDGET(overlay)) continue;  // hosted by another window
        const bool shown = is_shown(*r);
        if (gtk_widget_get_visible(w) != static_cast<gboolean>(shown)) {
            gtk_widget_set_visible(w, shown);
            changed = true;
        }
        const GdkRectangle rect = to_rect(r->viewport);
        if (shown && !gdk_rectangle_equal(&rect, &r->synced)) {
            r->synced = rect;
            changed = true;
        }
    }
    if (changed) gtk_widget_queue_allocate(GTK_WIDGET(overlay));
}

}  // namespace web::host

}  // namespace runtime::ui
