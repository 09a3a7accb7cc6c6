#include "runtime/ui/util/uri.h"

namespace runtime::ui::uri {

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string decode_component(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return sanitize_utf8(out);
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

}  // namespace

std::string sanitize_utf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    const std::size_t n = s.size();
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    while (i < n) {
        const unsigned char b = byte(i);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            ++i;
            continue;
        }
        // Length and the allowed range of the second byte (Unicode table 3-7).
        std::size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
        } else if (b == 0xE0) {
            len = 3, lo = 0xA0;
        } else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) {
            len = 3;
        } else if (b == 0xED) {
            len = 3, hi = 0x9F;
        } else if (b == 0xF0) {
            len = 4, lo = 0x90;
        } else if (b >= 0xF1 && b <= 0xF3) {
            len = 4;
        } else if (b == 0xF4) {
            len = 4, hi = 0x8F;
        }
        if (len == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        // Take as many valid bytes as the sequence allows; a shortfall replaces
        // the valid prefix as one unit and resumes at the offending byte.
        std::size_t k = 1;
        for (; k < len && i + k < n; ++k) {
            const unsigned char c = byte(i + k);
            const unsigned char l = k == 1 ? lo : 0x80;
            const unsigned char h = k == 1 ? hi : 0xBF;
            if (c < l || c > h) break;
        }
        if (k == len) {
            out.append(s.substr(i, len));
        } else {
            out += kReplacement;
        }
        i += k;
    }
    return out;
}

FormPairs parse_form_query(std::string_view query) {
    FormPairs pairs;
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string_view::npos) end = query.size();
        const std::string_view piece = query.substr(start, end - start);
        if (!piece.empty()) {
            const std::size_t eq = piece.find('=');
            if (eq == std::string_view::npos) {
                pairs.emplace_back(decode_component(piece), std::string());
            } else {
                pairs.emplace_back(decode_component(piece.substr(0, eq)),
                                   decode_component(piece.substr(eq + 1)));
            }
        }
        start = end + 1;
    }
    return pairs;
}

std::optional<std::string> last_value(const FormPairs& pairs, std::string_view key) {
    for (auto it = pairs.rbegin(); it != pairs.rend(); ++it) {
        if (it->first == key) return it->second;
    }
    return std::nullopt;
}

namespace {

void encode_into(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '*') {
            out.push_back(static_cast<char>(c));
        } else if (c == ' ') {
            out.push_back('+');
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
}

}  // namespace

std::string encode_form_query(const FormPairs& pairs) {
    std::string out;
    for (const auto& [key, value] : pairs) {
        if (!out.empty()) out.push_back('&');
        encode_into(out, key);
        out.push_back('=');
        encode_into(out, value);
    }
    return out;
}

}  // namespace runtime::ui::uri
