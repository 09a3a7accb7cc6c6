#include "runtime/ui/core/theme.h"

#include <algorithm>
#include <cmath>

#include "runtime/ui/core/text.h"

namespace runtime::ui {

Color Colors::lift(Color c, double amount) {
    if (!std::isfinite(amount)) return c;
    amount = std::clamp(amount, -1.0, 1.0);
    const Color target = amount >= 0 ? Color{1, 1, 1, c.a} : Color{0, 0, 0, c.a};
    return mix(c, target, std::abs(amount));
}

Color Colors::mix(Color a, Color b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

double Colors::luminance(Color c) {
    auto lin = [](double v) {
        v = std::clamp(v, 0.0, 1.0);
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(c.r) + 0.7152 * lin(c.g) + 0.0722 * lin(c.b);
}

Color Colors::hairline_on(Color background) {
    if (luminance(background) < 0.35) return Color{1, 1, 1, 0.10};
    return Color{0, 0, 0, 0.12};
}

Theme Theme::dark() {
    Theme t;
    t.background = Color::hex(0x111318);
    t.surface = Color::hex(0x171a21);
    t.sidebar = Color::hex(0x14161c);
    t.raised = Color::hex(0x222631);
    t.overlay = Color::hex(0x1c2029);
    t.text = Color::hex(0xe8eaf0);
    t.text_muted = Color::hex(0x9aa1b1);
    t.text_faint = Color::hex(0x687083);
    t.accent = Color::hex(0x5b8cff);
    t.on_accent = Color::hex(0xffffff);
    t.danger = Color::hex(0xf0616d);
    t.success = Color::hex(0x3ecf8e);
    t.warning = Color::hex(0xf5b83d);
    t.info = Color::hex(0x5b8cff);
    t.hairline = Color{1, 1, 1, 0.09};
    t.selection = Color::hex(0x5b8cff);
    t.link = Color::hex(0x7aa7ff);
    t.scrim = Color{0.02, 0.03, 0.05, 0.62};
    t.shadow = Color{0, 0, 0, 0.45};
    t.palette = {Color::hex(0x5b8cff), Color::hex(0xf0616d), Color::hex(0x3ecf8e),
                 Color::hex(0xf5b83d), Color::hex(0xa78bfa), Color::hex(0x38bdf8)};
    return t;
}

TypeStyle Typography::style(std::size_t index) {
    static constexpr TypeStyle kScale[count] = {
        {11, weight::regular, 15},  {12, weight::regular, 17},  {14, weight::regular, 20},
        {17, weight::semibold, 23}, {20, weight::semibold, 27}, {26, weight::bold, 33},
    };
    return kScale[std::min(index, count - 1)];
}

}  // namespace runtime::ui
