// The in-memory message store: records by id, ids in first-seen order, and a
// revision that changes with every change of the store.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "state/mail.h"

namespace mail::state {

// The next value of the one process-wide revision counter (starts at 1; each
// call returns a value larger than every earlier one, from any thread).
std::uint64_t next_revision();

class MessageStore {
public:
    // Inserts a record, or replaces the record with the same id in place
    // (its first-seen position is kept). Always a change. Returns true when
    // the id was new.
    bool upsert(MailMessage message);
    // Removes a record; false when the id is unknown (no change then).
    bool remove(const MessageId& id);
    // Removes every record; a change when the store was not empty.
    void clear();

    const MailMessage* get(const MessageId& id) const;
    bool contains(const MessageId& id) const { return records_.count(id) != 0; }
    std::size_t size() const { return order_.size(); }
    bool empty() const { return order_.empty(); }
    // Every id in first-seen order.
    const std::vector<MessageId>& ids() const { return order_; }
    // 0 for a store never changed; otherwise the counter value of its last change.
    std::uint64_t revision() const { return revision_; }

    // Field changes: true (and a new revision) only when the id is known and
    // the value differs.
    bool set_read(const MessageId& id, bool read);
    bool set_starred(const MessageId& id, bool starred);
    bool set_folder(const MessageId& id, FolderRole folder);
    bool set_labels(const MessageId& id, std::vector<std::string> labels);

    // The folder list: records in `folder`, newest date first, equal dates in
    // first-seen order. Pointers stay valid until the store next changes.
    std::vector<const MailMessage*> messages_in(FolderRole folder) const;
    // Every record in first-seen order (same validity).
    std::vector<const MailMessage*> all() const;

private:
    MailMessage* find(const MessageId& id);
    void touch() { revision_ = next_revision(); }

    std::unordered_map<MessageId, MailMessage> records_;
    std::vector<MessageId> order_;
    std::uint64_t revision_ = 0;
};

}  // namespace mail::state
