#include "state/message_id.h"

#include <sys/random.h>

#include <cerrno>
#include <random>

#include "state/text_rules.h"

namespace mail::state {
namespace {

constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;
constexpr std::uint64_t kSecondBasis = 0x0102030405060708ULL;

void fill_random(std::uint8_t* out, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = getrandom(out + got, n - got, 0);
        if (r > 0) {
            got += static_cast<std::size_t>(r);
        } else if (r < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    if (got < n) {
        // getrandom is missing or failing: the kernel's device through the
        // standard library is the fallback.
        std::random_device device;
        for (; got < n; ++got) out[got] = static_cast<std::uint8_t>(device());
    }
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_hyphen_position(std::size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

}  // namespace

std::uint64_t fnv1a64(std::string_view bytes, std::uint64_t offset_basis) {
    std::uint64_t h = offset_basis;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= kFnvPrime;
    }
    return h;
}

std::string MessageId::text() const {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        out.push_back(kHex[bytes[i] >> 4]);
        out.push_back(kHex[bytes[i] & 0x0F]);
    }
    return out;
}

std::optional<MessageId> MessageId::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    MessageId id;
    std::size_t byte = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (is_hyphen_position(i)) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        const int hi = hex_value(text[i]);
        const int lo = hex_value(text[i + 1]);
        if (hi < 0 || lo < 0 || is_hyphen_position(i + 1)) return std::nullopt;
        id.bytes[byte++] = static_cast<std::uint8_t>(hi * 16 + lo);
        i += 2;
    }
    return id;
}

MessageId MessageId::random() {
    MessageId id;
    fill_random(id.bytes.data(), id.bytes.size());
    id.bytes[6] = static_cast<std::uint8_t>((id.bytes[6] & 0x0F) | 0x40);
    id.bytes[8] = static_cast<std::uint8_t>((id.bytes[8] & 0x3F) | 0x80);
    return id;
}

MessageId MessageId::from_message_id(std::string_view header_value) {
    const std::string trimmed = trim_white_space(header_value);
    std::string_view rest = trimmed;
    while (!rest.empty() && rest.front() == '<') rest.remove_prefix(1);
    while (!rest.empty() && rest.back() == '>') rest.remove_suffix(1);
    if (rest.empty()) return random();
    const std::uint64_t first = fnv1a64(rest);
    const std::uint64_t second = fnv1a64(rest, kSecondBasis);
    MessageId id;
    for (int i = 0; i < 8; ++i) {
        id.bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(first >> (56 - 8 * i));
        id.bytes[static_cast<std::size_t>(8 + i)] = static_cast<std::uint8_t>(second >> (56 - 8 * i));
    }
    return id;
}

}  // namespace mail::state
