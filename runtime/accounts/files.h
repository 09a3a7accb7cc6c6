// File helpers shared inside runtime/accounts (not a public header).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "lib/base/result.h"

namespace runtime::accounts::detail {

// The whole file; none when it does not exist; an error when it cannot be read.
lib::Result<std::optional<std::string>> read_if_exists(const std::filesystem::path& path);

// Moves an unreadable file aside as "<name>.unreadable" (replacing an older
// one) so that the next save does not destroy what may still be recovered.
void keep_unreadable_copy(const std::filesystem::path& path);

}  // namespace runtime::accounts::detail
