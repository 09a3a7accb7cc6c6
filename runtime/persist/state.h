// Internal to runtime/persist: the in-memory tree, the record of a change in
// progress, and the SQLite store behind a file-backed document.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "lib/base/result.h"
#include "runtime/persist/document.h"

namespace runtime::persist::detail {

struct Node {
    std::int64_t id = 0;
    Kind kind = Kind::map;
    std::string text;  // Kind::text
    bool flag = false;  // Kind::boolean
    std::int64_t ord = 0;  // position key of a list element
    std::map<std::string, std::unique_ptr<Node>, std::less<>> entries;  // Kind::map
    std::vector<std::unique_ptr<Node>> items;  // Kind::list, in ord order
};

// Row-level effects of a change, in the order they happened. Replaying them
// on the stored rows gives the stored form of the changed tree.
struct InsertRow {
    std::int64_t id;
    std::int64_t parent;
    std::optional<std::string> key;  // map entry
    std::optional<std::int64_t> ord;  // list element
    Kind kind;
    std::string text;
    bool flag;
};
struct DeleteRows {
    std::vector<std::int64_t> ids;  // a value and everything under it
};
struct UpdateRow {
    std::int64_t id;
    Kind kind;
    std::string text;
    bool flag;
};
using RowOp = std::variant<InsertRow, DeleteRows, UpdateRow>;

// One stored row as read at load time.
struct LoadedRow {
    std::int64_t id;
    std::int64_t parent;
    std::optional<std::string> key;
    std::optional<std::int64_t> ord;
    int kind;
    std::optional<std::string> text;
    std::optional<std::int64_t> number;
};

struct LoadedDoc {
    std::array<std::uint8_t, 16> actor{};
    std::string heads;
    std::uint64_t changes = 0;
    std::vector<LoadedRow> rows;  // ascending id
};

class Store {
public:
    // Opens or creates the file; on success fills `out` with what it holds
    // (a fresh file gets `fresh_actor`).
    static lib::Result<std::unique_ptr<Store>> open(const std::filesystem::path& file,
                                                    const std::array<std::uint8_t, 16>& fresh_actor,
                                                    LoadedDoc& out);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Writes one change as one transaction; on failure nothing of it is stored.
    lib::Status commit(const std::vector<RowOp>& ops, const std::string& heads,
                       std::uint64_t changes);

private:
    struct Db;
    explicit Store(std::unique_ptr<Db> db);
    std::unique_ptr<Db> db_;
};

// Undo records of a change in progress, replayed in reverse to cancel it.
struct UndoSlot {  // a map entry was set or removed
    Node* map;
    std::string key;
    std::unique_ptr<Node> old;  // null when the key was missing
};
struct UndoScalar {
    Node* node;
    std::string text;
    bool flag;
};
struct UndoAppend {
    Node* list;
};
struct UndoErase {
    Node* list;
    std::size_t index;
    std::unique_ptr<Node> old;
};
using Undo = std::variant<UndoSlot, UndoScalar, UndoAppend, UndoErase>;

struct State {
    Node root;  // id 0, a map
    std::int64_t next_id = 1;
    std::string heads;
    std::uint64_t changes = 0;
    std::array<std::uint8_t, 16> actor{};
    std::filesystem::path file;
    std::unique_ptr<Store> store;  // null for an in-memory document

    bool in_change = false;
    std::int64_t next_id_before = 1;
    std::vector<Undo> undo;
    std::vector<RowOp> ops;
};

// Builds the tree from stored rows; the message says what is wrong.
lib::Status build_tree(State& state, std::vector<LoadedRow>& rows);

}  // namespace runtime::persist::detail
