#include "runtime/accounts/store.h"

#include <algorithm>

#include "lib/base/log.h"
#include "lib/base/places.h"
#include "runtime/accounts/files.h"
#include "runtime/atomic_file/atomic_file.h"

namespace runtime::accounts {
namespace {

using lib::json::Json;

constexpr int kFormatVersion = 1;

lib::Result<AccountRecord> read_record(const Json& j) {
    if (auto s = lib::json::expect_object(j, "an account record"); !s) return s.take_error();
    auto id = lib::json::string_field(j, "id");
    if (!id) return id.take_error();
    if (id->empty()) return lib::err("empty account id");
    auto type = lib::json::string_field(j, "type");
    if (!type) return type.take_error();
    if (type->empty()) return lib::err("empty account type");
    auto settings = lib::json::field(j, "settings");
    if (!settings) return settings.take_error();
    if (auto s = lib::json::expect_object(**settings); !s)
        return lib::err(s.error() + " at `settings`");

    AccountRecord r{AccountId(*id), AccountTypeId(*type), "", **settings, 0};
    if (j.contains("label")) {
        auto label = lib::json::string_field(j, "label");
        if (!label) return label.take_error();
        r.label = *label;
    }
    if (j.contains("attribute")) {
        auto a = lib::json::u64_field(j, "attribute");
        if (!a) return a.take_error();
        if (*a > 255) return lib::err("attribute out of range");
        r.attribute = static_cast<std::uint8_t>(*a);
    }
    return r;
}

}  // namespace

AccountStore AccountStore::load() {
    auto root = config_root();
    if (!root) return AccountStore{};
    return load_in(*root);
}

AccountStore AccountStore::load_in(const std::filesystem::path& dir) {
    AccountStore store;
    store.origin_ = dir;
    const auto path = dir / kAccountStoreFile;
    auto unreadable = [&](const std::string& why) {
        lib::log::warn("could not read the account store", {{"file", path.string()}, {"error", why}});
        store.records_.clear();
        store.active_.clear();
        store.unreadable_ = store.move_aside_pending_ = true;
        return store;
    };

    auto text = detail::read_if_exists(path);
    if (!text) return unreadable(text.error());
    if (!text->has_value()) return store;
    auto parsed = lib::json::parse_strict(**text);
    if (!parsed) return unreadable(parsed.error());
    const Json& top = *parsed;
    if (!top.is_object()) return unreadable("expected an object, found " + lib::json::type_name(top));
    if (top.contains("version")) {
        auto v = lib::json::u64_field(top, "version");
        if (!v) return unreadable(v.error());
        if (*v > static_cast<std::uint64_t>(kFormatVersion))
            return unreadable("written by a newer version (" + std::to_string(*v) + ")");
    }
    if (top.contains("accounts")) {
        const Json& list = top["accounts"];
        if (!list.is_array()) return unreadable("`accounts` is not an array");
        for (std::size_t i = 0; i < list.size(); ++i) {
            auto r = read_record(list[i]);
            std::string index = std::to_string(i);
            if (!r) {
                lib::log::warn("skipped an account record", {{"index", index}, {"error", r.error()}});
                continue;
            }
            if (store.find(r->type, r->id)) {
                lib::log::warn("skipped an account record",
                               {{"index", index}, {"error", "the same account twice"}, {"account", r->id.text()}});
                continue;
            }
            store.records_.push_back(std::move(*r));
        }
    }
    if (top.contains("active")) {
        const Json& active = top["active"];
        if (!active.is_object()) {
            lib::log::warn("ignored the active accounts", {{"error", "`active` is not an object"}});
        } else {
            for (const auto& [type, id] : active.items()) {
                if (!id.is_string()) continue;
                // Only an id that names a loaded record stays active.
                if (store.find(AccountTypeId(type), AccountId(id.get<std::string>())))
                    store.active_[type] = id.get<std::string>();
            }
        }
    }
    return store;
}

lib::Status AccountStore::save_in(const std::filesystem::path& dir) const {
    Json top = Json::object();
    top["version"] = kFormatVersion;
    Json list = Json::array();
    for (const auto& r : records_) {
        Json j = Json::object();
        j["id"] = r.id.text();
        j["type"] = r.type.text();
        j["label"] = r.label;
        j["settings"] = r.settings;
        j["attribute"] = r.attribute;
        list.push_back(std::move(j));
    }
    top["accounts"] = std::move(list);
    Json active = Json::object();
    for (const auto& [type, id] : active_) active[type] = id;
    top["active"] = std::move(active);

    std::string text = top.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    const auto path = dir / kAccountStoreFile;
    if (move_aside_pending_ && origin_ && *origin_ == dir) {
        detail::keep_unreadable_copy(path);
        move_aside_pending_ = false;
    }
    return atomic_file::write(path, text, 0600, 0700);
}

lib::Status AccountStore::save() const {
    if (!origin_) return {};
    return save_in(*origin_);
}

std::vector<AccountRecord> AccountStore::list(const AccountTypeId& type) const {
    std::vector<AccountRecord> out;
    for (const auto& r : records_)
        if (r.type == type) out.push_back(r);
    return out;
}

std::optional<AccountRecord> AccountStore::find(const AccountTypeId& type, const AccountId& id) const {
    for (const auto& r : records_)
        if (r.type == type && r.id == id) return r;
    return std::nullopt;
}

std::optional<AccountId> AccountStore::active_id(const AccountTypeId& type) const {
    auto it = active_.find(type.text());
    if (it == active_.end()) return std::nullopt;
    return AccountId(it->second);
}

void AccountStore::upsert(AccountRecord record) {
    if (!record.settings.is_object()) record.settings = lib::json::Json::object();
    for (auto& r : records_) {
        if (r.type == record.type && r.id == record.id) {
            r = std::move(record);
            return;
        }
    }
    records_.push_back(std::move(record));
}

std::size_t AccountStore::remove(const AccountTypeId& type, const AccountId& id) {
    auto before = records_.size();
    std::erase_if(records_, [&](const AccountRecord& r) { return r.type == type && r.id == id; });
    auto it = active_.find(type.text());
    if (it != active_.end() && it->second == id.text()) active_.erase(it);
    return before - records_.size();
}

std::size_t AccountStore::remove(const AccountId& id) {
    std::vector<AccountTypeId> types;
    for (const auto& r : records_)
        if (r.id == id && std::find(types.begin(), types.end(), r.type) == types.end()) types.push_back(r.type);
    std::size_t n = 0;
    for (const auto& t : types) n += remove(t, id);
    return n;
}

bool AccountStore::set_active(const AccountTypeId& type, const AccountId& id) {
    if (!find(type, id)) return false;
    active_[type.text()] = id.text();
    return true;
}

void AccountStore::clear_active(const AccountTypeId& type) { active_.erase(type.text()); }

}  // namespace runtime::accounts
