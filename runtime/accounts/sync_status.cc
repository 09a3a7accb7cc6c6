#include "runtime/accounts/sync_status.h"

#include <chrono>
#include <mutex>

#include "lib/base/log.h"
#include "lib/json/strict.h"
#include "runtime/accounts/files.h"
#include "runtime/atomic_file/atomic_file.h"

namespace runtime::accounts {
namespace {

using lib::json::Json;

// Reports from several threads of this process are read-modify-write cycles
// on one file; one at a time keeps them from losing each other's entries.
std::mutex g_file_mutex;

constexpr std::pair<SyncState, std::string_view> kNames[] = {
    {SyncState::started, "started"},
    {SyncState::succeeded, "succeeded"},
    {SyncState::offline, "offline"},
    {SyncState::needs_authentication, "needs_authentication"},
    {SyncState::failed, "failed"},
};

// The current file as an object; anything unreadable starts over, since the
// file holds nothing that cannot be recorded again.
Json read_document(const std::filesystem::path& path) {
    auto text = detail::read_if_exists(path);
    if (!text || !text->has_value()) return Json::object();
    auto parsed = lib::json::parse_strict(**text);
    if (!parsed || !parsed->is_object()) {
        lib::log::warn("replacing an unreadable sync status file", {{"file", path.string()}});
        return Json::object();
    }
    return std::move(*parsed);
}

}  // namespace

std::string_view sync_state_name(SyncState state) {
    for (const auto& [s, name] : kNames)
        if (s == state) return name;
    return "failed";
}

std::optional<SyncState> sync_state_from_name(std::string_view name) {
    for (const auto& [s, n] : kNames)
        if (n == name) return s;
    return std::nullopt;
}

AccountSyncReporter::AccountSyncReporter(AccountId id, std::optional<std::filesystem::path> root)
    : id_(std::move(id)), root_(std::move(root)) {}

AccountSyncReporter AccountSyncReporter::for_account(AccountId id) {
    return AccountSyncReporter(std::move(id), config_root());
}

lib::Status AccountSyncReporter::started() { return report(SyncState::started); }
lib::Status AccountSyncReporter::succeeded() { return report(SyncState::succeeded); }
lib::Status AccountSyncReporter::offline() { return report(SyncState::offline); }
lib::Status AccountSyncReporter::needs_authentication() { return report(SyncState::needs_authentication); }
lib::Status AccountSyncReporter::failed(std::optional<std::string> message) {
    return report(SyncState::failed, std::move(message));
}

lib::Status AccountSyncReporter::report(SyncState state, std::optional<std::string> message) {
    if (id_.empty() || !root_) return {};
    const auto path = *root_ / kSyncStatusFile;
    auto now = std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count();
    Json entry = Json::object();
    entry["state"] = sync_state_name(state);
    entry["at"] = static_cast<std::int64_t>(now);
    entry["message"] = message ? Json(*message) : Json(nullptr);

    std::lock_guard lock(g_file_mutex);
    Json doc = read_document(path);
    doc[id_.text()] = std::move(entry);
    std::string text = doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    return atomic_file::write(path, text, 0600, 0700);
}

void log_if_failed(const lib::Status& status, const AccountId& id) {
    if (status.ok()) return;
    lib::log::warn("could not persist sync status", {{"error", status.error()}, {"account", id.text()}});
}

std::map<std::string, SyncStatus> read_sync_statuses(const std::filesystem::path& root) {
    std::map<std::string, SyncStatus> out;
    std::lock_guard lock(g_file_mutex);
    Json doc = read_document(root / kSyncStatusFile);
    for (const auto& [id, e] : doc.items()) {
        if (!e.is_object()) continue;
        auto state = lib::json::string_field(e, "state");
        if (!state) continue;
        auto s = sync_state_from_name(*state);
        if (!s) continue;
        SyncStatus st{*s, 0, std::nullopt};
        if (e.contains("at") && e["at"].is_number_integer()) st.at = e["at"].get<std::int64_t>();
        if (e.contains("message") && e["message"].is_string()) st.message = e["message"].get<std::string>();
        out.emplace(id, std::move(st));
    }
    return out;
}

}  // namespace runtime::accounts
