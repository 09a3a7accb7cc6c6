// MailState: the window's one in-memory view of the mail — accounts, the
// current folder, the loaded messages, the selection, the search query, the
// bulk selection, the open overlay and the status line — and the operations
// that change it. It lives in one shared cell (MailStateCell) that the
// application and its three panes hold together.
//
// Every change made here is applied in memory at once and recorded twice for
// the window to send on:
//   - as MailAction values (take_actions) for the local mailbox document, and
//   - as EngineIntent values (take_intents) for the server, only while the
//     active account has an address.
// The state itself knows nothing of the document or the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "actions/mail_action.h"
#include "lib/base/result.h"
#include "state/mail.h"
#include "state/store.h"
#include "validate/account_config.h"

namespace mail::state {

// A value with run-time borrow checking: any number of shared borrows, or
// one mutable borrow, at a time. try_* report a conflict as a failure;
// borrow() and borrow_mut() end the program on one, since it can only come
// from a programming fault (a pane changing the state while another holds
// it). Single-threaded, like everything on the window thread.
template <class T>
class RefCell {
public:
    explicit RefCell(T value) : value_(std::move(value)) {}
    RefCell(const RefCell&) = delete;
    RefCell& operator=(const RefCell&) = delete;

    class Ref {
    public:
        Ref(Ref&& o) noexcept : cell_(std::exchange(o.cell_, nullptr)) {}
        Ref& operator=(Ref&&) = delete;
        ~Ref() {
            if (cell_) --cell_->readers_;
        }
        const T& operator*() const { return cell_->value_; }
        const T* operator->() const { return &cell_->value_; }

    private:
        friend class RefCell;
        explicit Ref(const RefCell* c) : cell_(c) { ++cell_->readers_; }
        const RefCell* cell_;
    };

    class RefMut {
    public:
        RefMut(RefMut&& o) noexcept : cell_(std::exchange(o.cell_, nullptr)) {}
        RefMut& operator=(RefMut&&) = delete;
        ~RefMut() {
            if (cell_) cell_->writer_ = false;
        }
        T& operator*() const { return cell_->value_; }
        T* operator->() const { return &cell_->value_; }

    private:
        friend class RefCell;
        explicit RefMut(RefCell* c) : cell_(c) { cell_->writer_ = true; }
        RefCell* cell_;
    };

    lib::Result<Ref> try_borrow() const {
        if (writer_) return lib::err("the state is already borrowed for a change");
        return Ref(this);
    }
    lib::Result<RefMut> try_borrow_mut() {
        if (writer_) return lib::err("the state is already borrowed for a change");
        if (readers_ > 0) return lib::err("the state is already borrowed for reading");
        return RefMut(this);
    }
    Ref borrow() const {
        auto r = try_borrow();
        if (!r) fail(r.error());
        return std::move(r).value();
    }
    RefMut borrow_mut() {
        auto r = try_borrow_mut();
        if (!r) fail(r.error());
        return std::move(r).value();
    }
    bool borrowed() const { return writer_ || readers_ > 0; }

private:
    [[noreturn]] static void fail(const std::string& why) {
        std::fprintf(stderr, "mail: borrow conflict: %s\n", why.c_str());
        std::abort();
    }
    T value_;
    mutable int readers_ = 0;
    bool writer_ = false;
};

// One item of the message list: the message shown for a conversation (its
// oldest message) and the number of messages in it (1 for search results).
struct ListItem {
    MessageId id;
    std::size_t size = 1;
    bool operator==(const ListItem&) const = default;
};

// At most this many messages are examined by a local search, and at most
// this many results listed.
inline constexpr std::size_t kSearchScanLimit = 4096;
inline constexpr std::size_t kSearchResultLimit = 200;

// Server work that a change asks for. The window turns each into an engine
// request carrying `config` (the active account's settings at the time).
struct EngineIntent {
    enum class Kind : std::uint8_t { Flag, Move, Purge, Fetch };
    Kind kind = Kind::Flag;
    validate::StoredConfig config;
    // Flag: the record with its new read and starred values. Move: the record
    // as it was before the move (its folder is the source). Purge: the record
    // (in Trash). Fetch: unused.
    std::optional<MailMessage> message;
    // Move: the destination. Fetch: the folder to fetch.
    FolderRole folder = FolderRole::Inbox;
};

// The panel drawn over the panes, at most one at a time.
struct Overlay {
    enum class Kind : std::uint8_t { None, Reply, ContextMenu, PurgeConfirmation };
    Kind kind = Kind::None;
    // Reply and ContextMenu: the message it is about.
    std::optional<MessageId> message;
    // ContextMenu: where it opens, in window coordinates.
    double x = 0;
    double y = 0;
    // PurgeConfirmation: the number of messages it names.
    std::size_t count = 0;

    bool open() const { return kind != Kind::None; }
};

enum class BulkActionKind : std::uint8_t { Archive = 0, MoveToTrash = 1, DeletePermanently = 2, MarkRead = 3, MarkUnread = 4 };

// "{n} message" plus "s" unless n is 1.
std::string count_messages(std::size_t n);

struct MailState {
    // --- Data ------------------------------------------------------------------
    std::vector<validate::AccountEntry> accounts;  // in list order
    std::size_t active = 0;                        // position in `accounts`
    FolderRole folder = FolderRole::Inbox;
    MessageStore store;
    std::optional<MessageId> selected;
    std::string search_query;
    bool bulk_mode = false;
    std::vector<MessageId> bulk;  // ordered, no repeats
    Overlay overlay;
    std::string status;
    std::int64_t now_minute = 0;
    // The document has been seeded from these messages (the first update).
    bool initialised = false;
    // Something visible changed since the window last looked (take_changed).
    bool changed = false;

    // --- Construction ------------------------------------------------------------

    // No messages, nothing selected, Inbox, status empty.
    static MailState with_accounts(std::vector<validate::AccountEntry> accounts, std::size_t active,
                                   std::int64_t now_minute);

    // --- Reading -----------------------------------------------------------------

    // The active account, when the list is not empty (an out-of-range
    // position reads as the first account).
    const validate::AccountEntry* active_account() const;
    // Messages of `role` whose read flag is clear.
    std::size_t unread_count(FolderRole role) const;
    // The message list as it is now: the conversations of the current folder
    // when the trimmed query is empty, otherwise the local search results.
    std::vector<ListItem> visible_list() const;
    // The selected message when it still exists and selection mode is off.
    const MailMessage* shown_message() const;
    bool is_bulk_selected(const MessageId& id) const;
    // Returns and clears the changed flag.
    bool take_changed();

    // --- Navigation --------------------------------------------------------------

    // Shows a folder: the query and the selection are cleared, and a Fetch of
    // it is queued for the active account.
    void show_folder(FolderRole role);
    void set_search_query(std::string query);
    // Selects the first item of the visible list (nothing when it is empty).
    void select_first_visible();
    // Shows the message and marks it read (a Flag when it was unread).
    void open_message(const MessageId& id);
    // Shows the message without changing its read state.
    void preview_message(const MessageId& id);
    void set_status(std::string text);

    // --- One-message changes (false when the id is unknown or nothing changed) ----

    bool set_read(const MessageId& id, bool read);
    bool set_starred(const MessageId& id, bool starred);
    bool move_to(const MessageId& id, FolderRole role);
    // Removes the message for good; only a message in Trash.
    bool purge(const MessageId& id);

    // --- Selection mode ------------------------------------------------------------

    // Leaving selection mode empties the selection.
    void set_bulk_mode(bool on);
    // Adds the message to the selection, or removes it when it is there;
    // turns selection mode on.
    void toggle_bulk(const MessageId& id);
    // Selection mode on; the selection becomes every visible item in order.
    void select_all_visible();
    // Whether every selected message exists and is in Trash (false when the
    // selection is empty).
    bool selection_all_in_trash() const;
    // Applies a bulk action to the selection and returns the number of
    // messages acted on (see the table of bulk actions).
    std::size_t apply_bulk(BulkActionKind kind);
    // Asks for permanent deletion of the selection: opens the confirmation,
    // or sets the status explaining why not. True when it opened.
    bool request_purge();
    // Closes the confirmation and deletes; sets the status either way.
    std::size_t confirm_purge();
    void cancel_purge();

    // --- What the window sends on ---------------------------------------------------

    std::vector<actions::MailAction> take_actions();
    std::vector<EngineIntent> take_intents();
    const std::vector<actions::MailAction>& pending_actions() const { return actions_; }
    const std::vector<EngineIntent>& pending_intents() const { return intents_; }

private:
    void queue_intent(EngineIntent::Kind kind, const MailMessage* message, FolderRole folder);
    void touch() { changed = true; }

    std::vector<actions::MailAction> actions_;
    std::vector<EngineIntent> intents_;
};

// The cell the application and its panes share.
using MailStateCell = RefCell<MailState>;
using SharedMailState = std::shared_ptr<MailStateCell>;

inline SharedMailState make_shared_state(MailState state) {
    return std::make_shared<MailStateCell>(std::move(state));
}

}  // namespace mail::state
