// Server results into the mailbox document, and the document into the
// in-memory message store.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "compose/draft.h"
#include "doc/mailbox.h"
#include "lib/base/result.h"
#include "state/mail.h"
#include "state/store.h"

namespace mail::doc {

// Records a message the server (or the sample mailbox) reported: present
// unless purged, and its read, starred and folder values only where the
// document has none yet. Local decisions are never overwritten.
void upsert_fetched(Tx& d, const state::MailMessage& message);
// The same for a batch, as one change of the document.
lib::Status upsert_fetched(Doc& d, const std::vector<state::MailMessage>& messages);

// Parses a recipient field ("," or ";" separated; "Name <address>" or a bare
// address) into addresses, in order.
std::vector<state::MailAddress> parse_recipients(std::string_view field);

// The local draft message of a stored draft: Drafts folder, read, from the
// sending account, dated `minute`, no Message-ID; "(no subject)" when the
// subject is blank; attachments by content address (content not loaded).
state::MailMessage draft_message(const compose::DraftData& draft, const state::MessageId& id,
                                 const state::MailAddress& sender, std::int64_t minute);

// Keeps a message store in step with the document, one call per update turn.
//
// The first call seeds the document from the messages already in the store.
// Every call then removes purged messages, copies the document's read,
// starred, folder and labels into the records (one new store revision per
// record that changed, none when nothing did) and shows the stored draft as a
// draft message. The draft message keeps one id across calls: the composer's
// current draft id when there is one, otherwise an id made once and
// remembered. When the stored draft is discarded, the draft message goes.
class Reflector {
public:
    struct Context {
        state::MailAddress sender;                       // the selected account
        std::optional<state::MessageId> current_draft;  // the draft being edited, if any
        std::int64_t now_minute = 0;                     // minutes since the Unix epoch
    };

    // Errors come from storing document changes; the store is brought in
    // step with what the document holds regardless.
    lib::Status reflect(Doc& d, state::MessageStore& store, const Context& context);

    // Whether the first call has seeded the document.
    bool initialised() const { return initialised_; }
    // The id of the draft message this reflector keeps in the store, if any.
    const std::optional<state::MessageId>& draft_id() const { return draft_id_; }

private:
    void reflect_draft(Doc& d, state::MessageStore& store, const Context& context, lib::Status& status);

    bool initialised_ = false;
    std::optional<state::MessageId> draft_id_;
};

}  // namespace mail::doc
