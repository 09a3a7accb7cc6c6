// Base64 in two alphabets: the standard one with "=" padding, and the URL-safe
// one without padding (as used in OAuth PKCE and JWT parts). Decoding is strict:
// no white space, no characters outside the alphabet, padding only where the
// form requires it, and no stray bits in the last character.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lib/base/result.h"

namespace lib::crypto {

std::string base64_encode(std::span<const std::uint8_t> bytes);
std::string base64_encode(std::string_view bytes);
Result<std::vector<std::uint8_t>> base64_decode(std::string_view text);

std::string base64url_encode(std::span<const std::uint8_t> bytes);
std::string base64url_encode(std::string_view bytes);
Result<std::vector<std::uint8_t>> base64url_decode(std::string_view text);

}  // namespace lib::crypto
