// Canvas: the one drawing surface handed to the application. It wraps a Cairo
// context without exposing Cairo's API: fills and strokes of rectangles,
// rounded rectangles, circles and paths, clipping, translation and images.
// Text is drawn through TextRenderer onto a Canvas.
#pragma once

#include <vector>

#include "runtime/ui/core/geometry.h"
#include "runtime/ui/images/image.h"

typedef struct _cairo cairo_t;

namespace runtime::ui {

// A path built from straight and curved segments, in logical pixels.
class Path {
public:
    Path& move_to(double x, double y);
    Path& line_to(double x, double y);
    Path& curve_to(double x1, double y1, double x2, double y2, double x3, double y3);
    // A circular arc around (cx, cy) from angle a0 to a1 (radians, clockwise on screen).
    Path& arc(double cx, double cy, double radius, double a0, double a1);
    Path& close();
    bool empty() const { return ops_.empty(); }

    struct Op {
        enum Kind { move, line, curve, arc, close } kind;
        double v[6];
    };
    const std::vector<Op>& ops() const { return ops_; }

private:
    std::vector<Op> ops_;
};

enum class LineCap { butt, round, square };
enum class LineJoin { miter, round, bevel };

struct StrokeStyle {
    double width = 1;
    LineCap cap = LineCap::round;
    LineJoin join = LineJoin::round;
};

// Corner radii, clockwise from the top-left corner.
struct Corners {
    double top_left = 0;
    double top_right = 0;
    double bottom_right = 0;
    double bottom_left = 0;
    static Corners all(double r) { return {r, r, r, r}; }
    static Corners top(double r) { return {r, r, 0, 0}; }
};

class Canvas {
public:
    // Draws through `cr` (not owned) whose user space is in logical pixels.
    // `device_scale` is the number of device pixels per logical pixel.
    explicit Canvas(cairo_t* cr, double device_scale = 1.0, bool animations = true);
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    ~Canvas();

    // Saves and restores the transform and clip. Every push_clip/translate
    // between a save and its restore is undone by the restore.
    void save();
    void restore();
    // Intersects the clip with a rectangle (or a rounded one or a circle).
    // pop_clip returns to the state of the matching push_clip, translations
    // made since included.
    void push_clip(const Rect& r);
    void push_clip_rounded(const Rect& r, double radius);
    void push_clip_circle(Point center, double radius);
    void pop_clip();
    void translate(double dx, double dy);
    // Alpha applied to everything drawn inside `bounds` until the matching
    // end_group() (drawing outside the bounds is clipped away).
    void begin_group(const Rect& bounds);
    void end_group(double opacity);

    void fill_rect(const Rect& r, Color c);
    void stroke_rect(const Rect& r, Color c, double width = 1);
    void fill_rounded_rect(const Rect& r, double radius, Color c);
    void fill_rounded_rect(const Rect& r, const Corners& radii, Color c);
    // The stroke lies inside the rectangle's edges (a hairline border stays
    // within the box).
    void stroke_rounded_rect(const Rect& r, double radius, Color c, double width = 1);
    void line(Point a, Point b, Color c, double width = 1);
    void fill_circle(Point center, double radius, Color c);
    void stroke_circle(Point center, double radius, Color c, double width = 1);
    void fill_path(const Path& p, Color c);
    void stroke_path(const Path& p, Color c, const StrokeStyle& style = {});
    // A soft drop shadow under a rounded box.
    void drop_shadow(const Rect& r, double radius, double blur, Color c, double dy = 4);

    // Images are the toolkit's decoded pictures (premultiplied ARGB32, see
    // runtime/ui/images/image.h); a malformed one is skipped.
    // Draws the image scaled to fill `dest` (aspect ratio not kept).
    void draw_image(const Image& image, const Rect& dest, double opacity = 1);
    // Draws the image scaled to cover the circle and clipped to it, centred.
    void draw_image_in_circle(const Image& image, Point center, double radius);

    // The device pixels per logical pixel of the target.
    double device_scale() const { return device_scale_; }
    // False when drawing must show final states (off-screen rendering):
    // animated widgets then draw where their animation ends.
    bool animations() const { return animations_; }
    // Asks for another frame after this one (an animation is running). The
    // window draws again at the display's pace; off-screen this is ignored.
    void request_next_frame() { next_frame_ = true; }
    bool next_frame_requested() const { return next_frame_; }

    // The underlying Cairo context, for toolkit code (text, web snapshots).
    cairo_t* cairo() const { return cr_; }

private:
    void set_color(Color c);
    void rounded_path(const Rect& r, const Corners& radii);
    cairo_t* cr_;
    double device_scale_;
    bool animations_;
    bool next_frame_ = false;
    int depth_ = 0;
};

}  // namespace runtime::ui
