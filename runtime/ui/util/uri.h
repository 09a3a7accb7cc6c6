// Form URL encoding (application/x-www-form-urlencoded), as found in query
// strings such as the one of an OAuth redirect.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace runtime::ui::uri {

using FormPairs = std::vector<std::pair<std::string, std::string>>;

// Splits a query (the text after "?", without it) at "&" into key/value pairs
// in their order. Empty pieces are skipped; a piece without "=" is a key with
// an empty value; only the first "=" separates. "+" reads as a space and %XX
// (either case of hex digit) as that byte; a "%" not followed by two hex
// digits stays as it is. Decoded bytes that are not valid UTF-8 are replaced
// with U+FFFD, so every key and value is valid UTF-8.
FormPairs parse_form_query(std::string_view query);

// The value of the LAST pair with this key, or none.
std::optional<std::string> last_value(const FormPairs& pairs, std::string_view key);

// The reverse: "k=v&k2=v2", with every byte outside A-Z a-z 0-9 "-._*"
// percent-encoded (upper-case hex) and spaces written as "+".
std::string encode_form_query(const FormPairs& pairs);

// Replaces every maximal invalid UTF-8 sequence (overlong forms, surrogates,
// values above U+10FFFF, truncated sequences, stray continuation bytes) with
// U+FFFD; valid text is returned unchanged.
std::string sanitize_utf8(std::string_view bytes);

}  // namespace runtime::ui::uri
