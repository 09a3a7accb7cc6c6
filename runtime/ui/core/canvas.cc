#include "runtime/ui/core/canvas.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

namespace runtime::ui {

Path& Path::move_to(double x, double y) {
    ops_.push_back({Op::move, {x, y, 0, 0, 0, 0}});
    return *this;
}
Path& Path::line_to(double x, double y) {
    ops_.push_back({Op::line, {x, y, 0, 0, 0, 0}});
    return *this;
}
Path& Path::curve_to(double x1, double y1, double x2, double y2, double x3, double y3) {
    ops_.push_back({Op::curve, {x1, y1, x2, y2, x3, y3}});
    return *this;
}
Path& Path::arc(double cx, double cy, double radius, double a0, double a1) {
    ops_.push_back({Op::arc, {cx, cy, radius, a0, a1, 0}});
    return *this;
}
Path& Path::close() {
    ops_.push_back({Op::close, {0, 0, 0, 0, 0, 0}});
    return *this;
}

namespace {

void replay(cairo_t* cr, const Path& p) {
    cairo_new_path(cr);
    for (const auto& op : p.ops()) {
        switch (op.kind) {
            case Path::Op::move: cairo_move_to(cr, op.v[0], op.v[1]); break;
            case Path::Op::line: cairo_line_to(cr, op.v[0], op.v[1]); break;
            case Path::Op::curve:
                cairo_curve_to(cr, op.v[0], op.v[1], op.v[2], op.v[3], op.v[4], op.v[5]);
                break;
            case Path::Op::arc: cairo_arc(cr, op.v[0], op.v[1], op.v[2], op.v[3], op.v[4]); break;
            case Path::Op::close: cairo_close_path(cr); break;
        }
    }
}

cairo_line_cap_t to_cairo(LineCap c) {
    switch (c) {
        case LineCap::butt: return CAIRO_LINE_CAP_BUTT;
        case LineCap::square: return CAIRO_LINE_CAP_SQUARE;
        case LineCap::round: break;
    }
    return CAIRO_LINE_CAP_ROUND;
}

cairo_line_join_t to_cairo(LineJoin j) {
    switch (j) {
        case LineJoin::miter: return CAIRO_LINE_JOIN_MITER;
        case LineJoin::bevel: return CAIRO_LINE_JOIN_BEVEL;
        case LineJoin::round: break;
    }
    return CAIRO_LINE_JOIN_ROUND;
}

}  // namespace

Canvas::Canvas(cairo_t* cr, double device_scale, bool animations)
    : cr_(cr), device_scale_(device_scale > 0 ? device_scale : 1.0), animations_(animations) {
    cairo_save(cr_);
}

Canvas::~Canvas() {
    // Unbalanced saves (a widget that forgot a restore) must not leak into the
    // caller's context.
    while (depth_ > 0) {
        cairo_restore(cr_);
        --depth_;
    }
    cairo_restore(cr_);
}

void Canvas::save() {
    cairo_save(cr_);
    ++depth_;
}

void Canvas::restore() {
    if (depth_ == 0) return;
    cairo_restore(cr_);
    --depth_;
}

void Canvas::push_clip(const Rect& r) {
    save();
    cairo_rectangle(cr_, r.left, r.top, std::max(0.0, r.width()), std::max(0.0, r.height()));
    cairo_clip(cr_);
}

void Canvas::push_clip_rounded(const Rect& r, double radius) {
    save();
    rounded_path(r, Corners::all(radius));
    cairo_clip(cr_);
}

void Canvas::push_clip_circle(Point c, double radius) {
    save();
    cairo_new_path(cr_);
    cairo_arc(cr_, c.x, c.y, std::max(0.0, radius), 0, 2 * M_PI);
    cairo_clip(cr_);
}

void Canvas::pop_clip() { restore(); }

void Canvas::translate(double dx, double dy) { cairo_translate(cr_, dx, dy); }

void Canvas::begin_group(const Rect& bounds) {
    save();
    // The intermediate surface only spans the bounds.
    cairo_new_path(cr_);
    cairo_rectangle(cr_, bounds.left, bounds.top, std::max(0.0, bounds.width()), std::max(0.0, bounds.height()));
    cairo_clip(cr_);
    cairo_push_group(cr_);
}

void Canvas::end_group(double opacity) {
    cairo_pop_group_to_source(cr_);
    cairo_paint_with_alpha(cr_, std::clamp(opacity, 0.0, 1.0));
    restore();
}

void Canvas::set_color(Color c) { cairo_set_source_rgba(cr_, c.r, c.g, c.b, c.a); }

void Canvas::rounded_path(const Rect& r, const Corners& k) {
    const double w = std::max(0.0, r.width());
    const double h = std::max(0.0, r.height());
    const double limit = std::min(w, h) / 2;
    const double tl = std::clamp(k.top_left, 0.0, limit);
    const double tr = std::clamp(k.top_right, 0.0, limit);
    const double br = std::clamp(k.bottom_right, 0.0, limit);
    const double bl = std::clamp(k.bottom_left, 0.0, limit);
    const double x = r.left, y = r.top;
    cairo_new_path(cr_);
    cairo_move_to(cr_, x + tl, y);
    cairo_line_to(cr_, x + w - tr, y);
    if (tr > 0) cairo_arc(cr_, x + w - tr, y + tr, tr, -M_PI / 2, 0);
    cairo_line_to(cr_, x + w, y + h - br);
    if (br > 0) cairo_arc(cr_, x + w - br, y + h - br, br, 0, M_PI / 2);
    cairo_line_to(cr_, x + bl, y + h);
    if (bl > 0) cairo_arc(cr_, x + bl, y + h - bl, bl, M_PI / 2, M_PI);
    cairo_line_to(cr_, x, y + tl);
    if (tl > 0) cairo_arc(cr_, x + tl, y + tl, tl, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr_);
}

void Canvas::fill_rect(const Rect& r, Color c) {
    if (r.empty() || c.a <= 0) return;
    set_color(c);
    cairo_new_path(cr_);
    cairo_rectangle(cr_, r.left, r.top, r.width(), r.height());
    cairo_fill(cr_);
}

void Canvas::stroke_rect(const Rect& r, Color c, double width) {
    if (r.empty() || c.a <= 0 || width <= 0) return;
    set_color(c);
    cairo_set_line_width(cr_, width);
    cairo_new_path(cr_);
    const double h = width / 2;
    cairo_rectangle(cr_, r.left + h, r.top + h, std::max(0.0, r.width() - width),
                    std::max(0.0, r.height() - width));
    cairo_stroke(cr_);
}

void Canvas::fill_rounded_rect(const Rect& r, double radius, Color c) {
    fill_rounded_rect(r, Corners::all(radius), c);
}

void Canvas::fill_rounded_rect(const Rect& r, const Corners& radii, Color c) {
    if (r.empty() || c.a <= 0) return;
    set_color(c);
    rounded_path(r, radii);
    cairo_fill(cr_);
}

void Canvas::stroke_rounded_rect(const Rect& r, double radius, Color c, double width) {
    if (r.empty() || c.a <= 0 || width <= 0) return;
    set_color(c);
    cairo_set_line_width(cr_, width);
    const double h = width / 2;
    rounded_path(r.inset(h), Corners::all(std::max(0.0, radius - h)));
    cairo_stroke(cr_);
}

void Canvas::line(Point a, Point b, Color c, double width) {
    if (c.a <= 0 || width <= 0) return;
    set_color(c);
    cairo_set_line_width(cr_, width);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
    cairo_new_path(cr_);
    cairo_move_to(cr_, a.x, a.y);
    cairo_line_to(cr_, b.x, b.y);
    cairo_stroke(cr_);
}

void Canvas::fill_circle(Point center, double radius, Color c) {
    if (radius <= 0 || c.a <= 0) return;
    set_color(c);
    cairo_new_path(cr_);
    cairo_arc(cr_, center.x, center.y, radius, 0, 2 * M_PI);
    cairo_fill(cr_);
}

void Canvas::stroke_circle(Point center, double radius, Color c, double width) {
    if (radius <= 0 || c.a <= 0 || width <= 0) return;
    set_color(c);
    cairo_set_line_width(cr_, width);
    cairo_new_path(cr_);
    cairo_arc(cr_, center.x, center.y, radius, 0, 2 * M_PI);
    cairo_stroke(cr_);
}

void Canvas::fill_path(const Path& p, Color c) {
    if (p.empty() || c.a <= 0) return;
    set_color(c);
    replay(cr_, p);
    cairo_fill(cr_);
}

void Canvas::stroke_path(const Path& p, Color c, const StrokeStyle& s) {
    if (p.empty() || c.a <= 0 || s.width <= 0) return;
    set_color(c);
    cairo_set_line_width(cr_, s.width);
    cairo_set_line_cap(cr_, to_cairo(s.cap));
    cairo_set_line_join(cr_, to_cairo(s.join));
    replay(cr_, p);
    cairo_stroke(cr_);
}

void Canvas::drop_shadow(const Rect& r, double radius, double blur, Color c, double dy) {
    if (r.empty() || c.a <= 0) return;
    // Stacked translucent boxes growing outwards approximate a Gaussian blur
    // at a tiny fraction of its cost.
    const int steps = std::max(1, static_cast<int>(std::ceil(blur / 2)));
    const double per = c.a / steps;
    for (int i = steps; i >= 1; --i) {
        const double grow = blur * i / steps;
        Color layer = c.with_alpha(per * (1.0 - static_cast<double>(i - 1) / steps));
        fill_rounded_rect(r.translated(0, dy).inset(-grow), radius + grow, layer);
    }
}

void Canvas::draw_image(const Image& image, const Rect& dest, double opacity) {
    if (dest.empty() || image.width <= 0 || image.height <= 0) return;
    if (image.stride < image.width * 4 ||
        image.pixels.size() < static_cast<std::size_t>(image.stride) * static_cast<std::size_t>(image.height)) {
        return;
    }
    // Cairo only reads the pixels; the surface lives for this call.
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        const_cast<unsigned char*>(image.pixels.data()), CAIRO_FORMAT_ARGB32, image.width, image.height,
        image.stride);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return;
    }
    cairo_save(cr_);
    cairo_new_path(cr_);
    cairo_rectangle(cr_, dest.left, dest.top, dest.width(), dest.height());
    cairo_clip(cr_);
    cairo_translate(cr_, dest.left, dest.top);
    cairo_scale(cr_, dest.width() / image.width, dest.height() / image.height);
    cairo_set_source_surface(cr_, surface, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_GOOD);
    cairo_paint_with_alpha(cr_, std::clamp(opacity, 0.0, 1.0));
    cairo_restore(cr_);
    cairo_surface_destroy(surface);
}

void Canvas::draw_image_in_circle(const Image& image, Point center, double radius) {
    if (radius <= 0 || image.width <= 0 || image.height <= 0) return;
    const double d = radius * 2;
    const double k = std::max(d / image.width, d / image.height);
    const double w = image.width * k;
    const double h = image.height * k;
    push_clip_circle(center, radius);
    draw_image(image, Rect::from_xywh(center.x - w / 2, center.y - h / 2, w, h));
    pop_clip();
}

}  // namespace runtime::ui
