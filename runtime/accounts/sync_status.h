// The last known sync state of each account, kept in "sync-status.json" in the
// configuration root as {"<account id>": {"state", "at", "message"}}.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "lib/base/result.h"
#include "runtime/accounts/ids.h"

namespace runtime::accounts {

inline constexpr const char* kSyncStatusFile = "sync-status.json";

enum class SyncState { started, succeeded, offline, needs_authentication, failed };

// "started", "succeeded", "offline", "needs_authentication", "failed".
std::string_view sync_state_name(SyncState state);
std::optional<SyncState> sync_state_from_name(std::string_view name);

struct SyncStatus {
    SyncState state = SyncState::started;
    std::int64_t at = 0;  // seconds since the Unix epoch
    std::optional<std::string> message;

    bool operator==(const SyncStatus&) const = default;
};

class AccountSyncReporter {
public:
    // With no root nothing is written and every report succeeds.
    AccountSyncReporter(AccountId id, std::optional<std::filesystem::path> root);
    // For the configuration root.
    static AccountSyncReporter for_account(AccountId id);

    // Each records the account's state now. Nothing is written (and the
    // result is success) for an empty id or without a root.
    lib::Status started();
    lib::Status succeeded();
    lib::Status offline();
    lib::Status needs_authentication();
    lib::Status failed(std::optional<std::string> message = std::nullopt);
    lib::Status report(SyncState state, std::optional<std::string> message = std::nullopt);

    const AccountId& id() const { return id_; }

private:
    AccountId id_;
    std::optional<std::filesystem::path> root_;
};

// For callers that carry on regardless: logs a failed report as
// "could not persist sync status" with the error and the account.
void log_if_failed(const lib::Status& status, const AccountId& id);

// Everything recorded under a root (unreadable entries are left out).
std::map<std::string, SyncStatus> read_sync_statuses(const std::filesystem::path& root);

}  // namespace runtime::accounts
