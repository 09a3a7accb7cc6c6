// Small drawn widgets: avatar, button, toggle, empty state, modal frame and
// the transient status toast. Each is a set of pure layout functions (so
// clicks can be tested without drawing) and a paint function.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "runtime/ui/core/canvas.h"
#include "runtime/ui/core/geometry.h"
#include "runtime/ui/core/icon.h"
#include "runtime/ui/images/image.h"
#include "runtime/ui/core/text.h"
#include "runtime/ui/core/theme.h"

namespace runtime::ui {

struct Avatar {
    // A disc of `radius` at `center`: the picture, scaled to cover the disc,
    // when one is given with pixels; otherwise `background` with `initials`
    // centred in semibold text sized to the disc (independent of text scale).
    static void draw_at(Canvas& canvas, const TextRenderer& text, Point center, double radius,
                        std::string_view initials, Color background,
                        const Image* picture = nullptr, Color foreground = Color{1, 1, 1, 1});
    // Up to two upper-cased initials: the first characters of the first two
    // words of the name (split at white space, ".", "@" and "_"), else of the
    // address; "?" when both are empty.
    static std::string initials_of(std::string_view name, std::string_view address);
    // A stable colour for a key: h = seed, then h = byte + h × 31 over the
    // key's bytes (32-bit wrapping), entry h mod size of the palette.
    static Color color_for(std::string_view key, std::uint32_t seed, std::span<const Color> palette);
};

enum class ButtonKind { primary, secondary, destructive, ghost };

struct ButtonState {
    bool hovered = false;
    bool pressed = false;
    bool enabled = true;
    // Drawn as selected (a segment that is chosen, a toggled tool button).
    bool checked = false;
};

struct Button {
    // A rounded button with an optional icon before the label; the content
    // is centred. Returns nothing: the caller owns the rectangle as its
    // click region.
    static void draw(Canvas& canvas, const TextRenderer& text, const Theme& theme, const Rect& box,
                     std::string_view label, ButtonKind kind, ButtonState state = {},
                     std::optional<IconId> icon = std::nullopt, double size = 13, double radius = 8);
};

struct Toggle {
    // The switch's natural size.
    static constexpr Size natural{38, 22};
    // Draws a switch centred vertically at the left of `box` (at its natural
    // size, or smaller when the box is), followed by `label` when not empty.
    static void draw(Canvas& canvas, const TextRenderer& text, const Theme& theme, const Rect& box,
                     bool on, std::string_view label = {}, bool hovered = false, bool enabled = true);
    // Whether a press at `p` flips a toggle drawn in `box`.
    static bool hit(const Rect& box, Point p) { return box.contains(p); }
};

// A centred illustration with a title, a text and optionally one button.
struct EmptyState {
    IconId icon = IconId::inbox;
    std::string title;
    std::string body;
    std::string action_label;  // empty: no button
    std::string action_id;

    struct Layout {
        Rect badge;   // the circle behind the icon
        Rect title;
        Rect body;
        std::optional<Rect> button;
    };
    Layout layout(const TextRenderer& text, const Rect& area) const;
    void draw(Canvas& canvas, const TextRenderer& text, const Theme& theme, const Rect& area,
              std::optional<Point> pointer = std::nullopt) const;
    // The action id when `p` is on the button.
    std::optional<std::string> hit(const TextRenderer& text, const Rect& area, Point p) const;
};

struct ModalLayout {
    Size window;
    Rect frame;
    // Whether a press at `p` closes the modal: any press outside the frame.
    bool dismisses(Point p) const { return !frame.contains(p); }
};

struct ModalFrame {
    // The frame: the desired size limited to the window less `margin` on each
    // side (never negative), centred in the window.
    static ModalLayout layout(Size window, Size desired, double margin = 24);
    // Dims everything behind the modal.
    static void paint_backdrop(Canvas& canvas, const Theme& theme, Size window, double opacity = 1);
    // The panel itself: shadow, fill and a hairline border.
    static void paint_frame(Canvas& canvas, const Theme& theme, const Rect& frame, double radius = 14);
};

namespace toast {

// Tones: info for work in progress, success for work done, warning, error.
enum class Tone { info, success, warning, error };

// Where the toast for `text` goes: a pill centred near the window's bottom
// edge, at most the window width less 32.
Rect layout(const TextRenderer& text, Size window, std::string_view message);
// Draws the toast and returns its rectangle.
Rect paint_transient(Canvas& canvas, const TextRenderer& text, const Theme& theme, Size window,
                     std::string_view message, Tone tone, double opacity = 1);

}  // namespace toast

namespace tooltip {

// A small label for the control at `anchor`: below it (above when there is no
// room), centred on it and kept inside the window.
Rect layout(const TextRenderer& text, Size window, const Rect& anchor, std::string_view label);
Rect paint(Canvas& canvas, const TextRenderer& text, const Theme& theme, Size window, const Rect& anchor,
           std::string_view label);

}  // namespace tooltip

}  // namespace runtime::ui
