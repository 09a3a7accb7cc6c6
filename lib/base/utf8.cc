#include "lib/base/utf8.h"

namespace lib::utf8 {

std::size_t decode(std::string_view text, std::size_t i, char32_t& out) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c0 = b(i);
    const std::size_t left = text.size() - i;
    if (c0 < 0x80) {
        out = c0;
        return 1;
    }
    const auto cont = [&](std::size_t k) { return (b(k) & 0xC0) == 0x80; };
    if (c0 >= 0xC2 && c0 <= 0xDF) {
        if (left < 2 || !cont(i + 1)) return 0;
        out = (char32_t(c0 & 0x1F) << 6) | (b(i + 1) & 0x3F);
        return 2;
    }
    if (c0 >= 0xE0 && c0 <= 0xEF) {
        if (left < 3 || !cont(i + 1) || !cont(i + 2)) return 0;
        const unsigned char c1 = b(i + 1);
        if ((c0 == 0xE0 && c1 < 0xA0) || (c0 == 0xED && c1 >= 0xA0)) return 0;
        out = (char32_t(c0 & 0x0F) << 12) | (char32_t(c1 & 0x3F) << 6) | (b(i + 2) & 0x3F);
        return 3;
    }
    if (c0 >= 0xF0 && c0 <= 0xF4) {
        if (left < 4 || !cont(i + 1) || !cont(i + 2) || !cont(i + 3)) return 0;
        const unsigned char c1 = b(i + 1);
        if ((c0 == 0xF0 && c1 < 0x90) || (c0 == 0xF4 && c1 >= 0x90)) return 0;
        out = (char32_t(c0 & 0x07) << 18) | (char32_t(c1 & 0x3F) << 12) |
              (char32_t(b(i + 2) & 0x3F) << 6) | (b(i + 3) & 0x3F);
        return 4;
    }
    return 0;
}

void append(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
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

bool is_valid(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t n = decode(text, i, c);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string repair(std::string_view text) {
    if (is_valid(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t n = decode(text, i, c);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

}  // namespace lib::utf8
