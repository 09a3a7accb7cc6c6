// Text rules shared by the client: UTF-8 repair, white-space trimming, control
// character removal and cutting to a number of characters. A "character" is a
// Unicode code point; cutting never splits one. Invalid UTF-8 input is first
// repaired (each invalid byte becomes U+FFFD), so every result is valid UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mail::state {

inline constexpr std::size_t kMaxLabelChars = 128;
inline constexpr std::size_t kMaxFolderNameChars = 96;

// True for U+0000–U+001F and U+007F–U+009F.
bool is_control_character(char32_t c);
// Unicode White_Space (ASCII blanks, U+0085, U+00A0, U+1680, U+2000–U+200A,
// U+2028, U+2029, U+202F, U+205F, U+3000).
bool is_white_space(char32_t c);

// Whether the bytes are well-formed UTF-8 (no overlongs, surrogates or values
// past U+10FFFF).
bool is_valid_utf8(std::string_view text);
// The text with each byte that is not part of a well-formed sequence replaced
// by U+FFFD.
std::string repair_utf8(std::string_view text);

// Number of code points (after repair).
std::size_t count_characters(std::string_view text);
// The first `max_chars` code points (after repair).
std::string take_characters(std::string_view text, std::size_t max_chars);
// Leading and trailing white space removed (after repair).
std::string trim_white_space(std::string_view text);

enum class LineBreaks { drop, keep };

// Trims white space, drops control characters (with LineBreaks::keep, tab,
// line feed and carriage return stay), trims again, keeps at most `max_chars`
// characters and trims the end of what is kept. The second trim means a value
// like "\x01 name" becomes "name", not " name".
std::string normalize_text(std::string_view text, std::size_t max_chars,
                           LineBreaks line_breaks = LineBreaks::drop);

// normalize_text with 128 characters; an empty result is no label.
std::string normalize_label(std::string_view text);
// normalize_text with 96 characters; an empty result is no name.
std::string normalize_folder_name(std::string_view text);

}  // namespace mail::state
