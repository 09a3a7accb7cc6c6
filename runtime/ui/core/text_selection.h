// Character-cluster and word boundaries in UTF-8 text, as a person sees them:
// "é" written as e + combining accent, a flag or a family emoji are one step
// of the caret and one Backspace. Offsets are byte offsets; every function
// accepts any offset and clamps it to the text. Text that is not valid UTF-8
// is stepped one broken byte at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace runtime::ui::text_selection {

// Every caret position of the text in order, 0 and text.size() included.
std::vector<std::size_t> grapheme_boundaries(std::string_view text);

// The next caret position after `offset` (text.size() at the end).
std::size_t next_grapheme(std::string_view text, std::size_t offset);
// The caret position before `offset` (0 at the start).
std::size_t prev_grapheme(std::string_view text, std::size_t offset);
// The caret position at or before `offset`.
std::size_t floor_grapheme(std::string_view text, std::size_t offset);

// The end of the word at or after `offset` (Ctrl+Right).
std::size_t next_word_end(std::string_view text, std::size_t offset);
// The start of the word before `offset` (Ctrl+Left, Ctrl+Backspace).
std::size_t prev_word_start(std::string_view text, std::size_t offset);
// The word under `offset` (a double click), or an empty range at the caret
// position when there is none.
std::pair<std::size_t, std::size_t> word_at(std::string_view text, std::size_t offset);

// Conversions between byte offsets and counts of Unicode scalar values.
std::size_t byte_to_char(std::string_view text, std::size_t byte_offset);
std::size_t char_to_byte(std::string_view text, std::size_t char_offset);

}  // namespace runtime::ui::text_selection
