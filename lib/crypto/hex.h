// Lower-case hexadecimal text for byte strings.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lib::crypto {

// Two lower-case hex digits per byte.
std::string to_hex(std::span<const std::uint8_t> bytes);

// Reads hex text of even length (either case); none for anything else.
std::optional<std::vector<std::uint8_t>> from_hex(std::string_view text);

// Bytes of a text, without copying.
inline std::span<const std::uint8_t> as_bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace lib::crypto
