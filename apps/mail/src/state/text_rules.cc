#include "state/text_rules.h"

#include <vector>

#include "lib/base/utf8.h"

namespace mail::state {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

std::size_t decode_one(std::string_view text, std::size_t i, char32_t& out) {
    return lib::utf8::decode(text, i, out);
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

std::string encode(const char32_t* begin, const char32_t* end) {
    std::string out;
    out.reserve(static_cast<std::size_t>(end - begin));
    for (const char32_t* p = begin; p != end; ++p) lib::utf8::append(out, *p);
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

bool is_valid_utf8(std::string_view text) { return lib::utf8::is_valid(text); }

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
