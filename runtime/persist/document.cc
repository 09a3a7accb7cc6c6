#include "runtime/persist/document.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <random>
#include <unordered_map>

#include "runtime/persist/state.h"

namespace runtime::persist {

using detail::Node;
using detail::State;

// ---- Path ----

Path::Path(std::initializer_list<std::string_view> keys) {
    keys_.reserve(keys.size());
    for (std::string_view k : keys) keys_.emplace_back(k);
}

Path Path::child(std::string_view key) const {
    Path p = *this;
    p.keys_.emplace_back(key);
    return p;
}

namespace {

const char kHex[] = "0123456789abcdef";

std::string to_hex(const std::uint8_t* data, std::size_t n) {
    std::string out;
    out.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(kHex[data[i] >> 4]);
        out.push_back(kHex[data[i] & 15]);
    }
    return out;
}

std::array<std::uint8_t, 16> random_actor() {
    std::array<std::uint8_t, 16> a{};
    if (RAND_bytes(a.data(), static_cast<int>(a.size())) != 1) {
        // OpenSSL's generator is unavailable; the actor only has to be
        // distinct, so the system's generator serves.
        std::random_device rd;
        for (auto& b : a) b = static_cast<std::uint8_t>(rd());
    }
    return a;
}

std::string sha256_hex(const std::string& data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(data.data(), data.size(), md, &len, EVP_sha256(), nullptr);
    return to_hex(md, len);
}

// ---- change encoding (input of the heads digest) ----

void put_int(std::string& out, std::int64_t v) {
    out += std::to_string(v);
    out.push_back(';');
}
void put_str(std::string& out, std::string_view s) {
    out += std::to_string(s.size());
    out.push_back(':');
    out.append(s);
}
void put_value(std::string& out, Kind kind, const std::string& text, bool flag) {
    put_int(out, static_cast<int>(kind));
    if (kind == Kind::text) put_str(out, text);
    if (kind == Kind::boolean) put_int(out, flag ? 1 : 0);
}

std::string encode_ops(const std::vector<detail::RowOp>& ops) {
    std::string out;
    for (const auto& op : ops) {
        if (const auto* ins = std::get_if<detail::InsertRow>(&op)) {
            out += "i";
            put_int(out, ins->id);
            put_int(out, ins->parent);
            if (ins->key) {
                out += "k";
                put_str(out, *ins->key);
            } else {
                out += "o";
                put_int(out, ins->ord.value_or(0));
            }
            put_value(out, ins->kind, ins->text, ins->flag);
        } else if (const auto* del = std::get_if<detail::DeleteRows>(&op)) {
            out += "d";
            put_int(out, static_cast<std::int64_t>(del->ids.size()));
            for (auto id : del->ids) put_int(out, id);
        } else if (const auto* upd = std::get_if<detail::UpdateRow>(&op)) {
            out += "u";
            put_int(out, upd->id);
            put_value(out, upd->kind, upd->text, upd->flag);
        }
    }
    return out;
}

// ---- reading ----

const Node* find(const State* s, const Path& path) {
    if (!s) return nullptr;
    const Node* n = &s->root;
    for (const auto& k : path.keys()) {
        if (n->kind != Kind::map) return nullptr;
        auto it = n->entries.find(k);
        if (it == n->entries.end()) return nullptr;
        n = it->second.get();
    }
    return n;
}

const Node* find_entry(const State* s, const Path& map, std::string_view key) {
    const Node* m = find(s, map);
    if (!m || m->kind != Kind::map) return nullptr;
    auto it = m->entries.find(key);
    return it == m->entries.end() ? nullptr : it->second.get();
}

// ---- writing ----

void collect_ids(const Node& n, std::vector<std::int64_t>& out) {
    out.push_back(n.id);
    for (const auto& [k, child] : n.entries) collect_ids(*child, out);
    for (const auto& child : n.items) collect_ids(*child, out);
}

std::unique_ptr<Node> new_node(State& s, Kind kind) {
    auto n = std::make_unique<Node>();
    n->id = s.next_id++;
    n->kind = kind;
    return n;
}

// Sets map[key] to a fresh value node, recording undo and row effects.
Node* set_slot(State& s, Node* map, std::string_view key, std::unique_ptr<Node> value) {
    Node* raw = value.get();
    auto it = map->entries.find(key);
    std::unique_ptr<Node> old;
    if (it != map->entries.end()) {
        old = std::move(it->second);
        detail::DeleteRows del;
        collect_ids(*old, del.ids);
        s.ops.emplace_back(std::move(del));
        it->second = std::move(value);
    } else {
        map->entries.emplace(std::string(key), std::move(value));
    }
    s.ops.emplace_back(detail::InsertRow{raw->id, map->id, std::string(key), std::nullopt, raw->kind,
                                         raw->text, raw->flag});
    s.undo.emplace_back(detail::UndoSlot{map, std::string(key), std::move(old)});
    return raw;
}

// The container of `kind` under map[key], replacing whatever else is there.
Node* ensure_container(State& s, Node* map, std::string_view key, Kind kind) {
    auto it = map->entries.find(key);
    if (it != map->entries.end() && it->second->kind == kind) return it->second.get();
    return set_slot(s, map, key, new_node(s, kind));
}

Node* ensure_map_path(State& s, const std::vector<std::string>& keys, std::size_t count) {
    Node* n = &s.root;
    for (std::size_t i = 0; i < count; ++i) n = ensure_container(s, n, keys[i], Kind::map);
    return n;
}

Node* ensure_map(State& s, const Path& path) {
    return ensure_map_path(s, path.keys(), path.keys().size());
}

Node* ensure_list(State& s, const Path& path) {
    const auto& keys = path.keys();
    if (keys.empty()) return nullptr;
    Node* parent = ensure_map_path(s, keys, keys.size() - 1);
    return ensure_container(s, parent, keys.back(), Kind::list);
}

void put_scalar(State& s, const Path& map, std::string_view key, Kind kind, std::string_view text,
                bool flag) {
    Node* m = ensure_map(s, map);
    auto it = m->entries.find(key);
    if (it != m->entries.end() && it->second->kind == kind) {
        Node* n = it->second.get();
        if (kind == Kind::text ? n->text == text : n->flag == flag) return;
        s.undo.emplace_back(detail::UndoScalar{n, n->text, n->flag});
        n->text = std::string(text);
        n->flag = flag;
        s.ops.emplace_back(detail::UpdateRow{n->id, kind, n->text, n->flag});
        return;
    }
    auto n = new_node(s, kind);
    n->text = std::string(text);
    n->flag = flag;
    set_slot(s, m, key, std::move(n));
}

void rollback(State& s) {
    for (auto it = s.undo.rbegin(); it != s.undo.rend(); ++it) {
        if (auto* slot = std::get_if<detail::UndoSlot>(&*it)) {
            if (slot->old) {
                slot->map->entries[slot->key] = std::move(slot->old);
            } else {
                slot->map->entries.erase(slot->key);
            }
        } else if (auto* sc = std::get_if<detail::UndoScalar>(&*it)) {
            sc->node->text = std::move(sc->text);
            sc->node->flag = sc->flag;
        } else if (auto* ap = std::get_if<detail::UndoAppend>(&*it)) {
            ap->list->items.pop_back();
        } else if (auto* er = std::get_if<detail::UndoErase>(&*it)) {
            er->list->items.insert(er->list->items.begin() + static_cast<std::ptrdiff_t>(er->index),
                                   std::move(er->old));
        }
    }
    s.next_id = s.next_id_before;
}

}  // namespace

// ---- Reader ----

std::optional<Kind> Reader::kind(const Path& path) const {
    const Node* n = find(read_, path);
    if (!n) return std::nullopt;
    return n->kind;
}

bool Reader::has(const Path& map, std::string_view key) const {
    return find_entry(read_, map, key) != nullptr;
}

std::optional<bool> Reader::get_bool(const Path& map, std::string_view key) const {
    const Node* n = find_entry(read_, map, key);
    if (!n || n->kind != Kind::boolean) return std::nullopt;
    return n->flag;
}

std::optional<std::string> Reader::get_text(const Path& map, std::string_view key) const {
    const Node* n = find_entry(read_, map, key);
    if (!n || n->kind != Kind::text) return std::nullopt;
    return n->text;
}

std::vector<std::string> Reader::keys(const Path& map) const {
    std::vector<std::string> out;
    const Node* n = find(read_, map);
    if (!n || n->kind != Kind::map) return out;
    out.reserve(n->entries.size());
    for (const auto& [k, v] : n->entries) out.push_back(k);
    return out;
}

std::vector<std::string> Reader::list_texts(const Path& list) const {
    std::vector<std::string> out;
    const Node* n = find(read_, list);
    if (!n || n->kind != Kind::list) return out;
    out.reserve(n->items.size());
    for (const auto& item : n->items) out.push_back(item->text);
    return out;
}

// ---- Tx ----

void Tx::get_or_create_map(const Path& path) { ensure_map(*write_, path); }

void Tx::get_or_create_list(const Path& path) { ensure_list(*write_, path); }

void Tx::put_bool(const Path& map, std::string_view key, bool value) {
    put_scalar(*write_, map, key, Kind::boolean, {}, value);
}

void Tx::put_text(const Path& map, std::string_view key, std::string_view value) {
    put_scalar(*write_, map, key, Kind::text, value, false);
}

void Tx::delete_key(const Path& map, std::string_view key) {
    State& s = *write_;
    Node* m = const_cast<Node*>(find(&s, map));
    if (!m || m->kind != Kind::map) return;
    auto it = m->entries.find(key);
    if (it == m->entries.end()) return;
    detail::DeleteRows del;
    collect_ids(*it->second, del.ids);
    s.ops.emplace_back(std::move(del));
    s.undo.emplace_back(detail::UndoSlot{m, it->first, std::move(it->second)});
    m->entries.erase(it);
}

void Tx::list_append_text(const Path& list, std::string_view text) {
    State& s = *write_;
    Node* l = ensure_list(s, list);
    if (!l) return;
    auto n = new_node(s, Kind::text);
    n->text = std::string(text);
    n->ord = l->items.empty() ? 0 : l->items.back()->ord + 1;
    s.ops.emplace_back(
        detail::InsertRow{n->id, l->id, std::nullopt, n->ord, Kind::text, n->text, false});
    l->items.push_back(std::move(n));
    s.undo.emplace_back(detail::UndoAppend{l});
}

bool Tx::list_delete(const Path& list, std::size_t index) {
    State& s = *write_;
    Node* l = const_cast<Node*>(find(&s, list));
    if (!l || l->kind != Kind::list || index >= l->items.size()) return false;
    auto pos = l->items.begin() + static_cast<std::ptrdiff_t>(index);
    detail::DeleteRows del;
    collect_ids(**pos, del.ids);
    s.ops.emplace_back(std::move(del));
    s.undo.emplace_back(detail::UndoErase{l, index, std::move(*pos)});
    l->items.erase(pos);
    return true;
}

// ---- Doc ----

Doc::Doc(std::unique_ptr<State> state) : Reader(state.get()), state_(std::move(state)) {}

Doc::Doc(Doc&& other) noexcept : Reader(other.state_.get()), state_(std::move(other.state_)) {
    other.read_ = nullptr;
}

Doc& Doc::operator=(Doc&& other) noexcept {
    if (this != &other) {
        state_ = std::move(other.state_);
        read_ = state_.get();
        other.read_ = nullptr;
    }
    return *this;
}

Doc::~Doc() = default;

Doc Doc::open_in_memory() {
    auto s = std::make_unique<State>();
    s->actor = random_actor();
    return Doc(std::move(s));
}

lib::Result<Doc> Doc::open(const std::filesystem::path& file) {
    auto s = std::make_unique<State>();
    s->file = file;
    detail::LoadedDoc loaded;
    auto store = detail::Store::open(file, random_actor(), loaded);
    if (!store) return store.take_error();
    s->store = std::move(*store);
    s->actor = loaded.actor;
    s->heads = std::move(loaded.heads);
    s->changes = loaded.changes;
    if (auto built = detail::build_tree(*s, loaded.rows); !built) {
        return lib::err("the document " + file.string() + " is damaged: " + built.error());
    }
    return Doc(std::move(s));
}

const std::string& Doc::heads() const {
    static const std::string none;
    return state_ ? state_->heads : none;
}

std::uint64_t Doc::change_count() const { return state_ ? state_->changes : 0; }

const std::array<std::uint8_t, 16>& Doc::actor_bytes() const {
    static const std::array<std::uint8_t, 16> none{};
    return state_ ? state_->actor : none;
}

std::string Doc::actor() const {
    const auto& a = actor_bytes();
    return to_hex(a.data(), a.size());
}

const std::filesystem::path& Doc::file() const {
    static const std::filesystem::path none;
    return state_ ? state_->file : none;
}

lib::Status Doc::apply(const std::function<lib::Status(Tx&)>& fn) {
    if (!state_) return lib::err("the document was moved away");
    State& s = *state_;
    if (s.in_change) return lib::err("a document change cannot start inside another change");
    s.in_change = true;
    s.next_id_before = s.next_id;
    s.undo.clear();
    s.ops.clear();
    struct Finish {
        State& s;
        ~Finish() {
            s.in_change = false;
            s.undo.clear();
            s.ops.clear();
        }
    } finish{s};

    lib::Status result;
    try {
        Tx tx(&s);
        result = fn(tx);
    } catch (...) {
        rollback(s);
        throw;
    }
    if (!result) {
        rollback(s);
        return result;
    }
    if (s.ops.empty()) return lib::ok_status();

    std::string input = s.heads;
    input += '\n';
    input += to_hex(s.actor.data(), s.actor.size());
    input += '\n';
    input += std::to_string(s.changes + 1);
    input += '\n';
    input += encode_ops(s.ops);
    std::string heads = sha256_hex(input);

    if (s.store) {
        lib::Status stored = s.store->commit(s.ops, heads, s.changes + 1);
        if (!stored) {
            rollback(s);
            return lib::err("could not save the document " + s.file.string() + ": " + stored.error());
        }
    }
    s.heads = std::move(heads);
    s.changes += 1;
    return lib::ok_status();
}

// ---- loading ----

lib::Status detail::build_tree(State& s, std::vector<LoadedRow>& rows) {
    std::unordered_map<std::int64_t, Node*> index;
    index.reserve(rows.size() + 1);
    s.root = Node{};
    s.root.id = 0;
    s.root.kind = Kind::map;
    index.emplace(0, &s.root);
    std::int64_t max_id = 0;
    for (auto& row : rows) {
        std::string where = "value " + std::to_string(row.id);
        if (row.id <= 0 || row.id <= max_id) return lib::err(where + " has a bad id");
        max_id = row.id;
        auto pit = index.find(row.parent);
        if (pit == index.end()) return lib::err(where + " has no parent");
        Node* parent = pit->second;
        if (row.kind < 0 || row.kind > 3) return lib::err(where + " has an unknown kind");
        auto n = std::make_unique<Node>();
        n->id = row.id;
        n->kind = static_cast<Kind>(row.kind);
        if (n->kind == Kind::text) {
            if (!row.text) return lib::err(where + " is a text without text");
            n->text = std::move(*row.text);
        } else if (n->kind == Kind::boolean) {
            if (!row.number || (*row.number != 0 && *row.number != 1)) {
                return lib::err(where + " is a boolean without a boolean");
            }
            n->flag = *row.number == 1;
        }
        Node* raw = n.get();
        if (parent->kind == Kind::map) {
            if (!row.key || row.ord) return lib::err(where + " is a map entry without a key");
            auto [it, inserted] = parent->entries.emplace(std::move(*row.key), std::move(n));
            if (!inserted) return lib::err(where + " repeats a key");
        } else if (parent->kind == Kind::list) {
            if (!row.ord || row.key) return lib::err(where + " is a list element without a position");
            if (n->kind != Kind::text) return lib::err(where + " is a list element that is not a text");
            n->ord = *row.ord;
            parent->items.push_back(std::move(n));
        } else {
            return lib::err(where + " lies under a value that is not a map or list");
        }
        index.emplace(raw->id, raw);
    }
    for (auto& [id, node] : index) {
        if (node->kind != Kind::list) continue;
        auto& items = node->items;
        std::stable_sort(items.begin(), items.end(),
                         [](const auto& a, const auto& b) { return a->ord < b->ord; });
        for (std::size_t i = 1; i < items.size(); ++i) {
            if (items[i]->ord == items[i - 1]->ord) {
                return lib::err("list " + std::to_string(id) + " repeats a position");
            }
        }
    }
    s.next_id = max_id + 1;
    return lib::ok_status();
}

}  // namespace runtime::persist
