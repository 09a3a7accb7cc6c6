// UTF-8 helpers shared by every library: strict decoding (no overlongs, no
// surrogates, nothing above U+10FFFF) and repair of damaged text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lib::utf8 {

// Decodes one well-formed sequence at text[i] into `out`; returns its length,
// or 0 when the byte at i starts none.
std::size_t decode(std::string_view text, std::size_t i, char32_t& out);
// Appends a code point; surrogates and values above U+10FFFF become U+FFFD.
void append(std::string& out, char32_t c);
bool is_valid(std::string_view text);
// Each byte outside a well-formed sequence becomes U+FFFD.
std::string repair(std::string_view text);

}  // namespace lib::utf8
