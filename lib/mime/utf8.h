// The MIME library's names for the shared UTF-8 helpers.
#pragma once

#include "lib/base/utf8.h"

namespace lib::mime::detail {

inline std::size_t decode_utf8(std::string_view text, std::size_t i, char32_t& out) {
    return lib::utf8::decode(text, i, out);
}
inline void append_utf8(std::string& out, char32_t c) { lib::utf8::append(out, c); }
inline bool is_valid_utf8(std::string_view text) { return lib::utf8::is_valid(text); }
inline std::string repair_utf8(std::string_view text) { return lib::utf8::repair(text); }

}  // namespace lib::mime::detail
