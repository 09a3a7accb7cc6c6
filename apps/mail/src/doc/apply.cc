#include "doc/apply.h"

#include <cstdint>
#include <unordered_set>
#include <variant>

#include "compose/draft.h"
#include "state/text_rules.h"

namespace mail::doc {
namespace {

bool id_fits(std::string_view id) { return state::count_characters(id) <= kMaxIdChars; }

class Applier {
public:
    explicit Applier(Tx& d) : d_(d) {}

    lib::Status operator()(const actions::SetRead& a) {
        for (const std::string& id : present_ids(a.ids)) set_read(d_, id, a.read);
        return lib::ok_status();
    }
    lib::Status operator()(const actions::SetStarred& a) {
        for (const std::string& id : present_ids(a.ids)) set_starred(d_, id, a.starred);
        return lib::ok_status();
    }
    lib::Status operator()(const actions::Move& a) {
        const auto role = state::parse_folder_role_key(a.folder);
        if (!role) return lib::ok_status();
        for (const std::string& id : present_ids(a.ids)) set_folder(d_, id, *role);
        return lib::ok_status();
    }
    lib::Status operator()(const actions::Purge& a) {
        const std::vector<std::string> ids = clean_ids(a.ids);
        if (ids.empty()) return lib::err(std::string(kPurgeNeedsTrash));
        for (const std::string& id : ids) {
            if (!present(d_, id) || get_folder(d_, id) != state::FolderRole::Trash)
                return lib::err(std::string(kPurgeNeedsTrash));
        }
        for (const std::string& id : ids) purge(d_, id);
        return lib::ok_status();
    }
    lib::Status operator()(const actions::AddLabel& a) {
        const std::string label = state::normalize_label(a.label);
        if (label.empty()) return lib::ok_status();
        for (const std::string& id : present_ids(a.ids)) add_label(d_, id, label);
        return lib::ok_status();
    }
    lib::Status operator()(const actions::RemoveLabel& a) {
        const std::string label = state::normalize_label(a.label);
        if (label.empty()) return lib::ok_status();
        for (const std::string& id : present_ids(a.ids)) remove_label(d_, id, label);
        return lib::ok_status();
    }
    lib::Status operator()(const actions::CreateFolder& a) {
        const std::string name = state::normalize_folder_name(a.name);
        if (state::is_acceptable_user_folder_id(a.id) && !name.empty()) create_folder(d_, a.id, name);
        return lib::ok_status();
    }
    lib::Status operator()(const actions::RenameFolder& a) {
        const std::string name = state::normalize_folder_name(a.name);
        if (state::is_acceptable_user_folder_id(a.id) && !name.empty()) rename_folder(d_, a.id, name);
        return lib::ok_status();
    }
    lib::Status operator()(const actions::DeleteFolder& a) {
        if (state::is_acceptable_user_folder_id(a.id)) delete_folder(d_, a.id);
        return lib::ok_status();
    }
    lib::Status operator()(const actions::SaveDraft& a) {
        save_draft(d_, compose::normalize_draft(a.draft));
        return lib::ok_status();
    }
    lib::Status operator()(const actions::DiscardDraft&) {
        discard_draft(d_);
        return lib::ok_status();
    }

private:
    std::vector<std::string> present_ids(const std::vector<std::string>& ids) const {
        std::vector<std::string> out;
        for (std::string& id : clean_ids(ids))
            if (present(d_, id)) out.push_back(std::move(id));
        return out;
    }

    Tx& d_;
};

}  // namespace

std::vector<std::string> clean_ids(const std::vector<std::string>& ids) {
    std::vector<std::string> out;
    std::unordered_set<std::string> seen;
    for (const std::string& raw : ids) {
        if (out.size() == kMaxActionIds) break;
        std::string id = state::trim_white_space(raw);
        if (id.empty() || !id_fits(id) || seen.count(id)) continue;
        seen.insert(id);
        out.push_back(std::move(id));
    }
    return out;
}

lib::Status apply_action(Tx& d, const actions::MailAction& action) { return std::visit(Applier{d}, action); }

lib::Status apply_action(Doc& d, const actions::MailAction& action) {
    return d.change([&](Tx& tx) { return apply_action(tx, action); });
}

}  // namespace mail::doc
