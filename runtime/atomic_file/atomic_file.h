// Replacing a file in one step: readers see the old content or the new, never
// a mix, and a failure (or a crash) leaves the old file as it was.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "lib/base/result.h"

namespace runtime::atomic_file {

// Writes `bytes` to a new file beside `path`, created with permission bits
// exactly `mode` from the first moment (0600 keeps a secret private even while
// it is being written), flushes it to disk, renames it over `path` and flushes
// the directory. Missing parent directories are created with `dir_mode`.
// On failure the temporary file is removed and `path` is untouched. Leftovers
// of a crash are hidden files named ".<name>.tmp-<hex>" beside the target.
lib::Status write(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                  unsigned mode = 0644, unsigned dir_mode = 0700);
lib::Status write(const std::filesystem::path& path, std::string_view bytes, unsigned mode = 0644,
                  unsigned dir_mode = 0700);

// Creates `dir` and its missing parents with `dir_mode`; existing ones are left
// as they are.
lib::Status create_directories(const std::filesystem::path& dir, unsigned dir_mode = 0700);

// True for the names of this writer's temporary files.
bool is_temporary_name(std::string_view file_name);

}  // namespace runtime::atomic_file
