// Randomness from the operating system's generator, and version 4 UUIDs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "lib/base/result.h"

namespace lib::crypto {

using Uuid = std::array<std::uint8_t, 16>;

// Fills the buffer with cryptographically strong random bytes.
Status fill_random(std::span<std::uint8_t> out);
Result<std::vector<std::uint8_t>> random_bytes(std::size_t count);

// 16 random bytes with the version (4) and variant (10xx) bits set.
Result<Uuid> random_uuid_v4_bytes();
// "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx" in lower case.
Result<std::string> random_uuid_v4();

// The hyphenated lower-case text of 16 bytes.
std::string format_uuid(const Uuid& bytes);

}  // namespace lib::crypto
