// Text measuring and drawing on Pango. Sizes are in logical pixels before the
// text scale; every size passed in is multiplied by the renderer's text scale,
// and every measurement comes back in logical pixels after it.
//
// The face is Inter (with a real semibold), falling back to DejaVu Sans and
// (through fontconfig) Noto Color Emoji for the glyphs Inter lacks. Weights are indexes into a
// small scale: 0 regular, 1 medium, 2 semibold, 3 bold.
//
// Positions are the top-left corner of the text's logical box. Text that is
// not valid UTF-8 is drawn with each broken sequence replaced by U+FFFD.
// A renderer belongs to the window thread; it caches shaped layouts, so
// drawing the same text again costs only the painting.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "runtime/ui/core/canvas.h"
#include "runtime/ui/core/geometry.h"

namespace runtime::ui {

class RichTextLayout;
struct RichRun;
struct RichTextOptions;

namespace weight {
inline constexpr int regular = 0;
inline constexpr int medium = 1;
inline constexpr int semibold = 2;
inline constexpr int bold = 3;
}  // namespace weight

enum class TextAlign { left, center, right };

struct TextStyle {
    double size = 13;
    int weight = weight::regular;
    bool italic = false;
    bool underline = false;
    bool strikethrough = false;
    Color color{1, 1, 1, 1};
    // > 0: lines wrap at this width (at word boundaries, else anywhere).
    double wrap_width = 0;
    // > 0: the text is cut with "…" at this width (single line unless
    // wrap_width is set too, then the last of max_lines lines is cut).
    double max_width = 0;
    int max_lines = 0;
    // Alignment inside wrap_width or max_width.
    TextAlign align = TextAlign::left;
};

struct TextMetrics {
    double width = 0;
    double height = 0;
    // Distance from the top of the box to the first line's baseline.
    double baseline = 0;
    int lines = 0;
};

class TextRenderer {
public:
    TextRenderer();
    ~TextRenderer();
    TextRenderer(TextRenderer&&) noexcept;
    TextRenderer& operator=(TextRenderer&&) noexcept;
    TextRenderer(const TextRenderer&) = delete;
    TextRenderer& operator=(const TextRenderer&) = delete;

    // The factor applied to every size, clamped to 0.5..4.
    void set_text_scale(double scale);
    double text_scale() const;

    TextMetrics measure(std::string_view text, double size, double wrap_width = 0) const;
    TextMetrics measure_weighted(std::string_view text, double size, int weight,
                                 double wrap_width = 0) const;
    TextMetrics measure_styled(std::string_view text, const TextStyle& style) const;
    // Height of one line of text of this size and weight.
    double line_height(double size, int weight = weight::regular) const;

    TextMetrics draw_text(Canvas& canvas, std::string_view text, Point at, double size, Color color,
                          double wrap_width = 0) const;
    TextMetrics draw_text_weighted(Canvas& canvas, std::string_view text, Point at, double size,
                                   int weight, Color color, double wrap_width = 0) const;
    TextMetrics draw_text_styled(Canvas& canvas, std::string_view text, Point at,
                                 const TextStyle& style) const;

    // Lays out styled runs for drawing, hit-testing and caret placement.
    RichTextLayout layout_rich(std::span<const RichRun> runs, const RichTextOptions& options) const;
    void draw_rich(Canvas& canvas, const RichTextLayout& layout, Point at) const;

    // The text shortened to fit `max_width`: unchanged when it fits; empty
    // when max_width <= 1; otherwise the longest prefix (cut at a character
    // boundary, trailing white space trimmed) followed by "…" that fits, or
    // "…" alone when no prefix fits.
    std::string elide_to_width(std::string_view text, double max_width, double size,
                               int weight = weight::regular) const;

    // Drops cached layouts (tests and memory pressure).
    void clear_cache();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The text itself when it is valid UTF-8, else a copy with every broken
// sequence replaced by U+FFFD.
std::string valid_utf8(std::string_view text);

}  // namespace runtime::ui
