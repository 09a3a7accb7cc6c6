#include "state/text_rules.h"

#include <vector>

namespace mail::state {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one well-formed sequence at text[i]; returns its length, or 0 when
// the byte at i does not start one.
std::size_t decode_one(std::string_view text, std::size_t i, char32_t& out) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c0 = b(i);
    const std::size_t left = text.size() - i;
    if (c0 < 0x80) {
        out = c0;
        return 1;
    }
    const auto cont = [&](std::size_t k) { return k < text.size() && (b(k) & 0xC0) == 0x80; };
    if (c0 >= 0xC2 && c0 <= 0xDF) {
        if (left < 2 || !cont(i + 1)) return 0;
        out = (char32_t(c0 & 0x1F) << 6) | (b(i + 1) & 0x3F);
        return 2;
    }
    if (c0 >= 0xE0 && c0 <= 0xEF) {
        if (left < 3 || !cont(i + 1) || !cont(i + 2)) return 0;
        const unsigned char c1 = b(i + 1);
        if (c0 == 0xE0 && c1 < 0xA0) return 0;   // overlong
        if (c0 == 0xED && c1 >= 0xA0) return 0;  // surrogate
        out = (char32_t(c0 & 0x0F) << 12) | (char32_t(c1 & 0x3F) << 6) | (b(i + 2) & 0x3F);
        return 3;
    }
    if (c0 >= 0xF0 && c0 <= 0xF4) {
        if (left < 4 || !cont(i + 1) || !cont(i + 2) || !cont(i + 3)) return 0;
        const unsigned char c1 = b(i + 1);
        if (c0 == 0xF0 && c1 < 0x90) return 0;   // overlong
        if (c0 == 0xF4 && c1 >= 0x90) return 0;  // past U+10FFFF
        out = (char32_t(c0 & 0x07) << 18) | (char32_t(c1 & 0x3F) << 12) |
              (char32_t(b(i + 2) & 0x3F) << 6) | (b(i + 3) & 0x3F);
        return 4;
    }
    return 0;
}

std::vector<char32_t> decode(std::string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t n = decode_one(text, i, c);
        if (n == 0) {
            out.push_back(kReplacement);
            ++i;
        } else {
            out.push_back(c);
            i += n;
        }
    }
    return out;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string encode(const char32_t* begin, const char32_t* end) {
    std::string out;
    out.reserve(static_cast<std::size_t>(end - begin));
    for (const char32_t* p = begin; p != end; ++p) append_utf8(out, *p);
    return out;
}

void trim(const char32_t*& begin, const char32_t*& end) {
    while (begin != end && is_white_space(*begin)) ++begin;
    while (end != begin && is_white_space(*(end - 1))) --end;
}

}  // namespace

bool is_control_character(char32_t c) { return c <= 0x1F || (c >= 0x7F && c <= 0x9F); }

bool is_white_space(char32_t c) {
    switch (c) {
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20:
        case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
        case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

bool is_valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t n = decode_one(text, i, c);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string repair_utf8(std::string_view text) {
    if (is_valid_utf8(text)) return std::string(text);
    const auto cps = decode(text);
    return encode(cps.data(), cps.data() + cps.size());
}

std::size_t count_characters(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++count) {
        char32_t c = 0;
        const std::size_t n = decode_one(text, i, c);
        i += n == 0 ? 1 : n;
    }
    return count;
}

std::string take_characters(std::string_view text, std::size_t max_chars) {
    const auto cps = decode(text);
    const std::size_t n = cps.size() < max_chars ? cps.size() : max_chars;
    return encode(cps.data(), cps.data() + n);
}

std::string trim_white_space(std::string_view text) {
    const auto cps = decode(text);
    const char32_t* begin = cps.data();
    const char32_t* end = cps.data() + cps.size();
    trim(begin, end);
    return encode(begin, end);
}

std::string normalize_text(std::string_view text, std::size_t max_chars, LineBreaks line_breaks) {
    auto cps = decode(text);
    const char32_t* begin = cps.data();
    const char32_t* end = cps.data() + cps.size();
    trim(begin, end);
    std::vector<char32_t> kept;
    kept.reserve(static_cast<std::size_t>(end - begin));
    for (const char32_t* p = begin; p != end; ++p) {
        const char32_t c = *p;
        const bool allowed_break =
            line_breaks == LineBreaks::keep && (c == U'\t' || c == U'\n' || c == U'\r');
        if (is_control_character(c) && !allowed_break) continue;
        kept.push_back(c);
    }
    begin = kept.data();
    end = kept.data() + kept.size();
    trim(begin, end);
    if (static_cast<std::size_t>(end - begin) > max_chars) end = begin + max_chars;
    while (end != begin && is_white_space(*(end - 1))) --end;
    return encode(begin, end);
}

std::string normalize_label(std::string_view text) { return normalize_text(text, kMaxLabelChars); }

std::string normalize_folder_name(std::string_view text) {
    return normalize_text(text, kMaxFolderNameChars);
}

}  // namespace mail::state
