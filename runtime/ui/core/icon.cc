#include "runtime/ui/core/icon.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace runtime::ui {

namespace {

// An icon on the 24-unit grid. Bodies are closed outlines (filled solid by
// draw_filled); lines are always stroked; details are stroked in outline
// mode and cut out of the bodies in filled mode; dots are small discs, cut
// out in filled mode when they are details.
struct Dot {
    double x, y, r;
    bool detail;
};

struct Shape {
    std::vector<Path> bodies;
    std::vector<Path> lines;
    std::vector<Path> details;
    std::vector<Dot> dots;
};

Path rounded(double l, double t, double r, double b, double rad) {
    Path p;
    p.move_to(l + rad, t).line_to(r - rad, t);
    p.arc(r - rad, t + rad, rad, -M_PI / 2, 0).line_to(r, b - rad);
    p.arc(r - rad, b - rad, rad, 0, M_PI / 2).line_to(l + rad, b);
    p.arc(l + rad, b - rad, rad, M_PI / 2, M_PI).line_to(l, t + rad);
    p.arc(l + rad, t + rad, rad, M_PI, 3 * M_PI / 2).close();
    return p;
}

Path circle(double cx, double cy, double r) {
    Path p;
    p.move_to(cx + r, cy).arc(cx, cy, r, 0, 2 * M_PI).close();
    return p;
}

Path poly(std::initializer_list<Point> pts, bool closed = false) {
    Path p;
    bool first = true;
    for (Point q : pts) {
        if (first) p.move_to(q.x, q.y);
        else p.line_to(q.x, q.y);
        first = false;
    }
    if (closed) p.close();
    return p;
}

Path star_path() {
    Path p;
    for (int i = 0; i < 10; ++i) {
        const double a = -M_PI / 2 + i * M_PI / 5;
        const double r = (i % 2 == 0) ? 9.5 : 4.1;
        const double x = 12 + r * std::cos(a);
        const double y = 12.8 + r * std::sin(a);
        if (i == 0) p.move_to(x, y);
        else p.line_to(x, y);
    }
    p.close();
    return p;
}

Path envelope_body() { return rounded(3, 5.5, 21, 18.5, 2); }
Path envelope_flap() { return poly({{3.6, 7}, {12, 13}, {20.4, 7}}); }

Path page_outline() {
    return poly({{6, 2.8}, {14, 2.8}, {19, 7.8}, {19, 21.2}, {6, 21.2}}, true);
}
Path page_fold() { return poly({{14, 2.8}, {14, 7.8}, {19, 7.8}}); }

Path check_mark(double s = 1, double dx = 0, double dy = 0) {
    return poly({{12 + (-4.2) * s + dx, 12 + 0.3 * s + dy},
                 {12 + (-1.2) * s + dx, 12 + 3.3 * s + dy},
                 {12 + 4.4 * s + dx, 12 + (-2.9) * s + dy}});
}

Path chevron(double angle) {
    // A chevron pointing right, rotated by `angle`.
    const double c = std::cos(angle), s = std::sin(angle);
    auto at = [&](double x, double y) {
        const double dx = x - 12, dy = y - 12;
        return Point{12 + dx * c - dy * s, 12 + dx * s + dy * c};
    };
    Point a = at(9.5, 6), b = at(15.5, 12), d = at(9.5, 18);
    return poly({a, b, d});
}

Path gear() {
    Path p;
    const int teeth = 8;
    for (int i = 0; i < teeth; ++i) {
        const double base = i * 2 * M_PI / teeth;
        const double w = M_PI / teeth * 0.55;
        const double pts[4][2] = {{base - w * 1.25, 7.0}, {base - w * 0.7, 9.6}, {base + w * 0.7, 9.6},
                                  {base + w * 1.25, 7.0}};
        for (int k = 0; k < 4; ++k) {
            const double x = 12 + pts[k][1] * std::cos(pts[k][0]);
            const double y = 12 + pts[k][1] * std::sin(pts[k][0]);
            if (i == 0 && k == 0) p.move_to(x, y);
            else p.line_to(x, y);
        }
        const double next = (i + 1) * 2 * M_PI / teeth - w * 1.25;
        p.arc(12, 12, 7.0, base + w * 1.25, next);
    }
    p.close();
    return p;
}

Shape shape_of(IconId id) {
    Shape s;
    switch (id) {
        case IconId::inbox:
            s.bodies.push_back(poly({{3, 13}, {5.6, 5.5}, {18.4, 5.5}, {21, 13}, {21, 18.5}, {3, 18.5}}, true));
            s.details.push_back(poly({{3, 13}, {8, 13}, {9.5, 15.5}, {14.5, 15.5}, {16, 13}, {21, 13}}));
            break;
        case IconId::star: s.bodies.push_back(star_path()); break;
        case IconId::sent:
            s.bodies.push_back(poly({{2.8, 10.8}, {21, 3}, {14, 21.2}, {10.8, 13.2}}, true));
            s.details.push_back(poly({{10.8, 13.2}, {21, 3}}));
            break;
        case IconId::drafts:
        case IconId::compose:
            s.lines.push_back(poly({{11, 4.5}, {6, 4.5}, {4, 6.5}, {4, 19}, {5.5, 20.5}, {18, 20.5}, {19.5, 19}, {19.5, 13.5}}));
            s.bodies.push_back(poly({{17.2, 3.4}, {20.6, 6.8}, {12, 15.4}, {8, 16.4}, {9, 12.4}}, true));
            break;
        case IconId::archive:
            s.bodies.push_back(rounded(3, 4, 21, 8.5, 1.2));
            s.bodies.push_back(poly({{4.5, 8.5}, {4.5, 20}, {19.5, 20}, {19.5, 8.5}}, true));
            s.details.push_back(poly({{10, 12.5}, {14, 12.5}}));
            break;
        case IconId::trash:
            s.lines.push_back(poly({{3.8, 6.5}, {20.2, 6.5}}));
            s.lines.push_back(poly({{9.2, 6.5}, {9.2, 4}, {14.8, 4}, {14.8, 6.5}}));
            s.bodies.push_back(poly({{5.8, 6.5}, {6.9, 20.5}, {17.1, 20.5}, {18.2, 6.5}}, true));
            s.details.push_back(poly({{10, 10.5}, {10, 16.5}}));
            s.details.push_back(poly({{14, 10.5}, {14, 16.5}}));
            break;
        case IconId::junk:
            s.bodies.push_back(circle(12, 12, 9));
            s.details.push_back(poly({{5.8, 5.8}, {18.2, 18.2}}));
            break;
        case IconId::search:
            s.bodies.push_back(circle(10.5, 10.5, 6.5));
            s.lines.push_back(poly({{15.3, 15.3}, {20.5, 20.5}}));
            break;
        case IconId::connect:
            s.bodies.push_back(poly({{6.5, 8.5}, {17.5, 8.5}, {17.5, 11.5}}, false)
                                   .arc(12, 11.5, 5.5, 0, M_PI)
                                   .close());
            s.lines.push_back(poly({{9.5, 8.5}, {9.5, 3.5}}));
            s.lines.push_back(poly({{14.5, 8.5}, {14.5, 3.5}}));
            s.lines.push_back(poly({{12, 17}, {12, 21}}));
            break;
        case IconId::warning:
            s.bodies.push_back(poly({{12, 3.2}, {21.6, 20}, {2.4, 20}}, true));
            s.details.push_back(poly({{12, 9.5}, {12, 13.8}}));
            s.dots.push_back({12, 16.9, 1.15, true});
            break;
        case IconId::information:
            s.bodies.push_back(circle(12, 12, 9));
            s.details.push_back(poly({{12, 11}, {12, 16.8}}));
            s.dots.push_back({12, 7.7, 1.15, true});
            break;
        case IconId::reply:
            s.lines.push_back(poly({{9.5, 5.5}, {4, 11}, {9.5, 16.5}}));
            s.lines.push_back(Path().move_to(4, 11).line_to(13.5, 11).curve_to(17.5, 11, 20, 13.5, 20, 17.5).line_to(20, 19));
            break;
        case IconId::reply_all:
            s.lines.push_back(poly({{7.5, 5.5}, {2, 11}, {7.5, 16.5}}));
            s.lines.push_back(poly({{12, 5.5}, {6.5, 11}, {12, 16.5}}));
            s.lines.push_back(Path().move_to(6.5, 11).line_to(14.5, 11).curve_to(18.5, 11, 21, 13.5, 21, 17.5).line_to(21, 19));
            break;
        case IconId::forward:
            s.lines.push_back(poly({{14.5, 5.5}, {20, 11}, {14.5, 16.5}}));
            s.lines.push_back(Path().move_to(20, 11).line_to(10.5, 11).curve_to(6.5, 11, 4, 13.5, 4, 17.5).line_to(4, 19));
            break;
        case IconId::mark_unread:
            s.bodies.push_back(rounded(2.5, 6.5, 18.5, 19, 2));
            s.details.push_back(poly({{3, 8}, {10.5, 13}, {18, 8}}));
            s.dots.push_back({19, 5.5, 3.2, false});
            break;
        case IconId::mail:
            s.bodies.push_back(envelope_body());
            s.details.push_back(envelope_flap());
            break;
        case IconId::select:
            s.bodies.push_back(rounded(4, 4, 20, 20, 3.5));
            s.details.push_back(check_mark(0.95));
            break;
        case IconId::refresh: {
            const double r = 7.5, a0 = -0.9, a1 = 4.45;
            Path arc;
            arc.move_to(12 + r * std::cos(a0), 12 + r * std::sin(a0)).arc(12, 12, r, a0, a1);
            s.lines.push_back(arc);
            // Arrow head at the arc's end, pointing along its travel.
            const Point tip{12 + r * std::cos(a1), 12 + r * std::sin(a1)};
            const Point dir{-std::sin(a1), std::cos(a1)};
            const Point nrm{-dir.y, dir.x};
            const double back = 3.6, wide = 3.2;
            s.lines.push_back(poly({{tip.x - dir.x * back + nrm.x * wide, tip.y - dir.y * back + nrm.y * wide},
                                    tip,
                                    {tip.x - dir.x * back - nrm.x * wide, tip.y - dir.y * back - nrm.y * wide}}));
            break;
        }
        case IconId::chevron_right: s.lines.push_back(chevron(0)); break;
        case IconId::chevron_down: s.lines.push_back(chevron(M_PI / 2)); break;
        case IconId::chevron_left: s.lines.push_back(chevron(M_PI)); break;
        case IconId::chevron_up: s.lines.push_back(chevron(-M_PI / 2)); break;
        case IconId::close:
            s.lines.push_back(poly({{6, 6}, {18, 18}}));
            s.lines.push_back(poly({{18, 6}, {6, 18}}));
            break;
        case IconId::settings:
            s.bodies.push_back(gear());
            s.details.push_back(circle(12, 12, 2.8));
            break;
        case IconId::plus:
            s.lines.push_back(poly({{12, 5}, {12, 19}}));
            s.lines.push_back(poly({{5, 12}, {19, 12}}));
            break;
        case IconId::minus: s.lines.push_back(poly({{5, 12}, {19, 12}})); break;
        case IconId::check: s.lines.push_back(check_mark(1.35)); break;
        case IconId::attach:
            s.lines.push_back(Path()
                                  .move_to(15.5, 7)
                                  .line_to(15.5, 16)
                                  .arc(12, 16, 3.5, 0, M_PI)
                                  .line_to(8.5, 6)
                                  .arc(11, 6, 2.5, M_PI, 2 * M_PI)
                                  .line_to(13.5, 15.5)
                                  .arc(12, 15.5, 1.5, 0, M_PI)
                                  .line_to(10.5, 8));
            break;
        case IconId::more:
            s.dots.push_back({5.5, 12, 1.8, false});
            s.dots.push_back({12, 12, 1.8, false});
            s.dots.push_back({18.5, 12, 1.8, false});
            break;
        case IconId::menu:
            s.lines.push_back(poly({{4, 6.5}, {20, 6.5}}));
            s.lines.push_back(poly({{4, 12}, {20, 12}}));
            s.lines.push_back(poly({{4, 17.5}, {20, 17.5}}));
            break;
        case IconId::lock:
            s.bodies.push_back(rounded(5, 10.5, 19, 20.5, 2));
            s.lines.push_back(Path().move_to(8, 10.5).line_to(8, 8).arc(12, 8, 4, M_PI, 2 * M_PI).line_to(16, 10.5));
            s.dots.push_back({12, 15.5, 1.3, true});
            break;
        case IconId::image:
            s.bodies.push_back(rounded(3, 4.5, 21, 19.5, 2));
            s.details.push_back(poly({{3.5, 17}, {8.5, 11.5}, {13, 16}, {15.5, 13.5}, {20.5, 18.5}}));
            s.dots.push_back({15.5, 8.8, 1.6, true});
            break;
        case IconId::link:
            s.lines.push_back(rounded(2.5, 8.5, 13, 15.5, 3.5));
            s.lines.push_back(rounded(11, 8.5, 21.5, 15.5, 3.5));
            break;
        case IconId::user:
            s.bodies.push_back(circle(12, 8, 4));
            s.bodies.push_back(Path().move_to(4.5, 20.5).curve_to(4.5, 15.5, 8, 13.5, 12, 13.5).curve_to(16, 13.5, 19.5, 15.5, 19.5, 20.5).close());
            break;
        case IconId::file_archive:
            s.bodies.push_back(page_outline());
            s.details.push_back(page_fold());
            for (int i = 0; i < 4; ++i) {
                const double y = 5 + i * 2.2;
                s.details.push_back(poly({{i % 2 == 0 ? 10.2 : 11.6, y}, {i % 2 == 0 ? 11.6 : 13.0, y}}));
            }
            s.details.push_back(rounded(9.8, 14, 13.4, 18.5, 0.8));
            break;
        case IconId::document:
            s.bodies.push_back(page_outline());
            s.details.push_back(page_fold());
            s.details.push_back(poly({{9, 12}, {16, 12}}));
            s.details.push_back(poly({{9, 15.3}, {16, 15.3}}));
            s.details.push_back(poly({{9, 18.5}, {13, 18.5}}));
            break;
        case IconId::file:
            s.bodies.push_back(page_outline());
            s.details.push_back(page_fold());
            break;
        case IconId::dock:
            s.bodies.push_back(rounded(3, 4.5, 21, 19.5, 2));
            s.details.push_back(poly({{14, 4.5}, {14, 19.5}}));
            break;
        case IconId::preview:
            s.bodies.push_back(Path().move_to(2, 12).curve_to(5, 6, 19, 6, 22, 12).curve_to(19, 18, 5, 18, 2, 12).close());
            s.details.push_back(circle(12, 12, 3));
            break;
        case IconId::download:
            s.lines.push_back(poly({{12, 3.5}, {12, 15}}));
            s.lines.push_back(poly({{7.2, 10.4}, {12, 15.2}, {16.8, 10.4}}));
            s.lines.push_back(poly({{4.5, 20}, {19.5, 20}}));
            break;
        case IconId::calendar:
            s.bodies.push_back(rounded(3.5, 5, 20.5, 20.5, 2.2));
            s.details.push_back(poly({{3.5, 10}, {20.5, 10}}));
            s.lines.push_back(poly({{8, 3}, {8, 7}}));
            s.lines.push_back(poly({{16, 3}, {16, 7}}));
            for (double y : {13.8, 17.2}) {
                for (double x : {8.0, 12.0, 16.0}) s.dots.push_back({x, y, 1.0, true});
            }
            break;
        case IconId::downloaded:
            s.bodies.push_back(circle(12, 12, 9));
            s.details.push_back(check_mark(0.9));
            break;
    }
    return s;
}

void replay(cairo_t* cr, const Path& p) {
    cairo_new_path(cr);
    for (const auto& op : p.ops()) {
        switch (op.kind) {
            case Path::Op::move: cairo_move_to(cr, op.v[0], op.v[1]); break;
            case Path::Op::line: cairo_line_to(cr, op.v[0], op.v[1]); break;
            case Path::Op::curve: cairo_curve_to(cr, op.v[0], op.v[1], op.v[2], op.v[3], op.v[4], op.v[5]); break;
            case Path::Op::arc: cairo_arc(cr, op.v[0], op.v[1], op.v[2], op.v[3], op.v[4]); break;
            case Path::Op::close: cairo_close_path(cr); break;
        }
    }
}

void paint(Canvas& canvas, IconId id, const Rect& box, Color color, double stroke, bool filled) {
    if (box.empty() || color.a <= 0) return;
    const Shape s = shape_of(id);
    const double side = std::min(box.width(), box.height());
    const double k = side / 24.0;
    // About 1.55 logical pixels at 16 px, growing slowly with the size.
    const double width = (stroke > 0 ? stroke : std::clamp(1.2 + side * 0.022, 1.0, 3.0)) / k;
    cairo_t* cr = canvas.cairo();
    cairo_save(cr);
    if (filled) {
        // Keeps the cut-out group as small as the icon.
        cairo_new_path(cr);
        cairo_rectangle(cr, box.left - 2, box.top - 2, box.width() + 4, box.height() + 4);
        cairo_clip(cr);
    }
    cairo_translate(cr, box.left + (box.width() - side) / 2, box.top + (box.height() - side) / 2);
    cairo_scale(cr, k, k);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    if (filled) cairo_push_group(cr);
    cairo_set_source_rgba(cr, color.r, color.g, color.b, filled ? 1.0 : color.a);
    for (const Path& p : s.bodies) {
        replay(cr, p);
        if (filled) cairo_fill_preserve(cr);
        cairo_stroke(cr);
    }
    for (const Path& p : s.lines) {
        replay(cr, p);
        cairo_stroke(cr);
    }
    for (const Dot& d : s.dots) {
        if (filled && d.detail) continue;
        cairo_new_path(cr);
        cairo_arc(cr, d.x, d.y, d.r, 0, 2 * M_PI);
        cairo_fill(cr);
    }
    if (filled) {
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    }
    for (const Path& p : s.details) {
        replay(cr, p);
        cairo_stroke(cr);
    }
    if (filled) {
        for (const Dot& d : s.dots) {
            if (!d.detail) continue;
            cairo_new_path(cr);
            cairo_arc(cr, d.x, d.y, d.r, 0, 2 * M_PI);
            cairo_fill(cr);
        }
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, color.a);
    } else {
        for (const Dot& d : s.dots) {
            if (!d.detail) continue;
            cairo_new_path(cr);
            cairo_arc(cr, d.x, d.y, d.r, 0, 2 * M_PI);
            cairo_fill(cr);
        }
    }
    cairo_restore(cr);
}

}  // namespace

void Icon::draw(Canvas& canvas, IconId id, const Rect& box, Color color, double stroke) {
    paint(canvas, id, box, color, stroke, false);
}

void Icon::draw_filled(Canvas& canvas, IconId id, const Rect& box, Color color, double stroke) {
    paint(canvas, id, box, color, stroke, true);
}

std::optional<IconId> Icon::from_number(int n) {
    if ((n >= 1 && n <= 38) || n == 67 || n == 71 || n == 84 || n == 85 || n == 87) {
        return static_cast<IconId>(n);
    }
    return std::nullopt;
}

IconId Icon::for_folder_role(int role) {
    switch (role) {
        case 1: return IconId::star;
        case 2: return IconId::sent;
        case 3: return IconId::drafts;
        case 4: return IconId::archive;
        case 5: return IconId::trash;
        case 6: return IconId::junk;
        default: return IconId::inbox;
    }
}

}  // namespace runtime::ui
