// The on-screen window: one GtkApplication, one GtkApplicationWindow holding a
// GtkOverlay whose base child is the drawing area the application paints.
//
// The loop is idle unless something happens: input and wakes schedule one
// update turn (coalesced in an idle source); a timer runs turns every 50 ms
// only while the application says something is pending, otherwise once a
// minute. Drawing happens only after a redraw request.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <memory>

#include "lib/base/log.h"
#include "runtime/ui/core/launch_internal.h"
#include "runtime/ui/core/overlay_host.h"
#include "runtime/ui/util/wake.h"

#ifdef ZELK_UI_HAS_WEB
#include "runtime/ui/web/host.h"
#include "runtime/ui/web/webkit_engine.h"
#endif

namespace runtime::ui::detail {

namespace {

constexpr guint kFastTickMs = 50;
constexpr guint kSlowTickSeconds = 60;

Modifiers modifiers_of(GdkModifierType state) {
    Modifiers m;
    m.shift = (state & GDK_SHIFT_MASK) != 0;
    m.ctrl = (state & GDK_CONTROL_MASK) != 0;
    m.alt = (state & GDK_ALT_MASK) != 0;
    m.meta = (state & (GDK_SUPER_MASK | GDK_META_MASK)) != 0;
    return m;
}

std::string key_name(guint keyval) {
    const guint lower = gdk_keyval_to_lower(keyval);
    const char* name = gdk_keyval_name(lower);
    std::string n = name != nullptr ? name : "";
    if (n == "ISO_Left_Tab") return "Tab";
    if (n == "KP_Enter" || n == "ISO_Enter") return "Return";
    return n;
}

class Window;

// Coalesced, thread-safe request for an update turn: the first wake queues
// one idle callback on the window thread; later wakes before it runs add
// nothing.
struct WakeTarget : Waker::Target, std::enable_shared_from_this<WakeTarget> {
    std::atomic<bool> pending{false};
    std::atomic<bool> alive{true};
    Window* window = nullptr;  // read on the window thread only
    void wake() override;
};

class GtkClipboardBridge : public Clipboard {
public:
    explicit GtkClipboardBridge(Window* w) : window_(w) {}
    void set_text(std::string text) override;
    void request_text(std::function<void(std::optional<std::string>)> done) override;
    void detach() { alive_->store(false); }

private:
    Window* window_;
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};

class Window final : public Context, public AppHandle, public OverlayHost {
public:
    Window(LaunchConfig& config, LaunchContext lc, AppState state)
        : config_(config), lc_(std::move(lc)), state_(std::move(state)), clipboard_(this) {
        wake_ = std::make_shared<WakeTarget>();
        wake_->window = this;
    }
    ~Window() override { shutdown(); }

    bool build(GtkApplication* gapp);
    void present() { gtk_window_present(window_); }

    // Context
    Size window_size() const override { return size_; }
    double text_scale() const override { return text_scale_; }
    double device_scale() const override {
        return area_ != nullptr ? gtk_widget_get_scale_factor(GTK_WIDGET(area_)) : 1.0;
    }
    bool headless() const override { return false; }
    const LaunchContext& launch() const override { return lc_; }
    Clipboard& clipboard() override { return clipboard_; }
    Waker waker() override { return Waker(wake_); }
    void set_window_title(std::string title) override {
        title_ = std::move(title);
        if (window_ != nullptr) gtk_window_set_title(window_, title_.c_str());
    }
    void set_ime_cursor(const Rect& r) override {
        if (im_ == nullptr) return;
        GdkRectangle g{static_cast<int>(r.left), static_cast<int>(r.top), std::max(1, static_cast<int>(r.width())),
                       std::max(1, static_cast<int>(r.height()))};
        gtk_im_context_set_cursor_location(im_, &g);
    }
    void quit() override {
        if (window_ != nullptr) gtk_window_close(window_);
    }
    OverlayHost* overlay_host() override { return this; }
    AppState& state() override { return state_; }
    ActionRegistry& actions() override { return registry_; }

    // AppHandle
    ActionRegistry& action_registry_mut() override { return registry_; }
    App& app() override { return *app_; }

    // OverlayHost
    GtkWindow* window() override { return window_; }
    GtkOverlay* overlay() override { return overlay_; }
    void add_child(GtkWidget* child, std::function<Rect()> place) override {
        if (child == nullptr || overlay_ == nullptr) return;
        children_[child] = std::move(place);
        gtk_overlay_add_overlay(overlay_, child);
        relayout();
    }
    void remove_child(GtkWidget* child) override {
        if (children_.erase(child) == 0) return;
        gtk_overlay_remove_overlay(overlay_, child);
    }
    void relayout() override {
        for (auto& [w, place] : children_) {
            const Rect r = place ? place() : Rect{};
            gtk_widget_set_visible(w, !r.empty());
        }
        if (overlay_ != nullptr) gtk_widget_queue_allocate(GTK_WIDGET(overlay_));
    }

    void schedule_turn();
    void run_turn();
    void after_hook();
    void shutdown();

private:
    static void on_draw(GtkDrawingArea*, cairo_t* cr, int w, int h, gpointer self);
    static void on_resize(GtkDrawingArea*, int w, int h, gpointer self);
    static gboolean on_key(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state, gpointer self);
    static void on_commit(GtkIMContext*, const char* text, gpointer self);
    static void on_preedit(GtkIMContext* im, gpointer self);
    static void on_destroy(GtkWidget*, gpointer self);
    static void on_press(GtkGestureClick* g, int n, double x, double y, gpointer self);
    static gboolean on_raw_event(GtkEventControllerLegacy*, GdkEvent* event, gpointer self);
    static void on_motion(GtkEventControllerMotion* c, double x, double y, gpointer self);
    static void on_leave(GtkEventControllerMotion*, gpointer self);
    static gboolean on_scroll(GtkEventControllerScroll* c, double dx, double dy, gpointer self);
    static void on_focus_in(GtkEventControllerFocus*, gpointer self);
    static void on_focus_out(GtkEventControllerFocus*, gpointer self);
    static gboolean on_close(GtkWindow*, gpointer self);
    static gboolean on_child_position(GtkOverlay*, GtkWidget* child, GdkRectangle* out, gpointer self);
    static void on_dpi_changed(GObject*, GParamSpec*, gpointer self);
    static void on_scale_changed(GObject*, GParamSpec*, gpointer self);
    static gboolean on_timer(gpointer self);
    static gboolean on_frame_tick(GtkWidget*, GdkFrameClock*, gpointer self);
    static gboolean on_sync_overlay(gpointer self);

    void update_text_scale();
    void set_timer(guint interval_ms);
    void install_actions(GtkApplication* gapp);
    PointerEvent pointer_event(GtkGesture* g, double x, double y, int clicks);

    LaunchConfig& config_;
    LaunchContext lc_;
    AppState state_;
    GtkClipboardBridge clipboard_;
    ActionRegistry registry_;
    std::shared_ptr<WakeTarget> wake_;
    std::unique_ptr<App> app_;
    std::string title_;
    GtkWindow* window_ = nullptr;
    GtkOverlay* overlay_ = nullptr;
    GtkDrawingArea* area_ = nullptr;
    GtkIMContext* im_ = nullptr;
    Size size_;
    Point last_pointer_;
    double text_scale_ = 1.0;
    guint timer_id_ = 0;
    guint timer_interval_ = 0;
    guint frame_tick_ = 0;
    guint overlay_idle_ = 0;
    gulong dpi_handler_ = 0;
    bool closed_ = false;
    std::map<GtkWidget*, std::function<Rect()>> children_;
};

void WakeTarget::wake() {
    if (!alive.load()) return;
    if (pending.exchange(true)) return;
    auto* hold = new std::shared_ptr<WakeTarget>(shared_from_this());
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer p) -> gboolean {
            auto& target = *static_cast<std::shared_ptr<WakeTarget>*>(p);
            target->pending.store(false);
            if (target->alive.load() && target->window != nullptr) target->window->run_turn();
            return G_SOURCE_REMOVE;
        },
        hold, [](gpointer p) { delete static_cast<std::shared_ptr<WakeTarget>*>(p); });
}

// ---- Clipboard ----

struct ClipboardRead {
    std::function<void(std::optional<std::string>)> done;
    std::shared_ptr<std::atomic<bool>> alive;
    Window* window;
};

void GtkClipboardBridge::set_text(std::string text) {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return;
    gdk_clipboard_set_text(gdk_display_get_clipboard(display), text.c_str());
}

void GtkClipboardBridge::request_text(std::function<void(std::optional<std::string>)> done) {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) {
        done(std::nullopt);
        return;
    }
    auto* read = new ClipboardRead{std::move(done), alive_, window_};
    gdk_clipboard_read_text_async(
        gdk_display_get_clipboard(display), nullptr,
        [](GObject* source, GAsyncResult* res, gpointer p) {
            std::unique_ptr<ClipboardRead> r(static_cast<ClipboardRead*>(p));
            GError* error = nullptr;
            char* text = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(source), res, &error);
            std::optional<std::string> value;
            if (text != nullptr) value = std::string(text);
            g_free(text);
            if (error != nullptr) g_error_free(error);
            if (!r->alive->load()) return;
            r->done(std::move(value));
            r->window->request_redraw();
            r->window->after_hook();
        },
        read);
}

// ---- Window ----

bool Window::build(GtkApplication* gapp) {
    // Background work (image loads, pickers) wakes this window; web views
    // made from here on (the application's own included) render with WebKit.
    Waker waker(wake_);
    set_background_wake([waker] { waker.wake(); });
#ifdef ZELK_UI_HAS_WEB
    set_web_engine_factory(webkit_engine_factory());
#endif
    std::unique_ptr<App> app;
    if (lc_.scene_start() && config_.make_scene_app) app = config_.make_scene_app(lc_);
    else if (config_.make_app) app = config_.make_app();
    if (!app) {
        lib::log::error("the program built no application");
        return false;
    }
    app_ = std::move(app);

    window_ = GTK_WINDOW(gtk_application_window_new(gapp));
    title_ = config_.application_id;
    gtk_window_set_title(window_, title_.c_str());
    size_ = initial_size(config_, lc_);
    gtk_window_set_default_size(window_, static_cast<int>(size_.width), static_cast<int>(size_.height));

    overlay_ = GTK_OVERLAY(gtk_overlay_new());
    area_ = GTK_DRAWING_AREA(gtk_drawing_area_new());
    GtkWidget* area = GTK_WIDGET(area_);
    gtk_widget_set_hexpand(area, TRUE);
    gtk_widget_set_vexpand(area, TRUE);
    gtk_widget_set_focusable(area, TRUE);
    gtk_widget_set_can_focus(area, TRUE);
    gtk_overlay_set_child(overlay_, area);
    gtk_window_set_child(window_, GTK_WIDGET(overlay_));
    gtk_drawing_area_set_draw_func(area_, &Window::on_draw, this, nullptr);
    g_signal_connect(area_, "resize", G_CALLBACK(&Window::on_resize), this);
    g_signal_connect(overlay_, "get-child-position", G_CALLBACK(&Window::on_child_position), this);
    g_signal_connect(window_, "close-request", G_CALLBACK(&Window::on_close), this);
    g_signal_connect(window_, "destroy", G_CALLBACK(&Window::on_destroy), this);
    g_signal_connect(area_, "notify::scale-factor", G_CALLBACK(&Window::on_scale_changed), this);

    im_ = gtk_im_multicontext_new();
    gtk_im_context_set_client_widget(im_, area);
    g_signal_connect(im_, "commit", G_CALLBACK(&Window::on_commit), this);
    g_signal_connect(im_, "preedit-changed", G_CALLBACK(&Window::on_preedit), this);
    g_signal_connect(im_, "preedit-end", G_CALLBACK(&Window::on_preedit), this);
    GtkEventController* keys = gtk_event_controller_key_new();
    gtk_event_controller_key_set_im_context(GTK_EVENT_CONTROLLER_KEY(keys), im_);
    g_signal_connect(keys, "key-pressed", G_CALLBACK(&Window::on_key), this);
    gtk_widget_add_controller(area, keys);

    GtkGesture* click = gtk_gesture_click_new();
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), 0);
    g_signal_connect(click, "pressed", G_CALLBACK(&Window::on_press), this);
    gtk_widget_add_controller(area, GTK_EVENT_CONTROLLER(click));
    // Releases come from the raw events: the click gesture gives up on a
    // press that moves (a drag) and then reports no release at all.
    GtkEventController* raw = gtk_event_controller_legacy_new();
    g_signal_connect(raw, "event", G_CALLBACK(&Window::on_raw_event), this);
    gtk_widget_add_controller(area, raw);

    GtkEventController* motion = gtk_event_controller_motion_new();
    g_signal_connect(motion, "motion", G_CALLBACK(&Window::on_motion), this);
    g_signal_connect(motion, "leave", G_CALLBACK(&Window::on_leave), this);
    gtk_widget_add_controller(area, motion);

    GtkEventController* scroll =
        gtk_event_controller_scroll_new(GTK_EVENT_CONTROLLER_SCROLL_BOTH_AXES);
    g_signal_connect(scroll, "scroll", G_CALLBACK(&Window::on_scroll), this);
    gtk_widget_add_controller(area, scroll);

    GtkEventController* focus = gtk_event_controller_focus_new();
    g_signal_connect(focus, "enter", G_CALLBACK(&Window::on_focus_in), this);
    g_signal_connect(focus, "leave", G_CALLBACK(&Window::on_focus_out), this);
    gtk_widget_add_controller(area, focus);

    if (GtkSettings* settings = gtk_settings_get_default()) {
        dpi_handler_ = g_signal_connect(settings, "notify::gtk-xft-dpi", G_CALLBACK(&Window::on_dpi_changed), this);
    }
    update_text_scale();

    install_actions(gapp);

    if (config_.setup) config_.setup(*this);
    app_->resize(*this, size_);
    gtk_widget_grab_focus(area);
    after_hook();
    request_redraw();
    after_hook();
    set_timer(kSlowTickSeconds * 1000);
    return true;
}

void Window::install_actions(GtkApplication* gapp) {
    for (const Accelerator& a : config_.accelerators) {
        const char* accels[] = {a.accelerator.c_str(), nullptr};
        gtk_application_set_accels_for_action(gapp, a.action.c_str(), accels);
    }
    GSimpleAction* quit = g_simple_action_new("quit", nullptr);
    g_signal_connect(quit, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer self) {
                         static_cast<Window*>(self)->quit();
                     }),
                     this);
    g_action_map_add_action(G_ACTION_MAP(gapp), G_ACTION(quit));
    g_object_unref(quit);
    if (config_.options.automation) {
        GSimpleAction* invoke = g_simple_action_new("invoke-control", G_VARIANT_TYPE("(sss)"));
        g_signal_connect(invoke, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant* param, gpointer p) {
                             auto* self = static_cast<Window*>(p);
                             if (self->closed_ || !self->app_->permission_context().external_controls) return;
                             const char* id = nullptr;
                             const char* verb = nullptr;
                             const char* value = nullptr;
                             g_variant_get(param, "(&s&s&s)", &id, &verb, &value);
                             const std::optional<ControlVerb> v = parse_control_verb(verb);
                             if (!v) {
                                 lib::log::warn("unknown control verb", {{"verb", verb}});
                                 return;
                             }
                             self->app_->invoke_control(*self, id, ControlAction{*v, value});
                             self->after_hook();
                         }),
                         this);
        g_action_map_add_action(G_ACTION_MAP(gapp), G_ACTION(invoke));
        g_object_unref(invoke);
        GSimpleAction* dispatch = g_simple_action_new("dispatch-action", G_VARIANT_TYPE("(ss)"));
        g_signal_connect(dispatch, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant* param, gpointer p) {
                             auto* self = static_cast<Window*>(p);
                             if (self->closed_ || !self->app_->permission_context().external_actions) return;
                             const char* kind = nullptr;
                             const char* payload = nullptr;
                             g_variant_get(param, "(&s&s)", &kind, &payload);
                             const lib::Status st = self->registry_.dispatch(kind, payload);
                             if (!st) lib::log::warn("action was not applied", {{"kind", kind}, {"error", st.error()}});
                             self->request_redraw();
                             self->after_hook();
                         }),
                         this);
        g_action_map_add_action(G_ACTION_MAP(gapp), G_ACTION(dispatch));
        g_object_unref(dispatch);
    }
    if (config_.options.accessibility) {
        GSimpleAction* tree = g_simple_action_new("access-tree", G_VARIANT_TYPE_STRING);
        g_signal_connect(tree, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant* param, gpointer p) {
                             auto* self = static_cast<Window*>(p);
                             if (self->closed_) return;
                             const char* path = g_variant_get_string(param, nullptr);
                             const std::optional<a11y::AccessNode> root = self->app_->access_tree(*self);
                             std::ofstream out(path, std::ios::binary | std::ios::trunc);
                             out << (root ? a11y::to_json(*root, 2) : std::string("null")) << "\n";
                             if (!out) lib::log::warn("could not write the accessibility tree", {{"path", path}});
                         }),
                         this);
        g_action_map_add_action(G_ACTION_MAP(gapp), G_ACTION(tree));
        g_object_unref(tree);
    }
}

void Window::update_text_scale() {
    double scale = 1.0;
    if (lc_.text_scale) {
        scale = *lc_.text_scale;
    } else if (GtkSettings* settings = gtk_settings_get_default()) {
        int dpi = -1;
        g_object_get(settings, "gtk-xft-dpi", &dpi, nullptr);
        if (dpi > 0) scale = dpi / 1024.0 / 96.0;
    }
    if (!std::isfinite(scale)) scale = 1.0;
    text_scale_ = std::clamp(scale, 0.5, 4.0);
}

void Window::schedule_turn() { wake_->wake(); }

void Window::run_turn() {
    if (closed_ || !app_) return;
    const auto start = std::chrono::steady_clock::now();
    app_->update(*this);
    if (config_.options.frame_stats) {
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        lib::log::debug("update turn", {{"us", std::to_string(us.count())}});
    }
    if (take_redraw() || app_->take_redraw_request()) gtk_widget_queue_draw(GTK_WIDGET(area_));
    set_timer(app_->wants_fast_ticks() ? kFastTickMs : kSlowTickSeconds * 1000);
}

// After an input hook: draw if asked, and run an update turn soon.
void Window::after_hook() {
    if (closed_ || !app_) return;
    if (take_redraw() || app_->take_redraw_request()) gtk_widget_queue_draw(GTK_WIDGET(area_));
    schedule_turn();
}

void Window::set_timer(guint interval_ms) {
    if (timer_id_ != 0 && timer_interval_ == interval_ms) return;
    if (timer_id_ != 0) g_source_remove(timer_id_);
    timer_interval_ = interval_ms;
    if (interval_ms >= 1000) timer_id_ = g_timeout_add_seconds(interval_ms / 1000, &Window::on_timer, this);
    else timer_id_ = g_timeout_add(interval_ms, &Window::on_timer, this);
}

gboolean Window::on_timer(gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_) {
        self->timer_id_ = 0;
        return G_SOURCE_REMOVE;
    }
    self->run_turn();
    return G_SOURCE_CONTINUE;
}

void Window::on_draw(GtkDrawingArea*, cairo_t* cr, int w, int h, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_ || !self->app_) return;
    const auto start = std::chrono::steady_clock::now();
    if (w != static_cast<int>(self->size_.width) || h != static_cast<int>(self->size_.height)) {
        self->size_ = {static_cast<double>(w), static_cast<double>(h)};
        self->app_->resize(*self, self->size_);
    }
#ifdef ZELK_UI_HAS_WEB
    web::host::begin_frame();
#endif
    bool again = false;
    {
        Canvas canvas(cr, self->device_scale(), true);
        self->app_->draw(canvas, *self);
        again = canvas.next_frame_requested();
    }
    // A draw may itself ask for more (hover states found while drawing).
    self->take_redraw();
    self->app_->take_redraw_request();
    if (again && self->frame_tick_ == 0) {
        self->frame_tick_ = gtk_widget_add_tick_callback(GTK_WIDGET(self->area_), &Window::on_frame_tick, self, nullptr);
    }
    if (self->overlay_idle_ == 0) {
        self->overlay_idle_ = g_idle_add_full(G_PRIORITY_HIGH_IDLE, &Window::on_sync_overlay, self, nullptr);
    }
    if (self->config_.options.frame_stats) {
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        lib::log::debug("frame", {{"us", std::to_string(us.count())}});
    }
}

gboolean Window::on_sync_overlay(gpointer p) {
    auto* self = static_cast<Window*>(p);
    self->overlay_idle_ = 0;
    if (self->closed_) return G_SOURCE_REMOVE;
#ifdef ZELK_UI_HAS_WEB
    web::host::sync_overlay(self->overlay_);
#endif
    if (!self->children_.empty()) self->relayout();
    return G_SOURCE_REMOVE;
}

gboolean Window::on_frame_tick(GtkWidget* widget, GdkFrameClock*, gpointer p) {
    auto* self = static_cast<Window*>(p);
    self->frame_tick_ = 0;
    gtk_widget_queue_draw(widget);
    return G_SOURCE_REMOVE;
}

void Window::on_resize(GtkDrawingArea*, int w, int h, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_ || !self->app_) return;
    self->size_ = {static_cast<double>(w), static_cast<double>(h)};
    self->app_->resize(*self, self->size_);
    self->request_redraw();
    self->after_hook();
}

gboolean Window::on_key(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_ || !self->app_) return FALSE;
    KeyEvent ev;
    ev.key = key_name(keyval);
    ev.mods = modifiers_of(state);
    const bool used = self->app_->key_pressed(*self, ev);
    self->after_hook();
    return used ? TRUE : FALSE;
}

void Window::on_commit(GtkIMContext*, const char* text, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_ || !self->app_ || text == nullptr) return;
    self->app_->text_input(*self, text);
    self->after_hook();
}

void Window::on_preedit(GtkIMContext* im, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_ || !self->app_) return;
    char* str = nullptr;
    int cursor = 0;
    gtk_im_context_get_preedit_string(im, &str, nullptr, &cursor);
    const std::string text = str != nullptr ? str : "";
    g_free(str);
    const char* at = g_utf8_offset_to_pointer(text.c_str(), std::clamp<glong>(cursor, 0, g_utf8_strlen(text.c_str(), -1)));
    self->app_->text_preedit(*self, text, static_cast<std::size_t>(at - text.c_str()));
    self->request_redraw();
    if (self->take_redraw() || self->app_->take_redraw_request()) gtk_widget_queue_draw(GTK_WIDGET(self->area_));
}

void Window::on_destroy(GtkWidget*, gpointer p) {
    // Widgets are going: stop everything that would touch them.
    static_cast<Window*>(p)->shutdown();
}

PointerEvent Window::pointer_event(GtkGesture* g, double x, double y, int clicks) {
    PointerEvent ev;
    ev.pos = {x, y};
    ev.clicks = std::max(1, clicks);
    switch (gtk_gesture_single_get_current_button(GTK_GESTURE_SINGLE(g))) {
        case 1: ev.button = PointerButton::primary; break;
        case 2: ev.button = PointerButton::middle; break;
        case 3: ev.button = PointerButton::secondary; break;
        default: ev.button = PointerButton::none; break;
    }
    ev.mods = modifiers_of(gtk_event_controller_get_current_event_state(GTK_EVENT_CONTROLLER(g)));
    return ev;
}

void Window::on_press(GtkGestureClick* g, int n, double x, double y, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_ || !self->app_) return;
    gtk_widget_grab_focus(GTK_WIDGET(self->area_));
    self->app_->pointer_down(*self, self->pointer_event(GTK_GESTURE(g), x, y, n));
    self->after_hook();
}

gboolean Window::on_raw_event(GtkEventControllerLegacy*, GdkEvent* event, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_ || !self->app_ || gdk_event_get_event_type(event) != GDK_BUTTON_RELEASE) return FALSE;
    PointerEvent ev;
    ev.pos = self->last_pointer_;
    double sx = 0;
    double sy = 0;
    if (gdk_event_get_position(event, &sx, &sy)) {
        // Surface coordinates to the drawing area's.
        GtkNative* native = gtk_widget_get_native(GTK_WIDGET(self->area_));
        double nx = 0;
        double ny = 0;
        gtk_native_get_surface_transform(native, &nx, &ny);
        double ax = 0;
        double ay = 0;
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        if (gtk_widget_translate_coordinates(GTK_WIDGET(native), GTK_WIDGET(self->area_), sx - nx, sy - ny, &ax, &ay)) {
            ev.pos = {ax, ay};
        }
        G_GNUC_END_IGNORE_DEPRECATIONS
    }
    switch (gdk_button_event_get_button(event)) {
        case 1: ev.button = PointerButton::primary; break;
        case 2: ev.button = PointerButton::middle; break;
        case 3: ev.button = PointerButton::secondary; break;
        default: ev.button = PointerButton::none; break;
    }
    ev.mods = modifiers_of(gdk_event_get_modifier_state(event));
    self->app_->pointer_up(*self, ev);
    self->after_hook();
    return FALSE;
}

void Window::on_motion(GtkEventControllerMotion* c, double x, double y, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_ || !self->app_) return;
    PointerEvent ev;
    ev.pos = {x, y};
    self->last_pointer_ = ev.pos;
    ev.mods = modifiers_of(gtk_event_controller_get_current_event_state(GTK_EVENT_CONTROLLER(c)));
    self->app_->pointer_move(*self, ev);
    // Moves are frequent: only a redraw, no update turn.
    if (self->take_redraw() || self->app_->take_redraw_request()) gtk_widget_queue_draw(GTK_WIDGET(self->area_));
}

void Window::on_leave(GtkEventControllerMotion*, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_ || !self->app_) return;
    self->app_->pointer_leave(*self);
    if (self->take_redraw() || self->app_->take_redraw_request()) gtk_widget_queue_draw(GTK_WIDGET(self->area_));
}

gboolean Window::on_scroll(GtkEventControllerScroll* c, double dx, double dy, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_ || !self->app_) return FALSE;
    ScrollEvent ev;
    ev.pos = self->last_pointer_;
    const bool wheel = gtk_event_controller_scroll_get_unit(c) == GDK_SCROLL_UNIT_WHEEL;
    ev.dx = wheel ? dx * 48 : dx;
    ev.dy = wheel ? dy * 48 : dy;
    ev.mods = modifiers_of(gtk_event_controller_get_current_event_state(GTK_EVENT_CONTROLLER(c)));
    self->app_->scroll(*self, ev);
    self->after_hook();
    return TRUE;
}

void Window::on_focus_in(GtkEventControllerFocus*, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_ || !self->app_) return;
    gtk_im_context_focus_in(self->im_);
    self->app_->focus_changed(*self, true);
    self->after_hook();
}

void Window::on_focus_out(GtkEventControllerFocus*, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_ || !self->app_) return;
    gtk_im_context_focus_out(self->im_);
    self->app_->focus_changed(*self, false);
    self->after_hook();
}

void Window::on_dpi_changed(GObject*, GParamSpec*, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_ || !self->app_) return;
    self->update_text_scale();
    self->app_->resize(*self, self->size_);
    self->request_redraw();
    self->after_hook();
}

void Window::on_scale_changed(GObject*, GParamSpec*, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (self->closed_) return;
    gtk_widget_queue_draw(GTK_WIDGET(self->area_));
}

gboolean Window::on_child_position(GtkOverlay*, GtkWidget* child, GdkRectangle* out, gpointer p) {
    auto* self = static_cast<Window*>(p);
    auto it = self->children_.find(child);
    if (it == self->children_.end()) return FALSE;  // another handler's child
    const Rect r = it->second ? it->second() : Rect{};
    out->x = static_cast<int>(std::floor(r.left));
    out->y = static_cast<int>(std::floor(r.top));
    out->width = std::max(0, static_cast<int>(std::ceil(r.right)) - out->x);
    out->height = std::max(0, static_cast<int>(std::ceil(r.bottom)) - out->y);
    return TRUE;
}

gboolean Window::on_close(GtkWindow*, gpointer p) {
    auto* self = static_cast<Window*>(p);
    if (!self->closed_ && self->app_) self->app_->closing(*self);
    self->shutdown();
    return FALSE;  // let GTK destroy the window
}

void Window::shutdown() {
    if (closed_) return;
    closed_ = true;
    wake_->alive.store(false);
    wake_->window = nullptr;
    set_background_wake({});
    clipboard_.detach();
    if (timer_id_ != 0) g_source_remove(timer_id_);
    timer_id_ = 0;
    if (overlay_idle_ != 0) g_source_remove(overlay_idle_);
    overlay_idle_ = 0;
    if (frame_tick_ != 0 && area_ != nullptr) gtk_widget_remove_tick_callback(GTK_WIDGET(area_), frame_tick_);
    frame_tick_ = 0;
    if (dpi_handler_ != 0) {
        if (GtkSettings* settings = gtk_settings_get_default()) g_signal_handler_disconnect(settings, dpi_handler_);
        dpi_handler_ = 0;
    }
    // The application goes before the widgets it may hold natives of.
    app_.reset();
    if (im_ != nullptr) {
        gtk_im_context_set_client_widget(im_, nullptr);
        g_object_unref(im_);
        im_ = nullptr;
    }
}

struct Run {
    LaunchConfig* config;
    const LaunchContext* lc;
    std::unique_ptr<Window> window;
    bool failed = false;
};

void on_activate(GtkApplication* gapp, gpointer p) {
    auto* run = static_cast<Run*>(p);
    if (run->window) {
        run->window->present();
        return;
    }
    run->window = std::make_unique<Window>(*run->config, *run->lc, open_state(*run->config, *run->lc));
    if (!run->window->build(gapp)) {
        run->failed = true;
        run->window.reset();
        return;
    }
    run->window->present();
}

}  // namespace

int run_window(LaunchConfig& config, const LaunchContext& lc, const char* argv0) {
    const GApplicationFlags flags = lc.scene_start() ? G_APPLICATION_NON_UNIQUE : G_APPLICATION_DEFAULT_FLAGS;
    const char* id = g_application_id_is_valid(config.application_id.c_str()) ? config.application_id.c_str() : nullptr;
    GtkApplication* gapp = gtk_application_new(id, flags);
    Run run{&config, &lc, nullptr};
    g_signal_connect(gapp, "activate", G_CALLBACK(on_activate), &run);
    // SIGTERM and SIGINT close the window like the user would, so the
    // application gets its closing hook and the loop ends normally.
    auto close_on_signal = +[](gpointer p) -> gboolean {
        auto* r = static_cast<Run*>(p);
        if (r->window) r->window->quit();
        return G_SOURCE_CONTINUE;
    };
    const guint term = g_unix_signal_add(SIGTERM, close_on_signal, &run);
    const guint intr = g_unix_signal_add(SIGINT, close_on_signal, &run);
    char* args[] = {const_cast<char*>(argv0), nullptr};
    int status = g_application_run(G_APPLICATION(gapp), 1, args);
    g_source_remove(term);
    g_source_remove(intr);
    run.window.reset();
    g_object_unref(gapp);
    if (run.failed && status == 0) status = 1;
    return status;
}

}  // namespace runtime::ui::detail
