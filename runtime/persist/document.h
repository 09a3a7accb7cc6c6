// The persisted application document: a tree of maps, lists and scalar values
// (texts and booleans), changed in atomic changes and stored in SQLite.
//
// Shape
//   - The root is a map. Map keys are texts; keys() lists them in ascending
//     byte order. A map value is a map, a list, a text or a boolean.
//   - List elements are texts, kept in the order appended.
//   - Values are addressed by Path: the keys from the root down to a map or a
//     list, e.g. Path{"flags", id}.
//
// Reading never fails: a missing value, or a value of another type, reads as
// absent (std::nullopt, false, or an empty vector).
//
// Writing happens only inside Doc::change. Every write creates what its path
// needs: each step of the path becomes a map when it is missing or holds a
// value of another kind (replacing that value), and the last step of a list
// path becomes a list in the same way. Writes cannot fail.
//
// Changes
//   One call of Doc::change is one applied change: it is stored as one SQLite
//   transaction, advances heads() and change_count(), and either lands whole
//   or not at all. Writes that leave a value as it was are not recorded; a
//   change that records nothing leaves heads() and the file untouched. When
//   the callback returns an error, throws, or the commit fails, the in-memory
//   tree is rolled back to the state it had before the change (which is the
//   stored state) and the error is returned.
//
// Heads
//   heads() is a 64-digit lower-case hexadecimal SHA-256 naming the latest
//   applied change: the digest of the previous heads, the actor and the
//   change's encoded operations. It is empty for a document with no change.
//
// Storage
//   open(file) uses SQLite in WAL mode with synchronous=FULL and holds an
//   exclusive lock on the file while the Doc lives: a second Doc (in this or
//   another process) on the same file fails to open. The file is created
//   readable by its owner only. open_in_memory() touches no file at all.
//
// A Doc is used from one thread at a time. It is movable, not copyable.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "lib/base/result.h"

namespace runtime::persist {

enum class Kind { map, list, text, boolean };

// The keys from the root to a map or list. The empty path is the root map.
class Path {
public:
    Path() = default;
    Path(std::initializer_list<std::string_view> keys);
    explicit Path(std::vector<std::string> keys) : keys_(std::move(keys)) {}

    // This path extended by one key.
    Path child(std::string_view key) const;
    const std::vector<std::string>& keys() const { return keys_; }
    bool is_root() const { return keys_.empty(); }

private:
    std::vector<std::string> keys_;
};

namespace detail {
struct State;
}

// The read operations, shared by Doc and by the Tx inside a change (which
// sees the change's own writes).
class Reader {
public:
    // The kind of the value at path; absent when nothing is there. The root
    // is a map.
    std::optional<Kind> kind(const Path& path) const;
    // Whether the map at `map` has a value (of any kind) under key.
    bool has(const Path& map, std::string_view key) const;
    std::optional<bool> get_bool(const Path& map, std::string_view key) const;
    std::optional<std::string> get_text(const Path& map, std::string_view key) const;
    // The keys of the map at path in ascending byte order; empty when it is
    // not a map.
    std::vector<std::string> keys(const Path& map) const;
    // The elements of the list at path; empty when it is not a list.
    std::vector<std::string> list_texts(const Path& list) const;

protected:
    explicit Reader(const detail::State* state) : read_(state) {}
    const detail::State* read_ = nullptr;
};

// The write operations, valid only inside the Doc::change callback that
// received the Tx.
class Tx : public Reader {
public:
    Tx(const Tx&) = delete;
    Tx& operator=(const Tx&) = delete;

    // Makes the value at path a map (each step on the way too). A no-op on the
    // root or when it is one already.
    void get_or_create_map(const Path& path);
    // Makes the value at path a list (each step before it a map). A no-op
    // when it is one already; the root cannot become a list (nothing is done).
    void get_or_create_list(const Path& path);
    void put_bool(const Path& map, std::string_view key, bool value);
    void put_text(const Path& map, std::string_view key, std::string_view value);
    // Removes key (and everything under it) from the map at `map`. Nothing
    // happens, and nothing is created, when there is no such key.
    void delete_key(const Path& map, std::string_view key);
    // Appends an element, creating the list as get_or_create_list does.
    void list_append_text(const Path& list, std::string_view text);
    // Removes the element at index; false (and nothing created) when there
    // is no list or no such element.
    bool list_delete(const Path& list, std::size_t index);

private:
    friend class Doc;
    explicit Tx(detail::State* state) : Reader(state), write_(state) {}
    detail::State* write_;
};

class Doc : public Reader {
public:
    // Opens (creating when missing, with its parent directories) the document
    // stored in file. Errors: the file cannot be created or opened, it is not
    // a document of this kind or it is damaged, or another Doc holds it.
    static lib::Result<Doc> open(const std::filesystem::path& file);
    // A document that lives in memory only and writes no file.
    static Doc open_in_memory();

    Doc(Doc&& other) noexcept;
    Doc& operator=(Doc&& other) noexcept;
    Doc(const Doc&) = delete;
    Doc& operator=(const Doc&) = delete;
    ~Doc();

    // Applies one change. fn is called with a Tx and returns void or
    // lib::Status; an error from it cancels the change. A change started from
    // inside another change's callback fails without calling fn.
    template <class F>
    lib::Status change(F&& fn) {
        if constexpr (std::is_void_v<std::invoke_result_t<F&, Tx&>>) {
            return apply([&fn](Tx& tx) -> lib::Status {
                fn(tx);
                return lib::ok_status();
            });
        } else {
            return apply([&fn](Tx& tx) -> lib::Status { return fn(tx); });
        }
    }

    // Empty before the first change; otherwise 64 hexadecimal digits.
    const std::string& heads() const;
    // Number of changes applied since the document was created.
    std::uint64_t change_count() const;
    // The random actor id chosen when the document was created, as bytes and
    // as 32 lower-case hexadecimal digits.
    const std::array<std::uint8_t, 16>& actor_bytes() const;
    std::string actor() const;
    // The file behind the document; empty for an in-memory document.
    const std::filesystem::path& file() const;

private:
    explicit Doc(std::unique_ptr<detail::State> state);
    lib::Status apply(const std::function<lib::Status(Tx&)>& fn);
    std::unique_ptr<detail::State> state_;
};

}  // namespace runtime::persist
