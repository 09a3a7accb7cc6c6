// Message ids: 16 bytes with the layout and text form of a UUID, derived from
// the Message-ID header (so a message fetched twice keeps its id) or random.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace mail::state {

struct MessageId {
    std::array<std::uint8_t, 16> bytes{};

    // 36 characters, lower-case, hyphenated 8-4-4-4-12.
    std::string text() const;

    // Reads the hyphenated form (hex digits of either case); nullopt otherwise.
    static std::optional<MessageId> parse(std::string_view text);

    // A random version-4 UUID.
    static MessageId random();

    // The id of a message with this Message-ID header value: white space
    // trimmed, all leading '<' and trailing '>' removed, then two FNV-1a-64
    // hashes of the rest. An empty rest gives a random id.
    static MessageId from_message_id(std::string_view header_value);

    friend bool operator==(const MessageId&, const MessageId&) = default;
    friend std::strong_ordering operator<=>(const MessageId&, const MessageId&) = default;
};

// 64-bit FNV-1a with prime 0x100000001b3 and the given offset basis.
std::uint64_t fnv1a64(std::string_view bytes, std::uint64_t offset_basis = 0xcbf29ce484222325ULL);

}  // namespace mail::state

template <>
struct std::hash<mail::state::MessageId> {
    std::size_t operator()(const mail::state::MessageId& id) const noexcept {
        std::uint64_t h = 0;
        for (int i = 0; i < 8; ++i) h = (h << 8) | id.bytes[static_cast<std::size_t>(i)];
        std::uint64_t l = 0;
        for (int i = 8; i < 16; ++i) l = (l << 8) | id.bytes[static_cast<std::size_t>(i)];
        return static_cast<std::size_t>(h ^ (l * 0x9e3779b97f4a7c15ULL));
    }
};
