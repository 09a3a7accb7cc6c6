#include "runtime/ui/core/widgets/basic.h"

#include <glib.h>

#include <algorithm>
#include <cmath>

namespace runtime::ui {

// ---- Avatar ----

void Avatar::draw_at(Canvas& canvas, const TextRenderer& text, Point center, double radius,
                     std::string_view initials, Color background, const Image* picture,
                     Color foreground) {
    if (radius <= 0) return;
    if (picture != nullptr && picture->width > 0 && picture->height > 0) {
        canvas.draw_image_in_circle(*picture, center, radius);
        return;
    }
    canvas.fill_circle(center, radius, background);
    if (initials.empty()) return;
    // Sized to the disc, not to the reader's text scale.
    const double size = radius * 0.78 / text.text_scale();
    const TextMetrics m = text.measure_weighted(initials, size, weight::semibold);
    text.draw_text_weighted(canvas, initials, {center.x - m.width / 2, center.y - m.height / 2}, size,
                            weight::semibold, foreground);
}

std::string Avatar::initials_of(std::string_view name, std::string_view address) {
    auto trimmed = [](std::string_view s) {
        while (!s.empty() && g_ascii_isspace(s.front())) s.remove_prefix(1);
        while (!s.empty() && g_ascii_isspace(s.back())) s.remove_suffix(1);
        return s;
    };
    const std::string source = valid_utf8(trimmed(name).empty() ? address : name);
    std::string out;
    int taken = 0;
    bool in_piece = false;
    for (const char* p = source.c_str(); *p != '\0' && taken < 2; p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        const bool sep = g_unichar_isspace(c) || c == '.' || c == '@' || c == '_';
        if (sep) {
            in_piece = false;
            continue;
        }
        if (!in_piece) {
            char buf[8];
            const int n = g_unichar_to_utf8(g_unichar_toupper(c), buf);
            out.append(buf, static_cast<std::size_t>(n));
            ++taken;
            in_piece = true;
        }
    }
    return out.empty() ? "?" : out;
}

Color Avatar::color_for(std::string_view key, std::uint32_t seed, std::span<const Color> palette) {
    if (palette.empty()) return Color{0.5, 0.5, 0.5, 1};
    std::uint32_t h = seed;
    for (unsigned char b : key) h = static_cast<std::uint32_t>(b) + h * 31u;
    return palette[h % palette.size()];
}

// ---- Button ----

void Button::draw(Canvas& canvas, const TextRenderer& text, const Theme& theme, const Rect& box,
                  std::string_view label, ButtonKind kind, ButtonState state,
                  std::optional<IconId> icon, double size, double radius) {
    Color fill{0, 0, 0, 0};
    Color fg = theme.text;
    Color border{0, 0, 0, 0};
    switch (kind) {
        case ButtonKind::primary:
            fill = theme.accent;
            fg = theme.on_accent;
            break;
        case ButtonKind::destructive:
            fill = theme.danger;
            fg = theme.on_accent;
            break;
        case ButtonKind::secondary:
            fill = theme.raised;
            border = theme.hairline;
            break;
        case ButtonKind::ghost: break;
    }
    if (state.checked) {
        fill = theme.accent.with_alpha(0.28);
        fg = theme.text;
    }
    if (state.hovered && state.enabled) {
        fill = fill.a > 0 ? Colors::lift(fill, 0.08) : theme.raised;
    }
    if (state.pressed && state.enabled) fill = Colors::lift(fill, -0.08);
    if (!state.enabled) {
        fill = fill.faded(0.5);
        fg = fg.faded(0.5);
    }
    canvas.fill_rounded_rect(box, radius, fill);
    if (border.a > 0) canvas.stroke_rounded_rect(box, radius, border);

    const double icon_side = icon ? std::min(16.0, box.height() - 8) : 0;
    const double gap = icon && !label.empty() ? 7 : 0;
    const double max_label = std::max(0.0, box.width() - 16 - icon_side - gap);
    const std::string shown = label.empty() ? std::string() : text.elide_to_width(label, max_label, size, weight::semibold);
    const TextMetrics m = shown.empty() ? TextMetrics{} : text.measure_weighted(shown, size, weight::semibold);
    const double content = icon_side + gap + m.width;
    double x = box.left + (box.width() - content) / 2;
    const double cy = (box.top + box.bottom) / 2;
    if (icon) {
        Icon::draw(canvas, *icon, Rect::from_xywh(x, cy - icon_side / 2, icon_side, icon_side), fg);
        x += icon_side + gap;
    }
    if (!shown.empty()) text.draw_text_weighted(canvas, shown, {x, cy - m.height / 2}, size, weight::semibold, fg);
}

// ---- Toggle ----

void Toggle::draw(Canvas& canvas, const TextRenderer& text, const Theme& theme, const Rect& box, bool on,
                  std::string_view label, bool hovered, bool enabled) {
    const double h = std::min(natural.height, box.height());
    const double w = std::min(natural.width, box.width());
    if (h <= 0 || w <= 0) return;
    const Rect track = Rect::from_xywh(box.left, (box.top + box.bottom - h) / 2, w, h);
    Color fill = on ? theme.accent : theme.raised;
    if (hovered && enabled) fill = Colors::lift(fill, 0.08);
    if (!enabled) fill = fill.faded(0.5);
    canvas.fill_rounded_rect(track, h / 2, fill);
    if (!on) canvas.stroke_rounded_rect(track, h / 2, theme.hairline);
    const double knob = h - 6;
    const double kx = on ? track.right - 3 - knob : track.left + 3;
    canvas.fill_circle({kx + knob / 2, track.top + 3 + knob / 2}, knob / 2,
                       enabled ? Color{1, 1, 1, 1} : Color{1, 1, 1, 0.6});
    if (!label.empty()) {
        const double size = 12;
        const TextMetrics m = text.measure(label, size);
        text.draw_text(canvas, label, {track.right + 8, (box.top + box.bottom - m.height) / 2}, size,
                       enabled ? theme.text : theme.text_faint);
    }
}

// ---- Empty state ----

namespace {
constexpr double kBadge = 56;
constexpr double kTitleSize = 17;
constexpr double kBodySize = 13;
constexpr double kButtonHeight = 36;
}  // namespace

EmptyState::Layout EmptyState::layout(const TextRenderer& text, const Rect& area) const {
    Layout out;
    const double wrap = std::max(40.0, std::min(area.width() - 48, 420.0));
    const TextMetrics title_m = text.measure_styled(title, TextStyle{.size = kTitleSize, .weight = weight::semibold, .wrap_width = wrap, .align = TextAlign::center});
    const TextMetrics body_m = body.empty() ? TextMetrics{} : text.measure_styled(body, TextStyle{.size = kBodySize, .wrap_width = wrap, .align = TextAlign::center});
    double button_w = 0;
    if (!action_label.empty()) button_w = text.measure_weighted(action_label, 13, weight::semibold).width + 40;
    const double total = kBadge + 18 + title_m.height + (body.empty() ? 0 : 8 + body_m.height) +
                         (action_label.empty() ? 0 : 22 + kButtonHeight);
    const double cx = (area.left + area.right) / 2;
    double y = std::max(area.top + 16, area.top + (area.height() - total) / 2);
    out.badge = Rect::from_xywh(cx - kBadge / 2, y, kBadge, kBadge);
    y += kBadge + 18;
    out.title = Rect::from_xywh(cx - wrap / 2, y, wrap, title_m.height);
    y += title_m.height;
    if (!body.empty()) {
        y += 8;
        out.body = Rect::from_xywh(cx - wrap / 2, y, wrap, body_m.height);
        y += body_m.height;
    } else {
        out.body = Rect::from_xywh(cx - wrap / 2, y, wrap, 0);
    }
    if (!action_label.empty()) {
        y += 22;
        out.button = Rect::from_xywh(cx - button_w / 2, y, button_w, kButtonHeight);
    }
    return out;
}

void EmptyState::draw(Canvas& canvas, const TextRenderer& text, const Theme& theme, const Rect& area,
                      std::optional<Point> pointer) const {
    const Layout l = layout(text, area);
    canvas.fill_circle(l.badge.center(), kBadge / 2, theme.raised);
    const double side = 28;
    const Point c = l.badge.center();
    Icon::draw(canvas, icon, Rect::from_xywh(c.x - side / 2, c.y - side / 2, side, side), theme.text_muted);
    text.draw_text_styled(canvas, title, {l.title.left, l.title.top},
                          TextStyle{.size = kTitleSize, .weight = weight::semibold, .color = theme.text,
                                    .wrap_width = l.title.width(), .align = TextAlign::center});
    if (!body.empty()) {
        text.draw_text_styled(canvas, body, {l.body.left, l.body.top},
                              TextStyle{.size = kBodySize, .color = theme.text_muted,
                                        .wrap_width = l.body.width(), .align = TextAlign::center});
    }
    if (l.button) {
        const bool hovered = pointer && l.button->contains(*pointer);
        Button::draw(canvas, text, theme, *l.button, action_label, ButtonKind::primary, {.hovered = hovered});
    }
}

std::optional<std::string> EmptyState::hit(const TextRenderer& text, const Rect& area, Point p) const {
    const Layout l = layout(text, area);
    if (l.button && l.button->contains(p)) return action_id;
    return std::nullopt;
}

// ---- Modal frame ----

ModalLayout ModalFrame::layout(Size window, Size desired, double margin) {
    const double w = std::max(0.0, std::min(desired.width, window.width - 2 * margin));
    const double h = std::max(0.0, std::min(desired.height, window.height - 2 * margin));
    const double left = (window.width - w) / 2;
    const double top = (window.height - h) / 2;
    return ModalLayout{window, Rect::from_xywh(left, top, w, h)};
}

void ModalFrame::paint_backdrop(Canvas& canvas, const Theme& theme, Size window, double opacity) {
    canvas.fill_rect(Rect::from_size(window), theme.scrim.faded(std::clamp(opacity, 0.0, 1.0)));
}

void ModalFrame::paint_frame(Canvas& canvas, const Theme& theme, const Rect& frame, double radius) {
    canvas.drop_shadow(frame, radius, 18, theme.shadow.faded(0.55), 8);
    canvas.fill_rounded_rect(frame, radius, theme.overlay);
    canvas.stroke_rounded_rect(frame, radius, Colors::hairline_on(theme.overlay));
}

// ---- Toast ----

namespace toast {

namespace {
constexpr double kHeight = 38;
constexpr double kTextSize = 13;
constexpr double kIcon = 16;
constexpr double kPadLeft = 14;
constexpr double kGap = 9;
constexpr double kPadRight = 16;

Rect frame_for(double content_w, Size window) {
    const double max_w = std::max(0.0, window.width - 32);
    const double w = std::min(max_w, kPadLeft + kIcon + kGap + content_w + kPadRight);
    const double top = window.height - 24 - kHeight;
    return Rect::from_xywh((window.width - w) / 2, top, w, kHeight);
}
}  // namespace

Rect layout(const TextRenderer& text, Size window, std::string_view message) {
    return frame_for(text.measure(message, kTextSize).width, window);
}

Rect paint_transient(Canvas& canvas, const TextRenderer& text, const Theme& theme, Size window,
                     std::string_view message, Tone tone, double opacity) {
    const Rect box = layout(text, window, message);
    if (box.empty() || opacity <= 0) return box;
    Color tint = theme.info;
    IconId icon = IconId::refresh;
    switch (tone) {
        case Tone::info: tint = theme.info; icon = IconId::refresh; break;
        case Tone::success: tint = theme.success; icon = IconId::check; break;
        case Tone::warning: tint = theme.warning; icon = IconId::warning; break;
        case Tone::error: tint = theme.danger; icon = IconId::warning; break;
    }
    canvas.begin_group(box.inset(-20));
    canvas.drop_shadow(box, kHeight / 2, 12, theme.shadow.faded(0.5), 4);
    canvas.fill_rounded_rect(box, kHeight / 2, Colors::mix(theme.overlay, tint, 0.10));
    canvas.stroke_rounded_rect(box, kHeight / 2, tint.with_alpha(0.45));
    const double cy = (box.top + box.bottom) / 2;
    Icon::draw(canvas, icon, Rect::from_xywh(box.left + kPadLeft, cy - kIcon / 2, kIcon, kIcon), tint);
    const double text_left = box.left + kPadLeft + kIcon + kGap;
    const std::string shown = text.elide_to_width(message, box.right - kPadRight - text_left, kTextSize);
    const TextMetrics m = text.measure(shown, kTextSize);
    text.draw_text(canvas, shown, {text_left, cy - m.height / 2}, kTextSize, theme.text);
    canvas.end_group(opacity);
    return box;
}

}  // namespace toast

namespace tooltip {

namespace {
constexpr double kSize = 12;
constexpr double kPadX = 9;
constexpr double kHeight = 26;
constexpr double kGap = 6;
constexpr double kEdge = 4;
}  // namespace

Rect layout(const TextRenderer& text, Size window, const Rect& anchor, std::string_view label) {
    const double max_w = std::max(0.0, window.width - 2 * kEdge);
    const double w = std::min(max_w, text.measure(label, kSize).width + 2 * kPadX);
    double left = anchor.center().x - w / 2;
    left = std::clamp(left, kEdge, std::max(kEdge, window.width - kEdge - w));
    double top = anchor.bottom + kGap;
    if (top + kHeight > window.height - kEdge && anchor.top - kGap - kHeight >= kEdge) {
        top = anchor.top - kGap - kHeight;
    }
    return Rect::from_xywh(left, top, w, kHeight);
}

Rect paint(Canvas& canvas, const TextRenderer& text, const Theme& theme, Size window, const Rect& anchor,
           std::string_view label) {
    const Rect box = layout(text, window, anchor, label);
    if (box.empty() || label.empty()) return box;
    canvas.drop_shadow(box, 6, 6, theme.shadow.faded(0.5), 2);
    canvas.fill_rounded_rect(box, 6, Colors::lift(theme.overlay, 0.06));
    canvas.stroke_rounded_rect(box, 6, Colors::hairline_on(theme.overlay));
    const std::string shown = text.elide_to_width(label, box.width() - 2 * kPadX, kSize);
    const TextMetrics m = text.measure(shown, kSize);
    text.draw_text(canvas, shown, {box.left + kPadX, box.center().y - m.height / 2}, kSize, theme.text);
    return box;
}

}  // namespace tooltip

}  // namespace runtime::ui
