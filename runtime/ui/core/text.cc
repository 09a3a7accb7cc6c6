#include "runtime/ui/core/text.h"

#include <glib.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <list>
#include <unordered_map>

#include "runtime/ui/core/rich_text.h"
#include "runtime/ui/core/text_selection.h"

namespace runtime::ui {

namespace {

// Emoji come from Noto Color Emoji through fontconfig's fallback. Naming it
// here would make Pango take digits, "#" and "*" (which have emoji forms)
// from the emoji font.
constexpr const char* kFamilies = "Inter, DejaVu Sans";
constexpr std::size_t kLayoutCacheSize = 1024;
constexpr std::size_t kElideCacheSize = 1024;

int pango_weight(int w) {
    switch (w) {
        case weight::regular: return PANGO_WEIGHT_NORMAL;
        case weight::medium: return PANGO_WEIGHT_MEDIUM;
        case weight::semibold: return PANGO_WEIGHT_SEMIBOLD;
        default: break;
    }
    if (w <= 0) return PANGO_WEIGHT_NORMAL;
    return w >= 100 ? std::clamp(w, 100, 1000) : PANGO_WEIGHT_BOLD;
}

int to_units(double px) { return static_cast<int>(std::lround(px * PANGO_SCALE)); }
double from_units(int u) { return static_cast<double>(u) / PANGO_SCALE; }

struct LayoutKey {
    std::string text;
    int size;  // Pango units, scale applied
    int weight;
    int flags;
    int wrap;
    int max_width;
    int max_lines;
    int align;
    bool operator==(const LayoutKey&) const = default;
};

struct LayoutKeyHash {
    std::size_t operator()(const LayoutKey& k) const {
        std::size_t h = std::hash<std::string>()(k.text);
        auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
        mix(static_cast<std::size_t>(k.size));
        mix(static_cast<std::size_t>(k.weight));
        mix(static_cast<std::size_t>(k.flags));
        mix(static_cast<std::size_t>(k.wrap));
        mix(static_cast<std::size_t>(k.max_width));
        mix(static_cast<std::size_t>(k.max_lines));
        mix(static_cast<std::size_t>(k.align));
        return h;
    }
};

std::size_t weight_of(const std::string& s) { return s.size(); }

// Least recently used entries go first once there are more than `capacity`
// entries or their keys' texts add up to more than `byte_budget`.
template <class K, class V, class H>
class Lru {
public:
    explicit Lru(std::size_t capacity, void (*drop)(V&), std::size_t byte_budget = 16u << 20)
        : capacity_(capacity), budget_(byte_budget), drop_(drop) {}
    ~Lru() { clear(); }
    V* find(const K& k) {
        auto it = map_.find(k);
        if (it == map_.end()) return nullptr;
        order_.splice(order_.begin(), order_, it->second);
        return &it->second->second;
    }
    V& insert(K k, V v) {
        bytes_ += weight_of(k.text);
        order_.emplace_front(std::move(k), std::move(v));
        map_[order_.front().first] = order_.begin();
        // The newest entry always stays, however large.
        while (order_.size() > 1 && (order_.size() > capacity_ || bytes_ > budget_)) {
            auto& last = order_.back();
            bytes_ -= weight_of(last.first.text);
            map_.erase(last.first);
            if (drop_) drop_(last.second);
            order_.pop_back();
        }
        return order_.front().second;
    }
    void clear() {
        if (drop_) {
            for (auto& e : order_) drop_(e.second);
        }
        order_.clear();
        map_.clear();
        bytes_ = 0;
    }

private:
    std::size_t capacity_;
    std::size_t budget_;
    std::size_t bytes_ = 0;
    void (*drop_)(V&);
    std::list<std::pair<K, V>> order_;
    std::unordered_map<K, typename std::list<std::pair<K, V>>::iterator, H> map_;
};

void drop_layout(PangoLayout*& l) { g_object_unref(l); }

struct ElideKey {
    std::string text;
    int width;
    int size;
    int weight;
    bool operator==(const ElideKey&) const = default;
};
struct ElideKeyHash {
    std::size_t operator()(const ElideKey& k) const {
        return std::hash<std::string>()(k.text) ^ (static_cast<std::size_t>(k.width) * 31) ^
               (static_cast<std::size_t>(k.size) * 131) ^ static_cast<std::size_t>(k.weight);
    }
};

std::string rtrim_spaces(std::string_view s) {
    std::size_t end = s.size();
    while (end > 0) {
        const char* start = g_utf8_find_prev_char(s.data(), s.data() + end);
        if (start == nullptr) break;
        gunichar c = g_utf8_get_char(start);
        if (!g_unichar_isspace(c)) break;
        end = static_cast<std::size_t>(start - s.data());
    }
    return std::string(s.substr(0, end));
}

}  // namespace

std::string valid_utf8(std::string_view text) {
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        return std::string(text);
    }
    gchar* fixed = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string out(fixed);
    g_free(fixed);
    return out;
}

struct TextRenderer::Impl {
    PangoContext* context = nullptr;
    double scale = 1.0;
    Lru<LayoutKey, PangoLayout*, LayoutKeyHash> layouts{kLayoutCacheSize, drop_layout};
    Lru<ElideKey, std::string, ElideKeyHash> elided{kElideCacheSize, nullptr};

    Impl() {
        PangoFontMap* map = pango_cairo_font_map_get_default();
        context = pango_font_map_create_context(map);
        cairo_font_options_t* opts = cairo_font_options_create();
        cairo_font_options_set_antialias(opts, CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_hint_style(opts, CAIRO_HINT_STYLE_SLIGHT);
        cairo_font_options_set_hint_metrics(opts, CAIRO_HINT_METRICS_OFF);
        pango_cairo_context_set_font_options(context, opts);
        cairo_font_options_destroy(opts);
        pango_cairo_context_set_resolution(context, 96);
        pango_context_set_round_glyph_positions(context, FALSE);
    }
    ~Impl() {
        layouts.clear();
        g_object_unref(context);
    }

    PangoFontDescription* font(double size, int w, bool italic) const {
        PangoFontDescription* d = pango_font_description_from_string(kFamilies);
        pango_font_description_set_absolute_size(d, std::max(1.0, size * scale) * PANGO_SCALE);
        pango_font_description_set_weight(d, static_cast<PangoWeight>(pango_weight(w)));
        if (italic) pango_font_description_set_style(d, PANGO_STYLE_ITALIC);
        return d;
    }

    PangoLayout* make(const std::string& text, const TextStyle& s) const {
        PangoLayout* l = pango_layout_new(context);
        PangoFontDescription* d = font(s.size, s.weight, s.italic);
        pango_layout_set_font_description(l, d);
        pango_font_description_free(d);
        if (s.underline || s.strikethrough) {
            PangoAttrList* attrs = pango_attr_list_new();
            if (s.underline) pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
            if (s.strikethrough) pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
            pango_layout_set_attributes(l, attrs);
            pango_attr_list_unref(attrs);
        }
        if (s.wrap_width > 0) {
            pango_layout_set_width(l, to_units(s.wrap_width));
            pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
            if (s.max_lines > 0) {
                pango_layout_set_height(l, -s.max_lines);
                pango_layout_set_ellipsize(l, PANGO_ELLIPSIZE_END);
            }
        } else if (s.max_width > 0) {
            pango_layout_set_width(l, to_units(s.max_width));
            pango_layout_set_ellipsize(l, PANGO_ELLIPSIZE_END);
        }
        switch (s.align) {
            case TextAlign::center: pango_layout_set_alignment(l, PANGO_ALIGN_CENTER); break;
            case TextAlign::right: pango_layout_set_alignment(l, PANGO_ALIGN_RIGHT); break;
            case TextAlign::left: break;
        }
        pango_layout_set_text(l, text.data(), static_cast<int>(text.size()));
        return l;
    }

    PangoLayout* get(std::string_view raw, const TextStyle& s) {
        LayoutKey key{valid_utf8(raw),
                      to_units(s.size * scale),
                      pango_weight(s.weight),
                      (s.italic ? 1 : 0) | (s.underline ? 2 : 0) | (s.strikethrough ? 4 : 0),
                      s.wrap_width > 0 ? to_units(s.wrap_width) : 0,
                      s.max_width > 0 ? to_units(s.max_width) : 0,
                      s.max_lines,
                      static_cast<int>(s.align)};
        if (PangoLayout** hit = layouts.find(key)) return *hit;
        PangoLayout* l = make(key.text, s);
        return layouts.insert(std::move(key), l);
    }

    static TextMetrics metrics(PangoLayout* l) {
        PangoRectangle logical;
        pango_layout_get_extents(l, nullptr, &logical);
        TextMetrics m;
        // The box starts at the layout origin; alignment offsets stay inside.
        m.width = from_units(logical.x + logical.width);
        m.height = from_units(logical.height);
        m.baseline = from_units(pango_layout_get_baseline(l));
        m.lines = pango_layout_get_line_count(l);
        return m;
    }
};

TextRenderer::TextRenderer() : impl_(std::make_unique<Impl>()) {}
TextRenderer::~TextRenderer() = default;
TextRenderer::TextRenderer(TextRenderer&&) noexcept = default;
TextRenderer& TextRenderer::operator=(TextRenderer&&) noexcept = default;

void TextRenderer::set_text_scale(double scale) {
    if (!std::isfinite(scale)) scale = 1.0;
    scale = std::clamp(scale, 0.5, 4.0);
    if (scale == impl_->scale) return;
    impl_->scale = scale;
    // Keys carry the scaled size, so old entries simply age out; the elision
    // cache is keyed by unscaled size and must go.
    impl_->elided.clear();
}

double TextRenderer::text_scale() const { return impl_->scale; }

void TextRenderer::clear_cache() {
    impl_->layouts.clear();
    impl_->elided.clear();
}

TextMetrics TextRenderer::measure(std::string_view text, double size, double wrap_width) const {
    return measure_weighted(text, size, weight::regular, wrap_width);
}

TextMetrics TextRenderer::measure_weighted(std::string_view text, double size, int w,
                                           double wrap_width) const {
    TextStyle s;
    s.size = size;
    s.weight = w;
    s.wrap_width = wrap_width;
    return measure_styled(text, s);
}

TextMetrics TextRenderer::measure_styled(std::string_view text, const TextStyle& style) const {
    return Impl::metrics(impl_->get(text, style));
}

double TextRenderer::line_height(double size, int w) const {
    return measure_weighted("Ag", size, w).height;
}

TextMetrics TextRenderer::draw_text(Canvas& canvas, std::string_view text, Point at, double size,
                                   Color color, double wrap_width) const {
    return draw_text_weighted(canvas, text, at, size, weight::regular, color, wrap_width);
}

TextMetrics TextRenderer::draw_text_weighted(Canvas& canvas, std::string_view text, Point at,
                                            double size, int w, Color color,
                                            double wrap_width) const {
    TextStyle s;
    s.size = size;
    s.weight = w;
    s.color = color;
    s.wrap_width = wrap_width;
    return draw_text_styled(canvas, text, at, s);
}

TextMetrics TextRenderer::draw_text_styled(Canvas& canvas, std::string_view text, Point at,
                                          const TextStyle& style) const {
    PangoLayout* l = impl_->get(text, style);
    if (!text.empty() && style.color.a > 0) {
        cairo_t* cr = canvas.cairo();
        cairo_save(cr);
        cairo_set_source_rgba(cr, style.color.r, style.color.g, style.color.b, style.color.a);
        cairo_move_to(cr, at.x, at.y);
        pango_cairo_show_layout(cr, l);
        cairo_restore(cr);
    }
    return Impl::metrics(l);
}

std::string TextRenderer::elide_to_width(std::string_view raw, double max_width, double size,
                                         int w) const {
    if (!(max_width > 1)) return {};
    const std::string text = valid_utf8(raw);
    if (measure_weighted(text, size, w).width <= max_width) return text;

    ElideKey key{text, to_units(max_width), to_units(size), w};
    if (std::string* hit = impl_->elided.find(key)) return *hit;

    // One scratch layout for the search keeps the shared cache clean.
    TextStyle s;
    s.size = size;
    s.weight = w;
    PangoLayout* scratch = impl_->make(std::string(), s);
    auto fits = [&](const std::string& candidate) {
        pango_layout_set_text(scratch, candidate.data(), static_cast<int>(candidate.size()));
        return Impl::metrics(scratch).width <= max_width;
    };
    const std::vector<std::size_t> cuts = text_selection::grapheme_boundaries(text);
    // cuts[0] == 0 and cuts.back() == text.size(); find the longest proper
    // prefix whose trimmed form plus "…" fits.
    auto candidate = [&](std::size_t i) { return rtrim_spaces(std::string_view(text).substr(0, cuts[i])) + "…"; };
    std::size_t lo = 0;                // known to be acceptable (becomes "…")
    std::size_t hi = cuts.size() - 2;  // largest proper prefix
    std::string best = "…";
    while (lo < hi) {
        std::size_t mid = (lo + hi + 1) / 2;
        std::string c = candidate(mid);
        if (fits(c)) {
            lo = mid;
            best = std::move(c);
        } else {
            hi = mid - 1;
        }
    }
    if (lo > 0 && best == "…") best = candidate(lo);
    g_object_unref(scratch);
    impl_->elided.insert(std::move(key), best);
    return best;
}

// ---- Rich text ----

struct RichTextLayout::Impl {
    PangoLayout* layout = nullptr;
    std::string text;
    Color color;
    ~Impl() {
        if (layout != nullptr) g_object_unref(layout);
    }
};

RichTextLayout::RichTextLayout() = default;
RichTextLayout::~RichTextLayout() = default;
RichTextLayout::RichTextLayout(const RichTextLayout&) = default;
RichTextLayout& RichTextLayout::operator=(const RichTextLayout&) = default;
RichTextLayout::RichTextLayout(RichTextLayout&&) noexcept = default;
RichTextLayout& RichTextLayout::operator=(RichTextLayout&&) noexcept = default;
RichTextLayout::RichTextLayout(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

namespace {
const std::string kEmpty;

guint16 channel(double v) { return static_cast<guint16>(std::lround(std::clamp(v, 0.0, 1.0) * 65535)); }

void set_range(PangoAttribute* a, std::size_t start, std::size_t end) {
    a->start_index = static_cast<guint>(start);
    a->end_index = static_cast<guint>(end);
}
}  // namespace

RichTextLayout TextRenderer::layout_rich(std::span<const RichRun> runs,
                                         const RichTextOptions& options) const {
    auto impl = std::make_shared<RichTextLayout::Impl>();
    impl->color = options.color;
    PangoAttrList* attrs = pango_attr_list_new();
    for (const RichRun& run : runs) {
        const std::size_t start = impl->text.size();
        impl->text += valid_utf8(run.text);
        const std::size_t end = impl->text.size();
        if (start == end) continue;
        if (run.bold) {
            PangoAttribute* a = pango_attr_weight_new(PANGO_WEIGHT_BOLD);
            set_range(a, start, end);
            pango_attr_list_insert(attrs, a);
        }
        if (run.italic) {
            PangoAttribute* a = pango_attr_style_new(PANGO_STYLE_ITALIC);
            set_range(a, start, end);
            pango_attr_list_insert(attrs, a);
        }
        if (run.underline || run.link) {
            PangoAttribute* a = pango_attr_underline_new(PANGO_UNDERLINE_SINGLE);
            set_range(a, start, end);
            pango_attr_list_insert(attrs, a);
        }
        if (run.size > 0) {
            PangoAttribute* a = pango_attr_size_new_absolute(to_units(run.size * impl_->scale));
            set_range(a, start, end);
            pango_attr_list_insert(attrs, a);
        }
        std::optional<Color> color = run.color;
        if (!color && run.link) color = options.link_color;
        if (color) {
            PangoAttribute* a = pango_attr_foreground_new(channel(color->r), channel(color->g), channel(color->b));
            set_range(a, start, end);
            pango_attr_list_insert(attrs, a);
            if (color->a < 1) {
                PangoAttribute* alpha = pango_attr_foreground_alpha_new(channel(color->a));
                set_range(alpha, start, end);
                pango_attr_list_insert(attrs, alpha);
            }
        }
    }
    PangoLayout* l = pango_layout_new(impl_->context);
    PangoFontDescription* d = impl_->font(options.size, options.weight, false);
    pango_layout_set_font_description(l, d);
    pango_font_description_free(d);
    if (options.wrap_width > 0) {
        pango_layout_set_width(l, to_units(options.wrap_width));
        pango_layout_set_wrap(l, PANGO_WRAP_WORD_CHAR);
    }
    if (options.line_spacing > 0) pango_layout_set_spacing(l, to_units(options.line_spacing));
    pango_layout_set_text(l, impl->text.data(), static_cast<int>(impl->text.size()));
    pango_layout_set_attributes(l, attrs);
    pango_attr_list_unref(attrs);
    impl->layout = l;
    return RichTextLayout(std::move(impl));
}

void TextRenderer::draw_rich(Canvas& canvas, const RichTextLayout& layout, Point at) const {
    const RichTextLayout::Impl* impl = layout.impl();
    if (impl == nullptr || impl->layout == nullptr || impl->text.empty()) return;
    cairo_t* cr = canvas.cairo();
    cairo_save(cr);
    cairo_set_source_rgba(cr, impl->color.r, impl->color.g, impl->color.b, impl->color.a);
    cairo_move_to(cr, at.x, at.y);
    pango_cairo_show_layout(cr, impl->layout);
    cairo_restore(cr);
}

const std::string& RichTextLayout::text() const { return impl_ ? impl_->text : kEmpty; }

double RichTextLayout::width() const {
    if (!impl_) return 0;
    PangoRectangle logical;
    pango_layout_get_extents(impl_->layout, nullptr, &logical);
    return from_units(logical.x + logical.width);
}

double RichTextLayout::height() const {
    if (!impl_) return 0;
    PangoRectangle logical;
    pango_layout_get_extents(impl_->layout, nullptr, &logical);
    return from_units(logical.height);
}

int RichTextLayout::line_count() const { return impl_ ? pango_layout_get_line_count(impl_->layout) : 0; }

double RichTextLayout::line_height_at(std::size_t offset) const { return caret_rect(offset).height(); }

std::size_t RichTextLayout::hit_test(double x, double y) const {
    if (!impl_) return 0;
    const std::string& t = impl_->text;
    int index = 0;
    int trailing = 0;
    if (y < 0) return 0;
    pango_layout_xy_to_index(impl_->layout, to_units(x), to_units(y), &index, &trailing);
    std::size_t at = static_cast<std::size_t>(std::clamp(index, 0, static_cast<int>(t.size())));
    if (trailing > 0 && at < t.size()) {
        const char* p = g_utf8_offset_to_pointer(t.data() + at, trailing);
        at = static_cast<std::size_t>(p - t.data());
    }
    if (y >= height()) {
        // Below the text: the end of the last line.
        at = t.size();
    }
    return text_selection::floor_grapheme(t, std::min(at, t.size()));
}

Rect RichTextLayout::caret_rect(std::size_t offset) const {
    if (!impl_) return {};
    offset = std::min(offset, impl_->text.size());
    PangoRectangle strong;
    pango_layout_get_cursor_pos(impl_->layout, static_cast<int>(offset), &strong, nullptr);
    const double x = from_units(strong.x);
    const double y = from_units(strong.y);
    return {x, y, x + 1, y + from_units(strong.height)};
}

std::vector<Rect> RichTextLayout::selection_rects(std::size_t start, std::size_t end) const {
    std::vector<Rect> out;
    if (!impl_) return out;
    if (start > end) std::swap(start, end);
    end = std::min(end, impl_->text.size());
    if (start >= end) return out;
    PangoLayoutIter* it = pango_layout_get_iter(impl_->layout);
    do {
        PangoLayoutLine* line = pango_layout_iter_get_line_readonly(it);
        const std::size_t ls = static_cast<std::size_t>(line->start_index);
        const std::size_t le = ls + static_cast<std::size_t>(line->length);
        const std::size_t s = std::max(start, ls);
        const std::size_t e = std::min(end, le);
        // A selection running past a line's end also covers its line break.
        const bool through_break = end > le && start <= le;
        if (s < e || through_break) {
            int y0 = 0;
            int y1 = 0;
            pango_layout_iter_get_line_yrange(it, &y0, &y1);
            PangoRectangle line_rect;
            pango_layout_iter_get_line_extents(it, nullptr, &line_rect);
            int* ranges = nullptr;
            int n = 0;
            if (s < e) {
                pango_layout_line_get_x_ranges(line, static_cast<int>(s), static_cast<int>(e), &ranges, &n);
            }
            double last_right = from_units(line_rect.x);
            for (int i = 0; i < n; ++i) {
                const double l = from_units(ranges[2 * i]);
                const double r = from_units(ranges[2 * i + 1]);
                if (r <= l) continue;
                out.push_back({l, from_units(y0), r, from_units(y1)});
                last_right = std::max(last_right, r);
            }
            g_free(ranges);
            if (through_break) {
                const double at = n > 0 ? last_right : from_units(line_rect.x + line_rect.width);
                out.push_back({at, from_units(y0), at + 5, from_units(y1)});
            }
        }
    } while (pango_layout_iter_next_line(it));
    pango_layout_iter_free(it);
    return out;
}

std::optional<std::size_t> RichTextLayout::offset_on_adjacent_line(std::size_t offset, int delta,
                                                                   double x) const {
    if (!impl_) return std::nullopt;
    offset = std::min(offset, impl_->text.size());
    int line_no = 0;
    int x_pos = 0;
    pango_layout_index_to_line_x(impl_->layout, static_cast<int>(offset), FALSE, &line_no, &x_pos);
    const int target = line_no + delta;
    if (target < 0 || target >= pango_layout_get_line_count(impl_->layout)) return std::nullopt;
    PangoLayoutIter* it = pango_layout_get_iter(impl_->layout);
    for (int i = 0; i < target; ++i) pango_layout_iter_next_line(it);
    int y0 = 0;
    int y1 = 0;
    pango_layout_iter_get_line_yrange(it, &y0, &y1);
    pango_layout_iter_free(it);
    return hit_test(x, from_units((y0 + y1) / 2));
}

std::pair<std::size_t, std::size_t> RichTextLayout::line_bounds(std::size_t offset) const {
    if (!impl_) return {0, 0};
    offset = std::min(offset, impl_->text.size());
    int line_no = 0;
    int x_pos = 0;
    pango_layout_index_to_line_x(impl_->layout, static_cast<int>(offset), FALSE, &line_no, &x_pos);
    PangoLayoutLine* line = pango_layout_get_line_readonly(impl_->layout, line_no);
    if (line == nullptr) return {offset, offset};
    const std::size_t s = static_cast<std::size_t>(line->start_index);
    return {s, s + static_cast<std::size_t>(line->length)};
}

}  // namespace runtime::ui
