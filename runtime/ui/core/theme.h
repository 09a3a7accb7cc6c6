// Colours and type: the dark theme's palette, colour arithmetic, and the
// typography scale that every text style of the application picks from.
#pragma once

#include <array>
#include <cstddef>

#include "runtime/ui/core/geometry.h"

namespace runtime::ui {

struct Colors {
    // Lighter by `amount` (0..1, the share of white mixed in); a negative
    // amount darkens towards black. Alpha is kept.
    static Color lift(Color c, double amount);
    // A hairline (divider, border) that shows on the given background: light
    // on dark backgrounds, dark on light ones, translucent either way.
    static Color hairline_on(Color background);
    // Linear mix: t = 0 gives a, t = 1 gives b.
    static Color mix(Color a, Color b, double t);
    // Relative luminance (0 black .. 1 white), sRGB weighted.
    static double luminance(Color c);
};

struct Theme {
    Color background;      // window background
    Color surface;         // panes and panels
    Color sidebar;         // the folder sidebar
    Color raised;          // buttons, chips, hovered rows
    Color overlay;         // floating panels (composer, sheets, menus)
    Color text;            // primary text
    Color text_muted;      // secondary text
    Color text_faint;      // placeholders, disabled text
    Color accent;          // selection, primary buttons, links
    Color on_accent;       // text and icons on the accent colour
    Color danger;          // destructive actions, errors
    Color success;
    Color warning;
    Color info;
    Color hairline;        // borders and dividers
    Color selection;       // selected text background (drawn translucent)
    Color link;
    Color scrim;           // backdrop behind modal sheets
    Color shadow;
    // Six distinct colours for avatars and account markers.
    std::array<Color, 6> palette;

    static Theme dark();
};

// One style of the typography scale.
struct TypeStyle {
    double size;
    int weight;
    // Suggested distance between baselines of consecutive lines.
    double line_height;
};

// The scale, smallest first:
//   0 caption 11, 1 small 12, 2 body 14, 3 title 17 semibold,
//   4 heading 2: 20 semibold, 5 heading 1: 26 bold.
struct Typography {
    static constexpr std::size_t count = 6;
    // Entry `index`; indexes past the end give the largest entry.
    static TypeStyle style(std::size_t index);
    static constexpr std::size_t caption = 0;
    static constexpr std::size_t small = 1;
    static constexpr std::size_t body = 2;
    static constexpr std::size_t title = 3;
    static constexpr std::size_t heading2 = 4;
    static constexpr std::size_t heading1 = 5;
};

}  // namespace runtime::ui
