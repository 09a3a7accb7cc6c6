#include "state/mail_state.h"

#include <algorithm>
#include <unordered_map>

#include "state/conversation.h"
#include "state/text_rules.h"

namespace mail::state {

namespace {

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool contains_lowered(std::string_view haystack, const std::string& needle) {
    return ascii_lower(haystack).find(needle) != std::string::npos;
}

std::vector<std::string> id_texts(const std::vector<MessageId>& ids) {
    std::vector<std::string> out;
    out.reserve(ids.size());
    for (const MessageId& id : ids) out.push_back(id.text());
    return out;
}

}  // namespace

std::string count_messages(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " message" : " messages");
}

MailState MailState::with_accounts(std::vector<validate::AccountEntry> accounts, std::size_t active,
                                   std::int64_t now_minute) {
    MailState s;
    s.accounts = std::move(accounts);
    s.active = s.accounts.empty() || active >= s.accounts.size() ? 0 : active;
    s.now_minute = now_minute;
    return s;
}

const validate::AccountEntry* MailState::active_account() const {
    if (accounts.empty()) return nullptr;
    return &accounts[active < accounts.size() ? active : 0];
}

std::size_t MailState::unread_count(FolderRole role) const {
    std::size_t n = 0;
    for (const MailMessage* m : store.all()) {
        if (m->folder == role && !m->read) ++n;
    }
    return n;
}

std::vector<ListItem> MailState::visible_list() const {
    std::vector<ListItem> out;
    const std::string query = trim_white_space(search_query);
    if (query.empty()) {
        const std::vector<const MailMessage*> list = store.messages_in(folder);
        const ConversationIndex index(list);
        struct Conversation {
            std::int64_t newest = 0;
            const MailMessage* last = nullptr;
            std::size_t size = 0;
        };
        std::vector<Conversation> conversations;
        std::unordered_map<std::string, std::size_t> by_key;
        for (const MailMessage* m : list) {
            const std::string key = index.key(*m);
            auto [it, fresh] = by_key.emplace(key, conversations.size());
            if (fresh) conversations.push_back({m->date, m, 0});
            Conversation& c = conversations[it->second];
            c.newest = std::max(c.newest, m->date);
            c.last = m;
            ++c.size;
        }
        std::stable_sort(conversations.begin(), conversations.end(),
                         [](const Conversation& a, const Conversation& b) { return a.newest > b.newest; });
        out.reserve(conversations.size());
        for (const Conversation& c : conversations) out.push_back({c.last->id, c.size});
        return out;
    }

    const std::string needle = ascii_lower(query);
    std::vector<const MailMessage*> matches;
    const std::vector<MessageId>& ids = store.ids();
    std::size_t examined = 0;
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
        if (examined >= kSearchScanLimit || matches.size() >= kSearchResultLimit) break;
        const MailMessage* m = store.get(*it);
        if (m == nullptr || m->folder == FolderRole::Trash) continue;
        ++examined;
        if (contains_lowered(m->subject, needle) || contains_lowered(m->from.address, needle) ||
            contains_lowered(m->from.name, needle) || contains_lowered(m->body, needle)) {
            matches.push_back(m);
        }
    }
    std::stable_sort(matches.begin(), matches.end(),
                     [](const MailMessage* a, const MailMessage* b) { return a->date > b->date; });
    out.reserve(matches.size());
    for (const MailMessage* m : matches) out.push_back({m->id, 1});
    return out;
}

const MailMessage* MailState::shown_message() const {
    if (bulk_mode || !selected) return nullptr;
    return store.get(*selected);
}

bool MailState::is_bulk_selected(const MessageId& id) const {
    return std::find(bulk.begin(), bulk.end(), id) != bulk.end();
}

bool MailState::take_changed() { return std::exchange(changed, false); }

void MailState::show_folder(FolderRole role) {
    folder = role;
    search_query.clear();
    selected.reset();
    queue_intent(EngineIntent::Kind::Fetch, nullptr, role);
    touch();
}

void MailState::set_search_query(std::string query) {
    if (query == search_query) return;
    search_query = std::move(query);
    touch();
}

void MailState::select_first_visible() {
    const std::vector<ListItem> list = visible_list();
    if (list.empty()) selected.reset();
    else selected = list.front().id;
    touch();
}

void MailState::open_message(const MessageId& id) {
    if (!store.contains(id)) return;
    selected = id;
    touch();
    set_read(id, true);
}

void MailState::preview_message(const MessageId& id) {
    if (!store.contains(id)) return;
    selected = id;
    touch();
}

void MailState::set_status(std::string text) {
    status = std::move(text);
    touch();
}

bool MailState::set_read(const MessageId& id, bool read) {
    if (!store.set_read(id, read)) return false;
    actions_.push_back(actions::SetRead{{id.text()}, read});
    queue_intent(EngineIntent::Kind::Flag, store.get(id), FolderRole::Inbox);
    touch();
    return true;
}

bool MailState::set_starred(const MessageId& id, bool starred) {
    if (!store.set_starred(id, starred)) return false;
    actions_.push_back(actions::SetStarred{{id.text()}, starred});
    queue_intent(EngineIntent::Kind::Flag, store.get(id), FolderRole::Inbox);
    touch();
    return true;
}

bool MailState::move_to(const MessageId& id, FolderRole role) {
    const MailMessage* m = store.get(id);
    if (m == nullptr || m->folder == role) return false;
    const MailMessage before = *m;
    store.set_folder(id, role);
    actions_.push_back(actions::Move{{id.text()}, std::string(folder_role_key(role))});
    queue_intent(EngineIntent::Kind::Move, &before, role);
    touch();
    return true;
}

bool MailState::purge(const MessageId& id) {
    const MailMessage* m = store.get(id);
    if (m == nullptr || m->folder != FolderRole::Trash) return false;
    const MailMessage gone = *m;
    store.remove(id);
    actions_.push_back(actions::Purge{{id.text()}});
    queue_intent(EngineIntent::Kind::Purge, &gone, FolderRole::Trash);
    if (selected == id) selected.reset();
    touch();
    return true;
}

void MailState::set_bulk_mode(bool on) {
    if (bulk_mode == on) return;
    bulk_mode = on;
    if (!on) bulk.clear();
    touch();
}

void MailState::toggle_bulk(const MessageId& id) {
    auto it = std::find(bulk.begin(), bulk.end(), id);
    if (it != bulk.end()) bulk.erase(it);
    else bulk.push_back(id);
    bulk_mode = true;
    touch();
}

void MailState::select_all_visible() {
    bulk_mode = true;
    bulk.clear();
    for (const ListItem& item : visible_list()) bulk.push_back(item.id);
    touch();
}

bool MailState::selection_all_in_trash() const {
    if (bulk.empty()) return false;
    return std::all_of(bulk.begin(), bulk.end(), [&](const MessageId& id) {
        const MailMessage* m = store.get(id);
        return m != nullptr && m->folder == FolderRole::Trash;
    });
}

std::size_t MailState::apply_bulk(BulkActionKind kind) {
    std::size_t n = 0;
    switch (kind) {
        case BulkActionKind::Archive: {
            // Every selected message counts, as the action names the whole
            // selection; only those that exist and are elsewhere move.
            std::vector<MessageId> ids = bulk;
            for (const MessageId& id : ids) {
                const MailMessage* m = store.get(id);
                if (m == nullptr || m->folder == FolderRole::Archive) continue;
                const MailMessage before = *m;
                store.set_folder(id, FolderRole::Archive);
                queue_intent(EngineIntent::Kind::Move, &before, FolderRole::Archive);
            }
            if (!ids.empty()) actions_.push_back(actions::Move{id_texts(ids), "archive"});
            n = ids.size();
            bulk.clear();
            break;
        }
        case BulkActionKind::MoveToTrash: {
            std::vector<MessageId> moved;
            for (const MessageId& id : bulk) {
                const MailMessage* m = store.get(id);
                if (m == nullptr || m->folder == FolderRole::Trash) continue;
                const MailMessage before = *m;
                store.set_folder(id, FolderRole::Trash);
                queue_intent(EngineIntent::Kind::Move, &before, FolderRole::Trash);
                moved.push_back(id);
            }
            if (!moved.empty()) actions_.push_back(actions::Move{id_texts(moved), "trash"});
            n = moved.size();
            bulk.clear();
            break;
        }
        case BulkActionKind::DeletePermanently: {
            if (!selection_all_in_trash()) return 0;
            std::vector<MessageId> ids = bulk;
            for (const MessageId& id : ids) {
                const MailMessage gone = *store.get(id);
                store.remove(id);
                queue_intent(EngineIntent::Kind::Purge, &gone, FolderRole::Trash);
                if (selected == id) selected.reset();
            }
            actions_.push_back(actions::Purge{id_texts(ids)});
            n = ids.size();
            bulk.clear();
            break;
        }
        case BulkActionKind::MarkRead:
        case BulkActionKind::MarkUnread: {
            const bool read = kind == BulkActionKind::MarkRead;
            for (const MessageId& id : bulk) {
                if (store.set_read(id, read)) queue_intent(EngineIntent::Kind::Flag, store.get(id), FolderRole::Inbox);
            }
            if (!bulk.empty()) actions_.push_back(actions::SetRead{id_texts(bulk), read});
            n = bulk.size();
            break;
        }
    }
    touch();
    return n;
}

bool MailState::request_purge() {
    if (bulk.empty()) {
        set_status("Select messages before deleting them permanently");
        return false;
    }
    if (!selection_all_in_trash()) {
        set_status("Permanent deletion requires an all-Trash selection");
        return false;
    }
    overlay = Overlay{};
    overlay.kind = Overlay::Kind::PurgeConfirmation;
    overlay.count = bulk.size();
    touch();
    return true;
}

std::size_t MailState::confirm_purge() {
    if (overlay.kind == Overlay::Kind::PurgeConfirmation) overlay = Overlay{};
    const std::size_t n = apply_bulk(BulkActionKind::DeletePermanently);
    if (n > 0) {
        set_status("Permanently deleted " + std::to_string(n) + (n == 1 ? " trashed message" : " trashed messages"));
    } else {
        set_status("Nothing was deleted; the selected messages changed before confirmation");
    }
    return n;
}

void MailState::cancel_purge() {
    if (overlay.kind != Overlay::Kind::PurgeConfirmation) return;
    overlay = Overlay{};
    touch();
}

std::vector<actions::MailAction> MailState::take_actions() { return std::exchange(actions_, {}); }

std::vector<EngineIntent> MailState::take_intents() { return std::exchange(intents_, {}); }

void MailState::queue_intent(EngineIntent::Kind kind, const MailMessage* message, FolderRole folder_role) {
    const validate::AccountEntry* account = active_account();
    if (account == nullptr || account->config.email.empty()) return;
    EngineIntent intent;
    intent.kind = kind;
    intent.config = account->config;
    if (message != nullptr) intent.message = *message;
    intent.folder = folder_role;
    intents_.push_back(std::move(intent));
}

}  // namespace mail::state
