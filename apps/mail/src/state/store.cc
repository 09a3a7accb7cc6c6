#include "state/store.h"

#include <algorithm>
#include <atomic>

namespace mail::state {

std::uint64_t next_revision() {
    static std::atomic<std::uint64_t> counter{1};
    return counter.fetch_add(1, std::memory_order_relaxed);
}

bool MessageStore::upsert(MailMessage message) {
    const MessageId id = message.id;
    auto [it, inserted] = records_.try_emplace(id, std::move(message));
    if (inserted) {
        order_.push_back(id);
    } else {
        it->second = std::move(message);
    }
    touch();
    return inserted;
}

bool MessageStore::remove(const MessageId& id) {
    if (records_.erase(id) == 0) return false;
    order_.erase(std::find(order_.begin(), order_.end(), id));
    touch();
    return true;
}

void MessageStore::clear() {
    if (order_.empty()) return;
    records_.clear();
    order_.clear();
    touch();
}

const MailMessage* MessageStore::get(const MessageId& id) const {
    const auto it = records_.find(id);
    return it == records_.end() ? nullptr : &it->second;
}

MailMessage* MessageStore::find(const MessageId& id) {
    const auto it = records_.find(id);
    return it == records_.end() ? nullptr : &it->second;
}

bool MessageStore::set_read(const MessageId& id, bool read) {
    MailMessage* m = find(id);
    if (m == nullptr || m->read == read) return false;
    m->read = read;
    touch();
    return true;
}

bool MessageStore::set_starred(const MessageId& id, bool starred) {
    MailMessage* m = find(id);
    if (m == nullptr || m->starred == starred) return false;
    m->starred = starred;
    touch();
    return true;
}

bool MessageStore::set_folder(const MessageId& id, FolderRole folder) {
    MailMessage* m = find(id);
    if (m == nullptr || m->folder == folder) return false;
    m->folder = folder;
    touch();
    return true;
}

bool MessageStore::set_labels(const MessageId& id, std::vector<std::string> labels) {
    MailMessage* m = find(id);
    if (m == nullptr || m->labels == labels) return false;
    m->labels = std::move(labels);
    touch();
    return true;
}

std::vector<const MailMessage*> MessageStore::messages_in(FolderRole folder) const {
    std::vector<const MailMessage*> list;
    for (const MessageId& id : order_) {
        const MailMessage& m = records_.at(id);
        if (m.folder == folder) list.push_back(&m);
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const MailMessage* a, const MailMessage* b) { return a->date > b->date; });
    return list;
}

std::vector<const MailMessage*> MessageStore::all() const {
    std::vector<const MailMessage*> list;
    list.reserve(order_.size());
    for (const MessageId& id : order_) list.push_back(&records_.at(id));
    return list;
}

}  // namespace mail::state
