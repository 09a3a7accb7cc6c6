#include "runtime/ui/core/widgets/text_input.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "runtime/ui/core/rich_text.h"
#include "runtime/ui/core/text_selection.h"

namespace runtime::ui {

namespace ts = text_selection;

namespace {
constexpr std::string_view kMask = "•";
}  // namespace

struct TextInput::State {
    std::string text;
    std::string placeholder;
    InputKind kind = InputKind::text;
    bool multi = false;
    bool focused = false;
    std::size_t caret = 0;
    std::optional<std::size_t> anchor;
    std::size_t max_chars = 0;
    bool changed = false;
    bool dragging = false;
    std::string preedit;
    std::size_t preedit_cursor = 0;
    std::optional<double> preferred_x;

    // Undo history: snapshots before each edit. Consecutive typing (or
    // consecutive deleting) forms one step.
    struct Snapshot {
        std::string text;
        std::size_t caret;
        std::optional<std::size_t> anchor;
    };
    enum class Edit { none, typing, deleting, other };
    std::vector<Snapshot> undo;
    std::vector<Snapshot> redo;
    Edit last_edit = Edit::none;

    void record(Edit kind) {
        const bool merge = kind != Edit::other && kind == last_edit && !undo.empty();
        if (!merge) {
            undo.push_back({text, caret, anchor});
            if (undo.size() > 200) undo.erase(undo.begin());
        }
        redo.clear();
        last_edit = kind;
    }
    bool step(std::vector<Snapshot>& from, std::vector<Snapshot>& to) {
        if (from.empty()) return false;
        to.push_back({text, caret, anchor});
        Snapshot snap = std::move(from.back());
        from.pop_back();
        text = std::move(snap.text);
        caret = std::min(snap.caret, text.size());
        anchor = snap.anchor;
        changed = true;
        preferred_x.reset();
        last_edit = Edit::none;
        return true;
    }

    // The layout of the displayed text at the last draw or press.
    const TextRenderer* renderer = nullptr;
    RichTextLayout layout;
    bool layout_valid = false;
    std::string layout_text;
    double layout_size = 0;
    double layout_wrap = 0;
    double layout_scale = 0;
    Color layout_color;
    double draw_size = 13;
    Color draw_color{1, 1, 1, 1};
    Rect rect;           // the rectangle of the last draw
    Point origin;        // where the layout's top-left was drawn
    double scroll_x = 0;
    double scroll_y = 0;

    bool masked() const { return kind == InputKind::password; }

    std::string display() const {
        if (!masked()) return text;
        const std::size_t n = ts::grapheme_boundaries(text).size() - 1;
        std::string out;
        out.reserve(n * kMask.size());
        for (std::size_t i = 0; i < n; ++i) out += kMask;
        return out;
    }
    std::size_t to_display(std::size_t off) const {
        if (!masked()) return off;
        const auto b = ts::grapheme_boundaries(text);
        const auto it = std::upper_bound(b.begin(), b.end(), off);
        const std::size_t k = static_cast<std::size_t>(it - b.begin()) - 1;
        return k * kMask.size();
    }
    std::size_t from_display(std::size_t off) const {
        if (!masked()) return ts::floor_grapheme(text, off);
        const auto b = ts::grapheme_boundaries(text);
        const std::size_t k = std::min(off / kMask.size(), b.size() - 1);
        return b[k];
    }

    std::pair<std::size_t, std::size_t> sel() const {
        if (!anchor || *anchor == caret) return {caret, caret};
        return {std::min(*anchor, caret), std::max(*anchor, caret)};
    }
    bool has_sel() const { return anchor && *anchor != caret; }

    void move(std::size_t to, bool extend) {
        to = std::min(to, text.size());
        last_edit = Edit::none;
        if (extend) {
            if (!anchor) anchor = caret;
        } else {
            anchor.reset();
        }
        caret = to;
    }

    std::string filter(std::string_view raw) const {
        const std::string in = valid_utf8(raw);
        std::string out;
        out.reserve(in.size());
        for (const char* p = in.c_str(); *p != '\0'; p = g_utf8_next_char(p)) {
            gunichar c = g_utf8_get_char(p);
            if (c == '\r') {
                if (p[1] == '\n') continue;  // CR LF counts once, as its LF
                c = '\n';
            }
            if (c == '\n' || c == '\t') {
                if (kind == InputKind::number || kind == InputKind::email || kind == InputKind::url) continue;
                if (!multi || c == '\t') c = multi ? '\t' : ' ';
            } else if (c < 0x20 || (c >= 0x7f && c <= 0x9f)) {
                continue;
            }
            if (kind == InputKind::number && !(c >= '0' && c <= '9')) continue;
            if ((kind == InputKind::email || kind == InputKind::url) && g_unichar_isspace(c)) continue;
            char buf[8];
            const int n = g_unichar_to_utf8(c, buf);
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }

    bool insert(std::string_view raw, Edit kind = Edit::other) {
        std::string piece = filter(raw);
        auto [s, e] = sel();
        if (max_chars > 0) {
            const std::size_t kept = ts::byte_to_char(text, text.size()) - ts::byte_to_char(text, e) +
                                     ts::byte_to_char(text, s);
            const std::size_t room = kept >= max_chars ? 0 : max_chars - kept;
            if (ts::byte_to_char(piece, piece.size()) > room) {
                piece.resize(ts::floor_grapheme(piece, ts::char_to_byte(piece, room)));
            }
        }
        if (piece.empty() && s == e) return false;
        record(s == e ? kind : Edit::other);
        text.replace(s, e - s, piece);
        caret = s + piece.size();
        anchor.reset();
        changed = true;
        preferred_x.reset();
        return true;
    }

    bool erase(std::size_t s, std::size_t e, Edit kind = Edit::other) {
        if (s > e) std::swap(s, e);
        e = std::min(e, text.size());
        if (s >= e) return false;
        record(kind);
        text.erase(s, e - s);
        caret = s;
        anchor.reset();
        changed = true;
        preferred_x.reset();
        return true;
    }

    // The laid-out displayed text, rebuilt when the text or style changed.
    const RichTextLayout* ensure_layout() {
        if (renderer == nullptr) return nullptr;
        const std::string shown = display();
        const double wrap = multi ? std::max(20.0, rect.width() - 2) : 0;
        if (!layout_valid || shown != layout_text || layout_size != draw_size || layout_wrap != wrap ||
            layout_scale != renderer->text_scale() || !(layout_color == draw_color)) {
            RichRun run;
            run.text = shown;
            RichTextOptions o;
            o.size = draw_size;
            o.wrap_width = wrap;
            o.color = draw_color;
            layout = renderer->layout_rich(std::span<const RichRun>(&run, 1), o);
            layout_text = shown;
            layout_size = draw_size;
            layout_wrap = wrap;
            layout_scale = renderer->text_scale();
            layout_color = draw_color;
            layout_valid = true;
        }
        return &layout;
    }
};

TextInput::TextInput() : s_(std::make_shared<State>()) {}
TextInput::~TextInput() = default;
TextInput::TextInput(const TextInput& other) : s_(std::make_shared<State>(*other.s_)) {}
TextInput& TextInput::operator=(const TextInput& other) {
    if (this != &other) s_ = std::make_shared<State>(*other.s_);
    return *this;
}
TextInput::TextInput(TextInput&&) noexcept = default;
TextInput& TextInput::operator=(TextInput&&) noexcept = default;

TextInput TextInput::local() { return TextInput(); }

TextInput TextInput::multi_line() {
    TextInput t;
    t.s_->multi = true;
    return t;
}

TextInput TextInput::with_placeholder(std::string placeholder) && {
    s_->placeholder = std::move(placeholder);
    return std::move(*this);
}

TextInput TextInput::with_initial_value(std::string_view value) && {
    set_text(value);
    s_->changed = false;
    return std::move(*this);
}

TextInput TextInput::with_kind(InputKind kind) && {
    s_->kind = kind;
    set_text(std::string(s_->text));
    return std::move(*this);
}

TextInput TextInput::with_max_chars(std::size_t max) && {
    s_->max_chars = max;
    set_text(std::string(s_->text));
    return std::move(*this);
}

const std::string& TextInput::text() const { return s_->text; }

void TextInput::set_text(std::string_view text) {
    const std::string before = s_->text;
    s_->text.clear();
    s_->caret = 0;
    s_->anchor.reset();
    s_->insert(text);
    s_->caret = s_->text.size();
    s_->anchor.reset();
    s_->preferred_x.reset();
    s_->undo.clear();
    s_->redo.clear();
    s_->last_edit = State::Edit::none;
    s_->changed = s_->text != before;
}

const std::string& TextInput::placeholder() const { return s_->placeholder; }
void TextInput::set_placeholder(std::string placeholder) { s_->placeholder = std::move(placeholder); }
InputKind TextInput::kind() const { return s_->kind; }
bool TextInput::is_multi_line() const { return s_->multi; }
bool TextInput::focused() const { return s_->focused; }

void TextInput::set_focused(bool focused) {
    s_->focused = focused;
    if (!focused) s_->dragging = false;
}

std::size_t TextInput::caret() const { return s_->caret; }
std::pair<std::size_t, std::size_t> TextInput::selection() const { return s_->sel(); }
bool TextInput::has_selection() const { return s_->has_sel(); }

std::string TextInput::selected_text() const {
    auto [s, e] = s_->sel();
    return s_->text.substr(s, e - s);
}

void TextInput::set_caret(std::size_t offset, bool extend) {
    s_->move(ts::floor_grapheme(s_->text, offset), extend);
    s_->preferred_x.reset();
}

void TextInput::select_all() {
    s_->last_edit = State::Edit::none;
    s_->anchor = 0;
    s_->caret = s_->text.size();
}

bool TextInput::insert_text(std::string_view text) {
    s_->preedit.clear();
    return s_->insert(text, State::Edit::typing);
}

void TextInput::set_preedit(std::string_view text, std::size_t cursor) {
    s_->preedit = valid_utf8(text);
    s_->preedit_cursor = ts::floor_grapheme(s_->preedit, std::min(cursor, s_->preedit.size()));
}

const std::string& TextInput::preedit() const { return s_->preedit; }

bool TextInput::undo() { return s_->step(s_->undo, s_->redo); }
bool TextInput::redo() { return s_->step(s_->redo, s_->undo); }

bool TextInput::take_changed() {
    const bool c = s_->changed;
    s_->changed = false;
    return c;
}

KeyResult TextInput::handle_key(const KeyEvent& ev, Clipboard* clipboard) {
    State& s = *s_;
    KeyResult r;
    if (!s.focused) return r;
    const bool shift = ev.mods.shift;
    const bool word = ev.mods.ctrl || ev.mods.alt;
    const std::string_view t = s.text;

    auto horizontal = [&](std::size_t to) {
        s.move(to, shift);
        s.preferred_x.reset();
        r.handled = true;
    };

    if (ev.is("Left")) {
        if (s.has_sel() && !shift) horizontal(s.sel().first);
        else horizontal(word ? ts::prev_word_start(t, s.caret) : ts::prev_grapheme(t, s.caret));
        return r;
    }
    if (ev.is("Right")) {
        if (s.has_sel() && !shift) horizontal(s.sel().second);
        else horizontal(word ? ts::next_word_end(t, s.caret) : ts::next_grapheme(t, s.caret));
        return r;
    }
    if (ev.is("Home") || ev.is("End")) {
        const bool home = ev.is("Home");
        std::size_t to = home ? 0 : t.size();
        if (s.multi && !ev.mods.ctrl) {
            const RichTextLayout* l = s.ensure_layout();
            if (l != nullptr) {
                auto [ls, le] = l->line_bounds(s.to_display(s.caret));
                to = s.from_display(home ? ls : le);
            } else {
                const std::size_t nl_before = s.caret == 0 ? std::string_view::npos : t.rfind('\n', s.caret - 1);
                const std::size_t nl_after = t.find('\n', s.caret);
                to = home ? (nl_before == std::string_view::npos ? 0 : nl_before + 1)
                          : (nl_after == std::string_view::npos ? t.size() : nl_after);
            }
        }
        horizontal(to);
        return r;
    }
    if ((ev.is("Up") || ev.is("Down")) && s.multi) {
        const int delta = ev.is("Up") ? -1 : 1;
        const RichTextLayout* l = s.ensure_layout();
        std::optional<std::size_t> to;
        if (l != nullptr) {
            const std::size_t d = s.to_display(s.caret);
            const double x = s.preferred_x ? *s.preferred_x : l->caret_rect(d).left;
            s.preferred_x = x;
            if (auto off = l->offset_on_adjacent_line(d, delta, x)) to = s.from_display(*off);
        }
        if (!to) to = delta < 0 ? 0 : t.size();
        s.move(*to, shift);
        r.handled = true;
        return r;
    }
    if (ev.is("BackSpace")) {
        r.handled = true;
        if (s.has_sel()) r.changed = s.erase(s.sel().first, s.sel().second);
        else r.changed = s.erase(word ? ts::prev_word_start(t, s.caret) : ts::prev_grapheme(t, s.caret), s.caret, State::Edit::deleting);
        return r;
    }
    if (ev.is("Delete")) {
        r.handled = true;
        if (s.has_sel()) r.changed = s.erase(s.sel().first, s.sel().second);
        else r.changed = s.erase(s.caret, word ? ts::next_word_end(t, s.caret) : ts::next_grapheme(t, s.caret), State::Edit::deleting);
        return r;
    }
    if (ev.is("Return") || ev.is("KP_Enter")) {
        r.handled = true;
        if (s.multi && !ev.mods.command()) r.changed = s.insert("\n");
        else r.submitted = true;
        return r;
    }
    if (ev.mods.command() && !ev.mods.alt) {
        if (ev.is("a")) {
            select_all();
            r.handled = true;
            return r;
        }
        if (ev.is("z") || ev.is("y")) {
            r.handled = true;
            const bool forward = ev.is("y") || ev.mods.shift;
            r.changed = forward ? redo() : undo();
            return r;
        }
        if (ev.is("c") || ev.is("x")) {
            r.handled = true;
            if (!s.has_sel() || s.masked()) return r;
            if (clipboard != nullptr) clipboard->set_text(selected_text());
            if (ev.is("x")) r.changed = s.erase(s.sel().first, s.sel().second);
            return r;
        }
        if (ev.is("v")) {
            r.handled = true;
            const std::string before = s.text;
            if (clipboard != nullptr) {
                std::weak_ptr<State> weak = s_;
                clipboard->request_text([weak](std::optional<std::string> text) {
                    if (auto state = weak.lock(); state && text) state->insert(*text);
                });
            }
            // A clipboard that answers at once has already inserted.
            r.changed = s.text != before;
            return r;
        }
        return r;
    }
    if (!ev.text.empty() && !ev.mods.alt) {
        r.handled = true;
        r.changed = s.insert(ev.text, State::Edit::typing);
    }
    return r;
}

bool TextInput::pointer_down(const PointerEvent& ev, const TextRenderer& text) {
    State& s = *s_;
    if (!s.rect.contains(ev.pos)) return false;
    s.renderer = &text;
    s.focused = true;
    const RichTextLayout* l = s.ensure_layout();
    const std::size_t at = l != nullptr ? s.from_display(l->hit_test(ev.pos.x - s.origin.x, ev.pos.y - s.origin.y))
                                        : s.text.size();
    s.preferred_x.reset();
    if (ev.clicks >= 3 || (ev.clicks == 2 && s.masked())) {
        select_all();
    } else if (ev.clicks == 2) {
        auto [ws, we] = ts::word_at(s.text, at);
        s.anchor = ws;
        s.caret = we;
    } else {
        s.move(at, ev.mods.shift);
    }
    s.dragging = ev.clicks == 1;
    return true;
}

bool TextInput::pointer_drag(Point pos, const TextRenderer& text) {
    State& s = *s_;
    if (!s.dragging) return false;
    s.renderer = &text;
    const RichTextLayout* l = s.ensure_layout();
    if (l == nullptr) return false;
    const std::size_t at = s.from_display(l->hit_test(pos.x - s.origin.x, pos.y - s.origin.y));
    if (at == s.caret) return false;
    s.move(at, true);
    return true;
}

void TextInput::pointer_up() { s_->dragging = false; }
bool TextInput::dragging() const { return s_->dragging; }

Rect TextInput::caret_rect() const {
    const State& s = *s_;
    if (!s.layout_valid) return Rect::from_xywh(s.rect.left, s.rect.top, 1, s.rect.height());
    const Rect c = s.layout.caret_rect(s.to_display(s.caret));
    return c.translated(s.origin.x, s.origin.y);
}

void TextInput::draw(Canvas& canvas, const TextRenderer& text, const Theme& theme, const Rect& rect,
                     const TextInputStyle& style) {
    State& s = *s_;
    s.renderer = &text;
    s.draw_size = style.size;
    s.draw_color = style.text.a > 0 ? style.text : theme.text;

    if (style.frame) {
        const Color border = style.error ? theme.danger : (s.focused ? theme.accent : theme.hairline);
        canvas.fill_rounded_rect(rect, 8, Colors::lift(theme.surface, 0.03));
        canvas.stroke_rounded_rect(rect, 8, border, s.focused || style.error ? 1.5 : 1);
    }
    const double pad = std::max(style.padding, style.frame ? 10.0 : 0.0);
    const Rect area{rect.left + pad, rect.top, rect.right - pad, rect.bottom};
    s.rect = area;
    if (area.empty()) return;
    const RichTextLayout* l = s.ensure_layout();
    std::size_t d_caret = s.to_display(s.caret);
    // While the input method composes, the composition shows at the caret
    // (underlined) in a layout of its own; the text itself is unchanged.
    RichTextLayout composing;
    if (!s.preedit.empty() && s.focused && !s.masked()) {
        auto [a, b] = s.sel();
        RichRun runs[3];
        runs[0].text = s.text.substr(0, a);
        runs[1].text = s.preedit;
        runs[1].underline = true;
        runs[2].text = s.text.substr(b);
        RichTextOptions o;
        o.size = s.draw_size;
        o.wrap_width = s.layout_wrap;
        o.color = s.draw_color;
        composing = text.layout_rich(runs, o);
        l = &composing;
        d_caret = a + s.preedit_cursor;
    }
    const Rect caret = l->caret_rect(d_caret);

    // Keep the caret in view.
    if (!s.multi) {
        const double room = area.width() - 2;
        if (caret.left - s.scroll_x > room) s.scroll_x = caret.left - room;
        if (caret.left - s.scroll_x < 0) s.scroll_x = caret.left;
        s.scroll_x = std::clamp(s.scroll_x, 0.0, std::max(0.0, l->width() - room));
        s.scroll_y = 0;
        const double line_h = l->height();
        s.origin = {area.left - s.scroll_x, area.top + (area.height() - line_h) / 2};
    } else {
        const double top_pad = style.frame ? 8 : 2;
        const double room = area.height() - 2 * top_pad;
        if (caret.bottom - s.scroll_y > room) s.scroll_y = caret.bottom - room;
        if (caret.top - s.scroll_y < 0) s.scroll_y = caret.top;
        s.scroll_y = std::clamp(s.scroll_y, 0.0, std::max(0.0, l->height() - room));
        s.origin = {area.left, area.top + top_pad - s.scroll_y};
    }

    canvas.push_clip(Rect{area.left - 1, rect.top, area.right + 1, rect.bottom});
    if (s.has_sel() && l != &composing) {
        auto [a, b] = s.sel();
        const Color sel = s.focused ? theme.selection.with_alpha(0.35) : theme.selection.with_alpha(0.18);
        for (const Rect& r : l->selection_rects(s.to_display(a), s.to_display(b))) {
            canvas.fill_rect(r.translated(s.origin.x, s.origin.y), sel);
        }
    }
    if (s.text.empty() && l != &composing) {
        if (!s.placeholder.empty() && (!s.focused || style.placeholder_when_focused)) {
            const Color pc = style.placeholder.a > 0 ? style.placeholder : theme.text_faint;
            TextStyle ps;
            ps.size = style.size;
            ps.color = pc;
            if (!s.multi) ps.max_width = area.width();
            else ps.wrap_width = area.width();
            text.draw_text_styled(canvas, s.placeholder, s.origin, ps);
        }
    } else {
        text.draw_rich(canvas, *l, s.origin);
    }
    if (s.focused) {
        Rect c = caret.translated(s.origin.x, s.origin.y);
        // An empty layout may report a caret without height.
        if (c.height() < 1) c.bottom = c.top + text.line_height(style.size);
        canvas.fill_rect({c.left - 0.25, c.top, c.left + 1.25, c.bottom}, theme.accent);
    }
    canvas.pop_clip();
}

}  // namespace runtime::ui
