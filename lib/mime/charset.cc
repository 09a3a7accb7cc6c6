#include "lib/mime/charset.h"

#include <gmime/gmime.h>
#include <iconv.h>

#include <array>
#include <cerrno>

#include "lib/mime/gmime_init.h"
#include "lib/mime/utf8.h"

namespace lib::mime::detail {
namespace {

constexpr std::array<char32_t, 32> kC1 = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

std::string windows1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out.push_back(ch);
        } else if (b < 0xA0) {
            append_utf8(out, kC1[b - 0x80]);
        } else {
            append_utf8(out, b);
        }
    }
    return out;
}

std::string lower_trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '"')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '"')) s.remove_suffix(1);
    std::string out(s.substr(0, 64));
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool one_of(std::string_view value, std::initializer_list<std::string_view> names) {
    for (auto n : names) {
        if (n == value) return true;
    }
    return false;
}

std::string utf8_or_windows1252(std::string_view bytes) {
    return is_valid_utf8(bytes) ? std::string(bytes) : windows1252(bytes);
}

// Converts with iconv; false when the charset is unknown to it.
bool convert(std::string_view bytes, const std::string& charset, std::string& out) {
    ensure_gmime_init();
    const char* name = g_mime_charset_iconv_name(charset.c_str());
    iconv_t cd = iconv_open("UTF-8", name != nullptr ? name : charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.clear();
    std::string buffer(4096, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t in_left = bytes.size();
    const auto drain = [&](char* buf_start, char* buf_end) { out.append(buf_start, buf_end); };
    while (in_left > 0) {
        char* o = buffer.data();
        std::size_t o_left = buffer.size();
        const std::size_t r = iconv(cd, &in, &in_left, &o, &o_left);
        drain(buffer.data(), o);
        if (r != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        out += "\xEF\xBF\xBD";
        if (errno == EILSEQ) {
            ++in;
            --in_left;
            continue;
        }
        in_left = 0;  // EINVAL: an incomplete sequence at the end
    }
    char* o = buffer.data();
    std::size_t o_left = buffer.size();
    iconv(cd, nullptr, nullptr, &o, &o_left);
    drain(buffer.data(), o);
    iconv_close(cd);
    out = repair_utf8(out);
    return true;
}

}  // namespace

char32_t windows1252_c1(unsigned char byte) {
    if (byte < 0x80 || byte > 0x9F) return byte;
    return kC1[byte - 0x80];
}

std::string decode_to_utf8(std::string_view bytes, std::string_view charset) {
    const std::string cs = lower_trimmed(charset);
    if (cs.empty() || one_of(cs, {"us-ascii", "ascii", "ansi_x3.4-1968", "us", "unknown-8bit",
                                  "x-unknown", "default", "unknown", "8bit", "7bit"})) {
        return utf8_or_windows1252(bytes);
    }
    if (one_of(cs, {"utf-8", "utf8", "x-utf-8", "unicode-1-1-utf-8"})) return repair_utf8(bytes);
    if (one_of(cs, {"iso-8859-1", "iso8859-1", "iso_8859-1", "latin1", "latin-1", "l1", "cp819",
                    "windows-1252", "cp1252", "x-cp1252", "cp-1252"})) {
        return windows1252(bytes);
    }
    std::string out;
    if (convert(bytes, cs, out)) return out;
    return utf8_or_windows1252(bytes);
}

}  // namespace lib::mime::detail
