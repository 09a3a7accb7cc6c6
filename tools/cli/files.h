// Reading a named file (or "-" for standard input) whole, with a size cap, for
// the commands of zelk-mail-cli.
#pragma once

#include <cstddef>
#include <string>

namespace tools::cli {

struct ReadResult {
    bool ok = false;
    bool too_large = false;  // stopped at the cap; bytes holds what was read
    std::string bytes;
    std::string error;  // strerror text when !ok
};

ReadResult read_file(const std::string& path, std::size_t max_bytes);

}  // namespace tools::cli
