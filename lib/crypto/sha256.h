// SHA-256 digests.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "lib/base/result.h"

namespace lib::crypto {

using Sha256Digest = std::array<std::uint8_t, 32>;

// Fails only when the crypto library itself cannot run (e.g. out of memory).
Result<Sha256Digest> sha256(std::span<const std::uint8_t> bytes);
Result<Sha256Digest> sha256(std::string_view bytes);
// 64 lower-case hex characters.
Result<std::string> sha256_hex(std::string_view bytes);

}  // namespace lib::crypto
