#include "doc/mailbox.h"

#include <cstddef>
#include <exception>
#include <utility>

#include <nlohmann/json.hpp>

#include "lib/json/strict.h"
#include "state/text_rules.h"

namespace mail::doc {
namespace {

using runtime::persist::Kind;
using runtime::persist::Path;

constexpr std::string_view kMessages = "messages";
constexpr std::string_view kFlags = "flags";
constexpr std::string_view kFolders = "folders";
constexpr std::string_view kDraft = "draft";

constexpr std::string_view kPresent = "present";
constexpr std::string_view kPurged = "purged";
constexpr std::string_view kRead = "read";
constexpr std::string_view kStarred = "starred";
constexpr std::string_view kFolder = "folder";
constexpr std::string_view kLabels = "labels";

constexpr std::string_view kDraftTo = "to";
constexpr std::string_view kDraftCc = "cc";
constexpr std::string_view kDraftBcc = "bcc";
constexpr std::string_view kDraftSubject = "subject";
constexpr std::string_view kDraftBody = "body";
constexpr std::string_view kDraftHtml = "html_body";
constexpr std::string_view kDraftCalendar = "calendar_ics";
constexpr std::string_view kDraftAttachments = "attachments";

Path message_path(std::string_view id) { return Path{kMessages, id}; }
Path flags_path(std::string_view id) { return Path{kFlags, id}; }
Path labels_path(std::string_view id) { return Path{kFlags, id, kLabels}; }
Path folders_path() { return Path{kFolders}; }
Path draft_path() { return Path{kDraft}; }

bool is_map(const Reader& d, const Path& path) { return d.kind(path) == Kind::map; }

// The compact JSON array of the (already normalised) entries; nothing when a
// text cannot be written as JSON.
std::optional<std::string> attachments_json(const std::vector<compose::DraftAttachment>& entries) {
    compose::DraftData holder;
    holder.attachments = entries;
    try {
        return compose::draft_to_json(holder).at("attachments").dump(-1, ' ', false,
                                                                     nlohmann::json::error_handler_t::strict);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::vector<compose::DraftAttachment> attachments_from_json(std::string_view text) {
    auto parsed = lib::json::parse_strict(text);
    if (!parsed.ok() || !parsed->is_array()) return {};
    // Read through the draft reader so entries follow the one JSON form.
    lib::json::Json holder = lib::json::Json::object();
    for (std::string_view key : {kDraftTo, kDraftCc, kDraftBcc, kDraftSubject, kDraftBody})
        holder[std::string(key)] = "";
    holder["attachments"] = std::move(parsed).value();
    auto draft = compose::draft_from_json(holder);
    if (!draft.ok()) return {};
    return compose::normalize_attachments(draft->attachments);
}

void dump_value(const Reader& d, const Path& path, lib::json::Json& out) {
    switch (d.kind(path).value_or(Kind::map)) {
        case Kind::map: {
            out = lib::json::Json::object();
            for (const std::string& key : d.keys(path)) {
                const Path child = path.child(key);
                const auto kind = d.kind(child);
                lib::json::Json& slot = out[state::repair_utf8(key)];
                if (kind == Kind::text) {
                    slot = state::repair_utf8(d.get_text(path, key).value_or(""));
                } else if (kind == Kind::boolean) {
                    slot = d.get_bool(path, key).value_or(false);
                } else {
                    dump_value(d, child, slot);
                }
            }
            break;
        }
        case Kind::list: {
            out = lib::json::Json::array();
            for (const std::string& text : d.list_texts(path)) out.push_back(state::repair_utf8(text));
            break;
        }
        case Kind::text:
        case Kind::boolean:
            // Scalars are written by their parent map.
            out = nullptr;
            break;
    }
}

}  // namespace

std::filesystem::path mailbox_file(const std::filesystem::path& dir) { return dir / kMailboxFileName; }

lib::Result<Doc> open_mailbox(const std::filesystem::path& dir) { return Doc::open(mailbox_file(dir)); }

// --- Messages ---------------------------------------------------------------

bool present(const Reader& d, std::string_view id) {
    const Path message = message_path(id);
    if (is_map(d, message)) {
        return d.get_bool(message, kPurged) != true && d.get_bool(message, kPresent) == true;
    }
    return is_map(d, flags_path(id));
}

void ensure_present(Tx& d, std::string_view id) {
    if (is_purged(d, id)) return;
    d.put_bool(message_path(id), kPresent, true);
    d.get_or_create_map(flags_path(id));
}

void purge(Tx& d, std::string_view id) {
    const Path message = message_path(id);
    d.put_bool(message, kPurged, true);
    d.put_bool(message, kPresent, false);
}

bool is_purged(const Reader& d, std::string_view id) { return d.get_bool(message_path(id), kPurged) == true; }

bool has_flags(const Reader& d, std::string_view id) { return is_map(d, flags_path(id)); }

std::optional<bool> get_read(const Reader& d, std::string_view id) { return d.get_bool(flags_path(id), kRead); }

std::optional<bool> get_starred(const Reader& d, std::string_view id) {
    return d.get_bool(flags_path(id), kStarred);
}

std::optional<state::FolderRole> get_folder(const Reader& d, std::string_view id) {
    const auto key = d.get_text(flags_path(id), kFolder);
    if (!key) return std::nullopt;
    return state::parse_folder_role_key(*key);
}

std::vector<std::string> get_labels(const Reader& d, std::string_view id) { return d.list_texts(labels_path(id)); }

void set_read(Tx& d, std::string_view id, bool read) { d.put_bool(flags_path(id), kRead, read); }

void set_starred(Tx& d, std::string_view id, bool starred) { d.put_bool(flags_path(id), kStarred, starred); }

void set_folder(Tx& d, std::string_view id, state::FolderRole folder) {
    d.put_text(flags_path(id), kFolder, state::folder_role_key(folder));
}

void add_label(Tx& d, std::string_view id, std::string_view label) {
    if (label.empty()) return;
    const Path labels = labels_path(id);
    d.get_or_create_list(labels);
    for (const std::string& existing : d.list_texts(labels))
        if (existing == label) return;
    d.list_append_text(labels, label);
}

void remove_label(Tx& d, std::string_view id, std::string_view label) {
    // A missing list has nothing to remove; it is not created just to stay empty.
    const Path labels = labels_path(id);
    const std::vector<std::string> existing = d.list_texts(labels);
    for (std::size_t i = 0; i < existing.size(); ++i) {
        if (existing[i] == label) {
            d.list_delete(labels, i);
            return;
        }
    }
}

// --- User folders -----------------------------------------------------------

void create_folder(Tx& d, std::string_view fid, std::string_view name) {
    if (fid.empty()) return;
    d.put_text(folders_path(), fid, name);
}

void rename_folder(Tx& d, std::string_view fid, std::string_view name) {
    if (!d.has(folders_path(), fid)) return;
    d.put_text(folders_path(), fid, name);
}

void delete_folder(Tx& d, std::string_view fid) {
    if (!d.has(folders_path(), fid)) return;
    d.delete_key(folders_path(), fid);
}

std::vector<state::UserFolder> list_folders(const Reader& d) {
    std::vector<state::UserFolder> out;
    const Path folders = folders_path();
    // keys() is already in ascending byte order.
    for (const std::string& fid : d.keys(folders)) {
        if (auto name = d.get_text(folders, fid)) out.push_back(state::UserFolder{fid, std::move(*name)});
    }
    return out;
}

// --- The draft slot ---------------------------------------------------------

void save_draft(Tx& d, const compose::DraftData& draft) {
    const Path slot = draft_path();
    d.put_text(slot, kDraftTo, draft.to);
    d.put_text(slot, kDraftCc, draft.cc);
    d.put_text(slot, kDraftBcc, draft.bcc);
    d.put_text(slot, kDraftSubject, draft.subject);
    d.put_text(slot, kDraftBody, draft.body);
    if (draft.html_body) d.put_text(slot, kDraftHtml, *draft.html_body);
    if (draft.calendar_ics) {
        d.put_text(slot, kDraftCalendar, *draft.calendar_ics);
    } else {
        d.delete_key(slot, kDraftCalendar);
    }
    if (auto json = attachments_json(compose::normalize_attachments(draft.attachments)))
        d.put_text(slot, kDraftAttachments, *json);
}

compose::DraftData load_draft(const Reader& d) {
    const Path slot = draft_path();
    compose::DraftData draft;
    draft.to = d.get_text(slot, kDraftTo).value_or("");
    draft.cc = d.get_text(slot, kDraftCc).value_or("");
    draft.bcc = d.get_text(slot, kDraftBcc).value_or("");
    draft.subject = d.get_text(slot, kDraftSubject).value_or("");
    draft.body = d.get_text(slot, kDraftBody).value_or("");
    draft.html_body = d.get_text(slot, kDraftHtml);
    if (auto ics = d.get_text(slot, kDraftCalendar); ics && compose::is_invitation_request(*ics))
        draft.calendar_ics = std::move(ics);
    if (auto json = d.get_text(slot, kDraftAttachments)) draft.attachments = attachments_from_json(*json);
    return draft;
}

void discard_draft(Tx& d) {
    const Path slot = draft_path();
    for (std::string_view key : {kDraftTo, kDraftCc, kDraftBcc, kDraftSubject, kDraftBody, kDraftHtml,
                                 kDraftCalendar, kDraftAttachments})
        d.delete_key(slot, key);
}

// --- Whole document ---------------------------------------------------------

std::string dump_json(const Reader& d) {
    lib::json::Json root;
    dump_value(d, Path{}, root);
    return lib::json::dump(root);
}

}  // namespace mail::doc
