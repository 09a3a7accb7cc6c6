// Opening a link in the user's default application (the browser for web
// links, the mail program for mailto:).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "lib/base/result.h"

namespace runtime::ui::link {

// Checks the link (runtime/ui/util/link.h: only http, https and mailto) and
// asks the desktop to open it. The error is the check's message or the
// desktop's own text (e.g. "Operation not supported" without a browser).
// Callable from any thread; it does not wait for the browser.
lib::Status try_os_open(std::string_view url);

// Process-wide, for tests: receives every link that passed the check instead
// of the desktop. An empty function removes it.
void set_test_opener(std::function<lib::Status(const std::string&)> opener);

}  // namespace runtime::ui::link
