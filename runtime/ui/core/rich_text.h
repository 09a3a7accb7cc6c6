// RichTextLayout: styled runs laid out as one paragraph (or several, at "\n"),
// wrapped to a width, for drawing, hit-testing and caret placement. Offsets
// are byte offsets into text(), the runs' texts joined in order; every offset
// returned lies on a character-cluster boundary.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/ui/core/geometry.h"

namespace runtime::ui {

struct RichRun {
    std::string text;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    // Drawn in the link colour (and underlined).
    bool link = false;
    // 0: the layout's base size; otherwise this size (before text scale).
    double size = 0;
    // Overrides the layout's colour for this run.
    std::optional<Color> color;
};

struct RichTextOptions {
    double size = 14;
    int weight = 0;
    // > 0: lines wrap at this width.
    double wrap_width = 0;
    Color color{1, 1, 1, 1};
    Color link_color{0.45, 0.65, 1, 1};
    // Extra space between lines, in logical pixels.
    double line_spacing = 0;
};

class RichTextLayout {
public:
    RichTextLayout();
    ~RichTextLayout();
    RichTextLayout(const RichTextLayout&);
    RichTextLayout& operator=(const RichTextLayout&);
    RichTextLayout(RichTextLayout&&) noexcept;
    RichTextLayout& operator=(RichTextLayout&&) noexcept;

    const std::string& text() const;
    double width() const;
    double height() const;
    int line_count() const;
    // Height of the line holding `offset`.
    double line_height_at(std::size_t offset) const;

    // The offset nearest to the point (relative to the layout's top-left):
    // points left of or above the text give the first offset, right of or
    // below give the end of that line or of the text.
    std::size_t hit_test(double x, double y) const;
    // The caret for `offset` (clamped to the text), 1 pixel wide, as tall as
    // its line, relative to the layout's top-left.
    Rect caret_rect(std::size_t offset) const;
    // Rectangles covering the text between two offsets, one per line touched.
    std::vector<Rect> selection_rects(std::size_t start, std::size_t end) const;
    // The offset on the line `delta` lines above (negative) or below, nearest
    // to `x`; nullopt when there is no such line.
    std::optional<std::size_t> offset_on_adjacent_line(std::size_t offset, int delta, double x) const;
    // Start and end offsets of the visual line holding `offset`.
    std::pair<std::size_t, std::size_t> line_bounds(std::size_t offset) const;

    struct Impl;
    explicit RichTextLayout(std::shared_ptr<Impl> impl);
    const Impl* impl() const { return impl_.get(); }

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace runtime::ui
