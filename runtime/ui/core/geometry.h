// Plain geometry and colour values shared by the whole toolkit. All lengths
// are logical pixels; the window maps them to device pixels.
#pragma once

#include <algorithm>
#include <cstdint>

namespace runtime::ui {

struct Point {
    double x = 0;
    double y = 0;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// A rectangle by its edges. contains() is half-open: left <= x < right and
// top <= y < bottom, so touching rectangles never both claim a point.
struct Rect {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;

    static Rect from_xywh(double x, double y, double w, double h) { return {x, y, x + w, y + h}; }
    static Rect from_size(Size s) { return {0, 0, s.width, s.height}; }

    double width() const { return right - left; }
    double height() const { return bottom - top; }
    Size size() const { return {width(), height()}; }
    Point center() const { return {(left + right) / 2, (top + bottom) / 2}; }
    bool empty() const { return right <= left || bottom <= top; }
    bool contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    // Shrinks every edge by d (grows for negative d).
    Rect inset(double d) const { return {left + d, top + d, right - d, bottom - d}; }
    Rect inset(double dx, double dy) const { return {left + dx, top + dy, right - dx, bottom - dy}; }
    Rect translated(double dx, double dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    Rect intersect(const Rect& o) const {
        return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
                std::min(bottom, o.bottom)};
    }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// A colour with straight (not premultiplied) alpha, each channel 0..1.
struct Color {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 1;

    static constexpr Color rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        return {r / 255.0, g / 255.0, b / 255.0, 1.0};
    }
    static constexpr Color rgba(std::uint8_t r, std::uint8_t g, std::uint8_t b, double a) {
        return {r / 255.0, g / 255.0, b / 255.0, a};
    }
    // 0xRRGGBB.
    static constexpr Color hex(std::uint32_t v) {
        return rgb(static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                   static_cast<std::uint8_t>(v));
    }
    constexpr Color with_alpha(double alpha) const { return {r, g, b, alpha}; }
    // Multiplies the alpha, e.g. "accent at 14 % of its opacity".
    constexpr Color faded(double factor) const { return {r, g, b, a * factor}; }
    friend bool operator==(const Color&, const Color&) = default;
};

}  // namespace runtime::ui
