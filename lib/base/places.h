// Where the client keeps its files on a normal start.
#pragma once

#include <filesystem>
#include <optional>

namespace lib::places {

// $XDG_CONFIG_HOME/zelk-mail, else ~/.config/zelk-mail; none without a home.
// Accounts, the secret vault, sync status and local preferences live here.
std::optional<std::filesystem::path> config_root();

// $XDG_DATA_HOME/zelk-mail, else ~/.local/share/zelk-mail; none without a home.
// The mailbox document and the blob store live here.
std::optional<std::filesystem::path> data_root();

}  // namespace lib::places
