#include "runtime/ui/core/text_selection.h"

#include <glib.h>
#include <pango/pango.h>

#include <algorithm>

namespace runtime::ui::text_selection {

namespace {

// The paragraph holding byte `i`: from just after the previous "\n" to just
// after the next one. Cluster and word boundaries never cross a line feed,
// so looking at one paragraph keeps each step cheap in long texts.
std::pair<std::size_t, std::size_t> paragraph_of(std::string_view t, std::size_t i) {
    std::size_t s = 0;
    if (i > 0) {
        std::size_t nl = t.rfind('\n', i - 1);
        s = nl == std::string_view::npos ? 0 : nl + 1;
    }
    std::size_t nl = t.find('\n', i);
    std::size_t e = nl == std::string_view::npos ? t.size() : nl + 1;
    return {s, e};
}

bool valid(std::string_view t) {
    return g_utf8_validate(t.data(), static_cast<gssize>(t.size()), nullptr);
}

struct Attrs {
    std::vector<std::size_t> offsets;  // byte offset of each attr position
    std::vector<PangoLogAttr> attrs;
};

// Log attributes for a piece of text; positions count scalar values, so the
// byte offset of each position is recorded alongside. Invalid UTF-8 gets one
// boundary per byte and no words.
Attrs attrs_of(std::string_view t) {
    Attrs a;
    if (!valid(t)) {
        a.attrs.resize(t.size() + 1);
        for (std::size_t i = 0; i <= t.size(); ++i) {
            a.offsets.push_back(i);
            PangoLogAttr& at = a.attrs[i];
            at = PangoLogAttr{};
            at.is_cursor_position = 1;
        }
        return a;
    }
    const glong chars = g_utf8_strlen(t.data(), static_cast<gssize>(t.size()));
    a.attrs.resize(static_cast<std::size_t>(chars) + 1);
    pango_get_log_attrs(t.data(), static_cast<int>(t.size()), -1, pango_language_get_default(),
                        a.attrs.data(), static_cast<int>(a.attrs.size()));
    a.offsets.reserve(a.attrs.size());
    const char* p = t.data();
    const char* end = t.data() + t.size();
    while (p < end) {
        a.offsets.push_back(static_cast<std::size_t>(p - t.data()));
        p = g_utf8_next_char(p);
    }
    a.offsets.push_back(t.size());
    return a;
}

}  // namespace

std::vector<std::size_t> grapheme_boundaries(std::string_view text) {
    std::vector<std::size_t> out;
    Attrs a = attrs_of(text);
    for (std::size_t i = 0; i < a.attrs.size(); ++i) {
        if (a.attrs[i].is_cursor_position || i == 0 || i + 1 == a.attrs.size()) out.push_back(a.offsets[i]);
    }
    return out;
}

std::size_t next_grapheme(std::string_view text, std::size_t offset) {
    if (offset >= text.size()) return text.size();
    auto [s, e] = paragraph_of(text, offset);
    Attrs a = attrs_of(text.substr(s, e - s));
    for (std::size_t i = 0; i < a.offsets.size(); ++i) {
        const std::size_t at = s + a.offsets[i];
        if (at > offset && (a.attrs[i].is_cursor_position || i + 1 == a.offsets.size())) return at;
    }
    return e;
}

std::size_t prev_grapheme(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    if (offset == 0) return 0;
    auto [s, e] = paragraph_of(text, offset - 1);
    Attrs a = attrs_of(text.substr(s, e - s));
    std::size_t best = s;
    for (std::size_t i = 0; i < a.offsets.size(); ++i) {
        const std::size_t at = s + a.offsets[i];
        if (at >= offset) break;
        if (a.attrs[i].is_cursor_position || i == 0) best = at;
    }
    return best;
}

std::size_t floor_grapheme(std::string_view text, std::size_t offset) {
    if (offset >= text.size()) return text.size();
    if (offset == 0) return 0;
    auto [s, e] = paragraph_of(text, offset);
    Attrs a = attrs_of(text.substr(s, e - s));
    std::size_t best = s;
    for (std::size_t i = 0; i < a.offsets.size(); ++i) {
        const std::size_t at = s + a.offsets[i];
        if (at > offset) break;
        if (a.attrs[i].is_cursor_position || i == 0) best = at;
    }
    return best;
}

std::size_t next_word_end(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    while (offset < text.size()) {
        auto [s, e] = paragraph_of(text, offset);
        Attrs a = attrs_of(text.substr(s, e - s));
        for (std::size_t i = 0; i < a.offsets.size(); ++i) {
            const std::size_t at = s + a.offsets[i];
            if (at > offset && a.attrs[i].is_word_end) return at;
        }
        offset = e;
    }
    return text.size();
}

std::size_t prev_word_start(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    while (offset > 0) {
        auto [s, e] = paragraph_of(text, offset - 1);
        Attrs a = attrs_of(text.substr(s, e - s));
        std::size_t best = std::string_view::npos;
        for (std::size_t i = 0; i < a.offsets.size(); ++i) {
            const std::size_t at = s + a.offsets[i];
            if (at >= offset) break;
            if (a.attrs[i].is_word_start) best = at;
        }
        if (best != std::string_view::npos) return best;
        offset = s;
    }
    return 0;
}

std::pair<std::size_t, std::size_t> word_at(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    const std::size_t probe = offset == text.size() && offset > 0 ? offset - 1 : offset;
    auto [s, e] = paragraph_of(text, probe);
    Attrs a = attrs_of(text.substr(s, e - s));
    std::size_t start = std::string_view::npos;
    for (std::size_t i = 0; i < a.offsets.size(); ++i) {
        const std::size_t at = s + a.offsets[i];
        if (a.attrs[i].is_word_end && start != std::string_view::npos) {
            // A word [start, at): it holds the offset, or ends the text there.
            if ((start <= offset && offset < at) || (at == offset && offset == text.size())) {
                return {start, at};
            }
            start = std::string_view::npos;
        }
        if (at > offset && start == std::string_view::npos) break;
        if (a.attrs[i].is_word_start) start = at;
    }
    const std::size_t at = floor_grapheme(text, offset);
    return {at, at};
}

std::size_t byte_to_char(std::string_view text, std::size_t byte_offset) {
    byte_offset = std::min(byte_offset, text.size());
    std::size_t n = 0;
    for (std::size_t i = 0; i < byte_offset; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++n;
    }
    return n;
}

std::size_t char_to_byte(std::string_view text, std::size_t char_offset) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (n == char_offset) return i;
            ++n;
        }
    }
    return text.size();
}

}  // namespace runtime::ui::text_selection
