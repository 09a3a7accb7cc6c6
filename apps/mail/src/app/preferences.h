// Where the client keeps its own files in this run (StorageLocation), and the
// local preferences file "mail-local.json" that holds the composer's format.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "lib/base/result.h"

namespace mail::app {

inline constexpr std::string_view kPreferencesFileName = "mail-local.json";

class StorageLocation {
public:
    enum class Kind { ConfigRoot, Directory, None };

    // The per-user configuration root (the normal start).
    static StorageLocation config_root() { return StorageLocation(Kind::ConfigRoot, {}); }
    // An explicit directory (scene starts use a fresh temporary one).
    static StorageLocation directory(std::filesystem::path dir) { return StorageLocation(Kind::Directory, std::move(dir)); }
    // Nothing is read or written.
    static StorageLocation none() { return StorageLocation(Kind::None, {}); }

    Kind kind() const { return kind_; }
    // The directory files go to: the configuration root when there is one,
    // the given directory, or nothing.
    std::optional<std::filesystem::path> dir() const;

private:
    StorageLocation(Kind kind, std::filesystem::path dir) : kind_(kind), dir_(std::move(dir)) {}
    Kind kind_;
    std::filesystem::path dir_;
};

// The directory joined with "mail-local.json"; nothing without a directory.
std::optional<std::filesystem::path> preferences_path(const StorageLocation& location);

// True (plain text) exactly when the file reads as a JSON object whose
// "compose_format" is "text"; every problem gives false (HTML).
bool read_compose_format(const StorageLocation& location);

// Writes {"compose_format":"text"} or {"compose_format":"html"}, creating the
// directory first; succeeds without writing when there is no path.
lib::Status write_compose_format(const StorageLocation& location, bool plain_text);

}  // namespace mail::app
