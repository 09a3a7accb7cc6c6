#include "runtime/accounts/vault.h"

#include <sys/stat.h>

#include "lib/base/log.h"
#include "lib/json/strict.h"
#include "runtime/accounts/files.h"
#include "runtime/atomic_file/atomic_file.h"

namespace runtime::accounts {
namespace {

using lib::json::Json;

constexpr int kFormatVersion = 1;

// Messages here name the problem, never the content: a parse error text can
// quote the bytes it choked on, which may be a password.
lib::Result<std::map<std::string, SecretEntry>> read_entries(const std::string& text) {
    auto parsed = lib::json::parse_strict(text);
    if (!parsed) return lib::err("not valid JSON");
    const Json& top = *parsed;
    if (!top.is_object()) return lib::err("expected an object");
    if (top.contains("version")) {
        const Json& v = top["version"];
        if (!v.is_number_unsigned() || v.get<std::uint64_t>() > static_cast<std::uint64_t>(kFormatVersion))
            return lib::err("unknown version");
    }
    std::map<std::string, SecretEntry> out;
    if (!top.contains("entries")) return out;
    const Json& entries = top["entries"];
    if (!entries.is_object()) return lib::err("`entries` is not an object");
    for (const auto& [id, e] : entries.items()) {
        if (!e.is_object() || !e.contains("password") || !e["password"].is_string() ||
            (e.contains("token") && !e["token"].is_string() && !e["token"].is_null())) {
            // The id is an account name, not a secret.
            lib::log::warn("skipped a vault entry", {{"account", id}, {"error", "unexpected shape"}});
            continue;
        }
        SecretEntry entry{e["password"].get<std::string>(), std::nullopt};
        if (e.contains("token") && e["token"].is_string()) entry.token = e["token"].get<std::string>();
        out.emplace(id, std::move(entry));
    }
    return out;
}

}  // namespace

SecretVault SecretVault::open() {
    auto root = config_root();
    if (!root) return SecretVault{};
    return open_in(*root);
}

SecretVault SecretVault::open_in(const std::filesystem::path& dir) {
    SecretVault vault;
    vault.dir_ = dir;
    const auto path = dir / kSecretVaultFile;

    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0) {
        ::chmod(path.c_str(), 0600);
        lib::log::warn("secret vault was readable by others; narrowed to the owner", {{"file", path.string()}});
    }

    auto text = detail::read_if_exists(path);
    if (!text) {
        lib::log::warn("could not read the secret vault", {{"file", path.string()}, {"error", text.error()}});
        vault.unreadable_ = vault.move_aside_pending_ = true;
        return vault;
    }
    if (!text->has_value()) return vault;
    auto entries = read_entries(**text);
    if (!entries) {
        lib::log::warn("could not read the secret vault", {{"file", path.string()}, {"error", entries.error()}});
        vault.unreadable_ = vault.move_aside_pending_ = true;
        return vault;
    }
    vault.entries_ = std::move(*entries);
    return vault;
}

std::optional<SecretEntry> SecretVault::get(const AccountId& id) const {
    auto it = entries_.find(id.text());
    if (it == entries_.end()) return std::nullopt;
    return it->second;
}

void SecretVault::put(const AccountId& id, SecretEntry entry) { entries_[id.text()] = std::move(entry); }

bool SecretVault::remove(const AccountId& id) { return entries_.erase(id.text()) > 0; }

lib::Status SecretVault::try_save() const {
    if (!dir_) return {};
    Json top = Json::object();
    top["version"] = kFormatVersion;
    Json entries = Json::object();
    for (const auto& [id, e] : entries_) {
        Json j = Json::object();
        j["password"] = e.password;
        if (e.token) j["token"] = *e.token;
        entries[id] = std::move(j);
    }
    top["entries"] = std::move(entries);
    std::string text;
    try {
        // Strict: a secret that is not UTF-8 must fail, not be silently altered.
        text = top.dump(2) + "\n";
    } catch (const std::exception&) {
        return lib::err("could not save the secret vault: a secret is not valid UTF-8 text");
    }
    const auto path = *dir_ / kSecretVaultFile;
    if (move_aside_pending_) {
        detail::keep_unreadable_copy(path);
        move_aside_pending_ = false;
    }
    return atomic_file::write(path, text, 0600, 0700);
}

}  // namespace runtime::accounts
