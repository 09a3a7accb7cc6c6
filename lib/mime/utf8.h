// UTF-8 helpers for the MIME library (internal to lib/mime).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lib::mime::detail {

// Decodes one well-formed sequence at text[i] into `out`; returns its length,
// or 0 when the byte at i starts none.
std::size_t decode_utf8(std::string_view text, std::size_t i, char32_t& out);
void append_utf8(std::string& out, char32_t c);
bool is_valid_utf8(std::string_view text);
// Each byte outside a well-formed sequence becomes U+FFFD.
std::string repair_utf8(std::string_view text);

}  // namespace lib::mime::detail
