#include "doc/reflect.h"

#include <string>
#include <utility>

#include "state/text_rules.h"

namespace mail::doc {
namespace {

void keep_first_error(lib::Status& status, lib::Status next) {
    if (status.ok() && !next.ok()) status = std::move(next);
}

// Copies the document's decisions into the record; true when any changed.
bool apply_flags(const Reader& d, state::MailMessage& message) {
    const std::string id = message.id.text();
    if (!has_flags(d, id)) return false;
    bool changed = false;
    if (auto read = get_read(d, id); read && *read != message.read) {
        message.read = *read;
        changed = true;
    }
    if (auto starred = get_starred(d, id); starred && *starred != message.starred) {
        message.starred = *starred;
        changed = true;
    }
    if (auto folder = get_folder(d, id); folder && *folder != message.folder) {
        message.folder = *folder;
        changed = true;
    }
    if (auto labels = get_labels(d, id); labels != message.labels) {
        message.labels = std::move(labels);
        changed = true;
    }
    return changed;
}

}  // namespace

void upsert_fetched(Tx& d, const state::MailMessage& message) {
    const std::string id = message.id.text();
    // A purged message stays gone: nothing about it is recorded again.
    if (is_purged(d, id)) return;
    ensure_present(d, id);
    if (!get_read(d, id)) set_read(d, id, message.read);
    if (!get_starred(d, id)) set_starred(d, id, message.starred);
    if (!get_folder(d, id)) set_folder(d, id, message.folder);
}

lib::Status upsert_fetched(Doc& d, const std::vector<state::MailMessage>& messages) {
    return d.change([&](Tx& tx) {
        for (const state::MailMessage& message : messages) upsert_fetched(tx, message);
    });
}

std::vector<state::MailAddress> parse_recipients(std::string_view field) {
    std::vector<state::MailAddress> out;
    std::size_t start = 0;
    while (start <= field.size()) {
        std::size_t end = field.find_first_of(",;", start);
        if (end == std::string_view::npos) end = field.size();
        const std::string piece = state::trim_white_space(field.substr(start, end - start));
        start = end + 1;
        if (piece.empty()) continue;
        const std::size_t open = piece.find('<');
        const std::size_t close = open == std::string::npos ? std::string::npos : piece.find('>', open + 1);
        if (close == std::string::npos) {
            out.push_back(state::MailAddress{"", piece});
            continue;
        }
        std::string name = state::trim_white_space(std::string_view(piece).substr(0, open));
        const std::size_t first = name.find_first_not_of('"');
        const std::size_t last = name.find_last_not_of('"');
        name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
        out.push_back(state::MailAddress{
            std::move(name), state::trim_white_space(std::string_view(piece).substr(open + 1, close - open - 1))});
    }
    return out;
}

state::MailMessage draft_message(const compose::DraftData& draft, const state::MessageId& id,
                                 const state::MailAddress& sender, std::int64_t minute) {
    state::MailMessage message;
    message.id = id;
    message.from = sender;
    message.to = parse_recipients(draft.to);
    message.cc = parse_recipients(draft.cc);
    message.subject =
        state::trim_white_space(draft.subject).empty() ? std::string(state::kNoSubject) : draft.subject;
    message.body = draft.body;
    message.html_body = draft.html_body;
    for (const compose::DraftAttachment& entry : draft.attachments) {
        state::MessageAttachment attachment;
        attachment.filename = entry.filename;
        attachment.mime = entry.mime;
        attachment.content_id = entry.content_id;
        attachment.size = entry.size;
        attachment.downloaded = false;  // the content stays in the blob store
        message.attachments.push_back(std::move(attachment));
    }
    message.folder = state::FolderRole::Drafts;
    message.read = true;
    message.date = minute;
    return message;
}

lib::Status Reflector::reflect(Doc& d, state::MessageStore& store, const Context& context) {
    lib::Status status;

    if (!initialised_) {
        std::vector<state::MailMessage> loaded;
        for (const state::MailMessage* message : store.all()) loaded.push_back(*message);
        lib::Status seeded = upsert_fetched(d, loaded);
        // Seeding is tried again on the next call when it could not be stored.
        if (seeded.ok()) initialised_ = true;
        keep_first_error(status, std::move(seeded));
    }

    const std::vector<state::MessageId> ids = store.ids();
    for (const state::MessageId& id : ids) {
        if (is_purged(d, id.text())) store.remove(id);
    }
    for (const state::MessageId& id : store.ids()) {
        const state::MailMessage* current = store.get(id);
        if (current == nullptr) continue;
        state::MailMessage updated = *current;
        if (apply_flags(d, updated)) store.upsert(std::move(updated));
    }

    reflect_draft(d, store, context, status);
    return status;
}

void Reflector::reflect_draft(Doc& d, state::MessageStore& store, const Context& context, lib::Status& status) {
    const compose::DraftData draft = load_draft(d);
    if (draft.to.empty() && draft.subject.empty() && draft.body.empty()) {
        // The stored draft is gone (discarded): so is its message.
        if (draft_id_) store.remove(*draft_id_);
        draft_id_.reset();
        return;
    }

    const state::MessageId id = context.current_draft ? *context.current_draft
                                : draft_id_           ? *draft_id_
                                                      : state::MessageId::random();
    if (draft_id_ && *draft_id_ != id) store.remove(*draft_id_);
    draft_id_ = id;

    const std::string key = id.text();
    if (is_purged(d, key)) {
        store.remove(id);
        return;
    }

    state::MailMessage message = draft_message(draft, id, context.sender, context.now_minute);
    apply_flags(d, message);
    // The same draft rebuilt a minute later is not a change of the store.
    if (const state::MailMessage* existing = store.get(id)) {
        state::MailMessage same_minute = message;
        same_minute.date = existing->date;
        if (same_minute == *existing) message = std::move(same_minute);
    }
    if (const state::MailMessage* existing = store.get(id); existing == nullptr || !(*existing == message))
        store.upsert(std::move(message));

    keep_first_error(status, d.change([&](Tx& tx) { ensure_present(tx, key); }));
}

}  // namespace mail::doc
