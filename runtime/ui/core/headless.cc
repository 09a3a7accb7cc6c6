#include "runtime/ui/core/headless.h"

#include <cairo.h>

#include <atomic>
#include <cmath>
#include <cstring>

namespace runtime::ui {

namespace {

struct CountingWake : Waker::Target {
    std::atomic<int> count{0};
    void wake() override { count.fetch_add(1); }
};

}  // namespace

struct HeadlessSession::Host : Context, AppHandle {
    App& application;
    Size size;
    HeadlessOptions options;
    LocalClipboard clip;
    ActionRegistry registry;
    std::shared_ptr<CountingWake> wake = std::make_shared<CountingWake>();
    std::string window_title;
    bool quit_flag = false;
    bool dirty = true;

    Host(App& a, Size s, HeadlessOptions o) : application(a), size(s), options(std::move(o)) {}

    Size window_size() const override { return size; }
    double text_scale() const override { return options.text_scale; }
    double device_scale() const override { return 1.0; }
    bool headless() const override { return true; }
    const LaunchContext& launch() const override { return options.launch; }
    Clipboard& clipboard() override { return clip; }
    Waker waker() override { return Waker(wake); }
    void set_window_title(std::string title) override { window_title = std::move(title); }
    void quit() override { quit_flag = true; }
    AppState& state() override { return options.state; }
    ActionRegistry& actions() override { return registry; }
    ActionRegistry& action_registry_mut() override { return registry; }
    App& app() override { return application; }

    void settle() {
        if (take_redraw()) dirty = true;
        if (application.take_redraw_request()) dirty = true;
    }
    void run_turn() {
        application.update(*this);
        settle();
    }
};

HeadlessSession::HeadlessSession(App& app, Size size, HeadlessOptions options)
    : host_(std::make_unique<Host>(app, size, std::move(options))) {
    if (host_->options.launch.text_scale) host_->options.text_scale = *host_->options.launch.text_scale;
    if (!std::isfinite(host_->options.text_scale)) host_->options.text_scale = 1.0;
    host_->options.text_scale = std::clamp(host_->options.text_scale, 0.5, 4.0);
    app.resize(*host_, size);
    host_->settle();
}

HeadlessSession::~HeadlessSession() = default;

Context& HeadlessSession::context() { return *host_; }
AppHandle& HeadlessSession::handle() { return *host_; }

void HeadlessSession::turn(int count) {
    for (int i = 0; i < count; ++i) host_->run_turn();
}

void HeadlessSession::resize(Size size) {
    host_->size = size;
    host_->application.resize(*host_, size);
    host_->dirty = true;
    host_->settle();
}

bool HeadlessSession::key(const KeyEvent& ev) {
    const bool used = host_->application.key_pressed(*host_, ev);
    host_->settle();
    host_->run_turn();
    return used;
}

void HeadlessSession::text(std::string_view committed) {
    host_->application.text_input(*host_, committed);
    host_->settle();
    host_->run_turn();
}

void HeadlessSession::pointer_down(const PointerEvent& ev) {
    host_->application.pointer_down(*host_, ev);
    host_->settle();
    host_->run_turn();
}

void HeadlessSession::pointer_up(const PointerEvent& ev) {
    host_->application.pointer_up(*host_, ev);
    host_->settle();
    host_->run_turn();
}

void HeadlessSession::pointer_move(const PointerEvent& ev) {
    host_->application.pointer_move(*host_, ev);
    host_->settle();
    host_->run_turn();
}

void HeadlessSession::scroll(const ScrollEvent& ev) {
    host_->application.scroll(*host_, ev);
    host_->settle();
    host_->run_turn();
}

void HeadlessSession::click(Point p) {
    PointerEvent ev;
    ev.pos = p;
    ev.button = PointerButton::primary;
    pointer_down(ev);
    pointer_up(ev);
}

bool HeadlessSession::invoke_control(std::string_view identifier, const ControlAction& action) {
    const bool used = host_->application.invoke_control(*host_, identifier, action);
    host_->settle();
    host_->run_turn();
    return used;
}

std::optional<a11y::AccessNode> HeadlessSession::access_tree() { return host_->application.access_tree(*host_); }

bool HeadlessSession::redraw_pending() const { return host_->dirty; }

Image HeadlessSession::render() {
    const int w = std::max(1, static_cast<int>(std::lround(host_->size.width)));
    const int h = std::max(1, static_cast<int>(std::lround(host_->size.height)));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    {
        Canvas canvas(cr, 1.0, false);
        host_->application.draw(canvas, *host_);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    Image out;
    out.width = w;
    out.height = h;
    out.stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    out.pixels.assign(data, data + static_cast<std::size_t>(out.stride) * h);
    cairo_surface_destroy(surface);
    host_->dirty = false;
    host_->settle();
    return out;
}

lib::Status HeadlessSession::render_png(const std::string& path) { return write_png(render(), path); }

LocalClipboard& HeadlessSession::clipboard() { return host_->clip; }
const std::string& HeadlessSession::title() const { return host_->window_title; }
int HeadlessSession::wakes() const { return host_->wake->count.load(); }
bool HeadlessSession::quit_requested() const { return host_->quit_flag; }

lib::Status write_png(const Image& image, const std::string& path) {
    if (image.width <= 0 || image.height <= 0 || image.stride < image.width * 4 ||
        image.pixels.size() < static_cast<std::size_t>(image.stride) * image.height) {
        return lib::err("image has no pixels");
    }
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        const_cast<unsigned char*>(image.pixels.data()), CAIRO_FORMAT_ARGB32, image.width, image.height,
        image.stride);
    const cairo_status_t st = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (st != CAIRO_STATUS_SUCCESS) {
        return lib::err("could not write " + path + ": " + cairo_status_to_string(st));
    }
    return {};
}

lib::Status render_to_png(App& app, Size size, const std::string& path, HeadlessOptions options, int turns) {
    HeadlessSession session(app, size, std::move(options));
    session.turn(turns);
    return session.render_png(path);
}

}  // namespace runtime::ui
