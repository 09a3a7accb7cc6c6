#include "runtime/ui/util/format.h"

namespace runtime::ui::format {

std::string bytes(std::uint64_t count) {
    static constexpr const char* kUnits[] = {"B", "KB", "MB", "GB", "TB", "PB", "EB"};
    constexpr int kLast = 6;
    if (count < 1024) return std::to_string(count) + " B";

    __extension__ typedef unsigned __int128 u128;
    int unit = 1;
    u128 scale = 1024;
    while (unit < kLast && u128(count) >= scale * 1024) {
        scale *= 1024;
        ++unit;
    }
    const u128 n = count;
    // Tenths, rounded half up.
    const u128 tenths = (n * 10 + scale / 2) / scale;
    if (tenths < 100) {
        return std::to_string(static_cast<unsigned>(tenths / 10)) + "." +
               std::to_string(static_cast<unsigned>(tenths % 10)) + " " + kUnits[unit];
    }
    u128 whole = (n + scale / 2) / scale;
    if (whole >= 1024 && unit < kLast) {
        // 1023.5 KB and above read as the next unit; at that size the value is 1.0.
        ++unit;
        return std::string("1.0 ") + kUnits[unit];
    }
    return std::to_string(static_cast<std::uint64_t>(whole)) + " " + kUnits[unit];
}

}  // namespace runtime::ui::format
