// The local mailbox document: what the user decided about their mail that the
// server does not hold for them (yet). Message records are not stored here,
// only the decisions about them, keyed by the message id text.
//
// Layout (all keys are texts):
//   "messages" / id / "present"   boolean  the message is known to exist
//   "messages" / id / "purged"    boolean  permanently deleted; stays true
//   "flags" / id / "read"         boolean
//   "flags" / id / "starred"      boolean
//   "flags" / id / "folder"       text     a folder role key ("inbox", ...)
//   "flags" / id / "labels"       list of texts, in the order added, no repeats
//   "folders" / folder id         text     user folder name
//   "draft" / "to" "cc" "bcc" "subject" "body"   texts
//   "draft" / "html_body"         text     only once a draft with HTML was saved
//   "draft" / "calendar_ics"      text     only while the draft has an invitation
//   "draft" / "attachments"       text     compact JSON array of attachment entries
//
// Reads never fail: a missing value, or one of another type, reads as absent.
// Writes take a Tx, so they only happen inside one Doc::change.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compose/draft.h"
#include "lib/base/result.h"
#include "runtime/persist/document.h"
#include "state/mail.h"

namespace mail::doc {

using runtime::persist::Doc;
using runtime::persist::Reader;
using runtime::persist::Tx;

// The file that holds the mailbox document inside the client's data folder.
inline constexpr std::string_view kMailboxFileName = "mailbox.sqlite";

// dir / kMailboxFileName
std::filesystem::path mailbox_file(const std::filesystem::path& dir);
// Opens (creating when missing) the mailbox document kept in dir.
lib::Result<Doc> open_mailbox(const std::filesystem::path& dir);

// --- Messages ---------------------------------------------------------------

// With a "messages" entry: present and not purged. Without one: true exactly
// when the message has a "flags" entry.
bool present(const Reader& d, std::string_view id);
// Unless purged: marks the message present and makes sure it has a "flags"
// entry.
void ensure_present(Tx& d, std::string_view id);
// Permanently deleted: purged, no longer present.
void purge(Tx& d, std::string_view id);
bool is_purged(const Reader& d, std::string_view id);

// Whether "flags"/id exists (as a map).
bool has_flags(const Reader& d, std::string_view id);

std::optional<bool> get_read(const Reader& d, std::string_view id);
std::optional<bool> get_starred(const Reader& d, std::string_view id);
// Absent when missing or when the text is not a role key.
std::optional<state::FolderRole> get_folder(const Reader& d, std::string_view id);
// Empty when missing.
std::vector<std::string> get_labels(const Reader& d, std::string_view id);

void set_read(Tx& d, std::string_view id, bool read);
void set_starred(Tx& d, std::string_view id, bool starred);
void set_folder(Tx& d, std::string_view id, state::FolderRole folder);
// Appends label unless it is empty or already in the list.
void add_label(Tx& d, std::string_view id, std::string_view label);
// Removes the first element equal to label, if any.
void remove_label(Tx& d, std::string_view id, std::string_view label);

// --- User folders -----------------------------------------------------------

// Sets the name (overwriting); nothing when fid is empty.
void create_folder(Tx& d, std::string_view fid, std::string_view name);
// Sets the name only when the folder exists.
void rename_folder(Tx& d, std::string_view fid, std::string_view name);
// Removes the folder when it exists.
void delete_folder(Tx& d, std::string_view fid);
// Every folder whose value is a text, by id in ascending byte order.
std::vector<state::UserFolder> list_folders(const Reader& d);

// --- The draft slot ---------------------------------------------------------

// Writes the five texts; "html_body" only when the draft has one (an earlier
// HTML body is otherwise kept); "calendar_ics" when present, else removed;
// the attachment list normalised, as compact JSON (left as it was when it
// cannot be written).
void save_draft(Tx& d, const compose::DraftData& draft);
// Missing texts read as empty; an invitation that fails the check is dropped;
// an unreadable attachment text gives no attachments; the list is normalised.
compose::DraftData load_draft(const Reader& d);
// Removes the eight draft keys.
void discard_draft(Tx& d);

// --- Whole document ---------------------------------------------------------

// The whole tree as compact JSON: maps as objects with keys in byte order,
// lists as arrays, texts as strings, booleans as booleans. Bytes that are not
// valid UTF-8 are written as U+FFFD.
std::string dump_json(const Reader& d);

}  // namespace mail::doc
