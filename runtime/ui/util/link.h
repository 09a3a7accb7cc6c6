// Which links the program hands to the desktop to open.
#pragma once

#include <string_view>

#include "lib/base/result.h"

namespace runtime::ui::link {

// Links longer than this are refused.
inline constexpr std::size_t kMaxLinkLength = 32 * 1024;

// Accepts only absolute http:// and https:// links with a host, and mailto:
// links with something after the colon (schemes in any case). Refuses empty
// text, white space, control characters, and anything longer than the limit.
// Messages: "only http, https and mailto links can be opened",
// "link has no host", "link has no address", "link contains spaces or control characters",
// "link is empty", "link is too long".
lib::Status check_openable(std::string_view url);

}  // namespace runtime::ui::link
