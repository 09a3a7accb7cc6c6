// Small text formatters shared by the widgets and the client.
#pragma once

#include <cstdint>
#include <string>

namespace runtime::ui::format {

// A byte count as text, in 1024-based units: below 1024 the exact count
// ("0 B", "512 B"); from there the largest unit (KB, MB, GB, TB, PB, EB) that
// keeps the number at 1 or more, with one decimal below 10 ("1.0 KB",
// "1.5 KB", "9.9 MB") and none from 10 on ("10 KB", "12 MB", "1023 KB").
// Rounding is half up and never shows "1024": 1,048,575 bytes read "1.0 MB".
std::string bytes(std::uint64_t count);

}  // namespace runtime::ui::format
