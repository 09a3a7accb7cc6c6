#include "runtime/ui/core/input.h"

namespace runtime::ui {

bool KeyEvent::is(std::string_view name) const {
    if (name.size() != key.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char a = key[i];
        char b = name[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

}  // namespace runtime::ui
