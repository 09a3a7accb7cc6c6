#include "lib/crypto/base64.h"

#include <array>

#include "lib/crypto/hex.h"

namespace lib::crypto {
namespace {

constexpr char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrl[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string encode(std::span<const std::uint8_t> in, const char* alphabet, bool pad) {
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= in.size(); i += 3) {
        std::uint32_t v = std::uint32_t{in[i]} << 16 | std::uint32_t{in[i + 1]} << 8 | in[i + 2];
        out += alphabet[v >> 18 & 63];
        out += alphabet[v >> 12 & 63];
        out += alphabet[v >> 6 & 63];
        out += alphabet[v & 63];
    }
    std::size_t rest = in.size() - i;
    if (rest == 1) {
        std::uint32_t v = std::uint32_t{in[i]} << 16;
        out += alphabet[v >> 18 & 63];
        out += alphabet[v >> 12 & 63];
        if (pad) out += "==";
    } else if (rest == 2) {
        std::uint32_t v = std::uint32_t{in[i]} << 16 | std::uint32_t{in[i + 1]} << 8;
        out += alphabet[v >> 18 & 63];
        out += alphabet[v >> 12 & 63];
        out += alphabet[v >> 6 & 63];
        if (pad) out += '=';
    }
    return out;
}

std::array<int, 256> table_for(const char* alphabet) {
    std::array<int, 256> t{};
    t.fill(-1);
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(alphabet[i])] = i;
    return t;
}

// Decodes unpadded text in the given alphabet.
Result<std::vector<std::uint8_t>> decode_unpadded(std::string_view text, const std::array<int, 256>& table,
                                                  std::string_view what) {
    if (text.size() % 4 == 1) return err("invalid " + std::string(what) + ": wrong length");
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        int v = table[static_cast<unsigned char>(c)];
        if (v < 0) return err("invalid " + std::string(what) + ": unexpected character");
        acc = (acc << 6 | static_cast<std::uint32_t>(v)) & 0xffffff;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(acc >> bits & 0xff));
        }
    }
    // Leftover bits (2 or 4) must be zero, or two texts would decode the same.
    if (bits > 0 && (acc & ((1u << bits) - 1)) != 0)
        return err("invalid " + std::string(what) + ": stray bits at the end");
    return out;
}

}  // namespace

std::string base64_encode(std::span<const std::uint8_t> bytes) { return encode(bytes, kStandard, true); }
std::string base64_encode(std::string_view bytes) { return base64_encode(as_bytes(bytes)); }
std::string base64url_encode(std::span<const std::uint8_t> bytes) { return encode(bytes, kUrl, false); }
std::string base64url_encode(std::string_view bytes) { return base64url_encode(as_bytes(bytes)); }

Result<std::vector<std::uint8_t>> base64_decode(std::string_view text) {
    static const std::array<int, 256> table = table_for(kStandard);
    if (text.size() % 4 != 0) return err("invalid base64: wrong length");
    std::string_view body = text;
    if (!body.empty() && body.back() == '=') body.remove_suffix(1);
    if (!body.empty() && body.back() == '=') body.remove_suffix(1);
    return decode_unpadded(body, table, "base64");
}

Result<std::vector<std::uint8_t>> base64url_decode(std::string_view text) {
    static const std::array<int, 256> table = table_for(kUrl);
    return decode_unpadded(text, table, "base64url");
}

}  // namespace lib::crypto
