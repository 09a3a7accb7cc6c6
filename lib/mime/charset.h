// Charset decoding for MIME text (internal to lib/mime; no GMime here).
#pragma once

#include <string>
#include <string_view>

namespace lib::mime::detail {

// windows-1252 code point of a byte 0x80–0x9F (U+FFFD for the five unused).
char32_t windows1252_c1(unsigned char byte);

// The bytes as UTF-8 text. A known charset is converted, with U+FFFD for
// each byte it cannot decode; an unknown or missing charset, or us-ascii, is
// read as UTF-8 when valid and as windows-1252 otherwise; iso-8859-1 and
// latin1 are read as windows-1252 (which only differs in 0x80–0x9F).
std::string decode_to_utf8(std::string_view bytes, std::string_view charset);

}  // namespace lib::mime::detail
