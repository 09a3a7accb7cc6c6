// The SQLite form of a document.
//
// Table nodes holds one row per value: maps and lists as rows without a
// value, texts in `value` as TEXT, booleans as INTEGER 0 or 1. A map entry has
// its key in `key`; a list element has its position in `ord` (positions grow
// along the list, gaps allowed). The root map is id 0 and has no row; a child
// always has a larger id than its parent, so rows in id order rebuild the tree.
// Table meta holds the format, the actor, the heads and the change count.
// A change rewrites only the rows it touched.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "runtime/persist/state.h"

namespace runtime::persist::detail {

namespace {

constexpr int kApplicationId = 0x5A4D444F;  // "ZMDO"
constexpr std::int64_t kFormat = 1;

const char kSchema[] =
    "CREATE TABLE nodes("
    "  id INTEGER PRIMARY KEY,"
    "  parent INTEGER NOT NULL,"
    "  key TEXT,"
    "  ord INTEGER,"
    "  kind INTEGER NOT NULL,"
    "  value);"
    "CREATE UNIQUE INDEX nodes_entry ON nodes(parent, key) WHERE key IS NOT NULL;"
    "CREATE TABLE meta(name TEXT PRIMARY KEY, value) WITHOUT ROWID;";

struct Stmt {
    sqlite3_stmt* s = nullptr;
    ~Stmt() { sqlite3_finalize(s); }
};

std::string hex(const std::array<std::uint8_t, 16>& a) {
    static const char d[] = "0123456789abcdef";
    std::string out;
    for (auto b : a) {
        out.push_back(d[b >> 4]);
        out.push_back(d[b & 15]);
    }
    return out;
}

bool unhex(std::string_view text, std::array<std::uint8_t, 16>& out) {
    if (text.size() != 32) return false;
    auto val = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < 16; ++i) {
        int hi = val(text[2 * i]), lo = val(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return true;
}

bool is_heads(std::string_view text) {
    if (text.empty()) return true;
    if (text.size() != 64) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

}  // namespace

struct Store::Db {
    sqlite3* db = nullptr;
    Stmt insert, remove, update, set_meta;

    ~Db() {
        sqlite3_finalize(insert.s);
        insert.s = nullptr;
        sqlite3_finalize(remove.s);
        remove.s = nullptr;
        sqlite3_finalize(update.s);
        update.s = nullptr;
        sqlite3_finalize(set_meta.s);
        set_meta.s = nullptr;
        if (db) sqlite3_close_v2(db);
    }

    std::string message() const { return db ? sqlite3_errmsg(db) : "out of memory"; }

    bool exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

    bool prepare(Stmt& st, const char* sql) {
        return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st.s, nullptr) == SQLITE_OK;
    }

    // The single integer or text result of a query, or nothing.
    bool query_int(const char* sql, std::int64_t& out) {
        Stmt st;
        if (sqlite3_prepare_v2(db, sql, -1, &st.s, nullptr) != SQLITE_OK) return false;
        if (sqlite3_step(st.s) != SQLITE_ROW) return false;
        out = sqlite3_column_int64(st.s, 0);
        return true;
    }

    void rollback_if_open() {
        if (!sqlite3_get_autocommit(db)) exec("ROLLBACK");
    }
};

Store::Store(std::unique_ptr<Db> db) : db_(std::move(db)) {}
Store::~Store() = default;

lib::Result<std::unique_ptr<Store>> Store::open(const std::filesystem::path& file,
                                                const std::array<std::uint8_t, 16>& fresh_actor,
                                                LoadedDoc& out) {
    const std::string name = file.string();
    if (name.empty()) return lib::err("no file was given for the document");
    std::error_code ec;
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), ec);
        if (ec) {
            return lib::err("could not create the folder of the document " + name + ": " + ec.message());
        }
    }
    if (std::filesystem::is_directory(file, ec)) {
        return lib::err("could not open the document " + name + ": it is a folder");
    }
    // Create the file ourselves so that it is private from the start; SQLite
    // gives its journal files the same permissions.
    int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return lib::err("could not open the document " + name + ": " + std::strerror(errno));
    }
    ::close(fd);

    auto db = std::make_unique<Db>();
    int rc = sqlite3_open_v2(name.c_str(), &db->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        return lib::err("could not open the document " + name + ": " + db->message());
    }
    sqlite3_extended_result_codes(db->db, 1);

    auto failed = [&](std::string what) -> lib::Error {
        int code = sqlite3_errcode(db->db) & 0xff;
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
            return lib::err("the document " + name + " is in use by another program");
        }
        if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT) {
            return lib::err("the document " + name + " is damaged: " + db->message());
        }
        return lib::err("could not open the document " + name + ": " + what + ": " + db->message());
    };

    // The exclusive lock is taken by the first transaction below and held
    // until the document is closed; with it SQLite keeps the WAL index in
    // memory instead of a shared-memory file.
    if (!db->exec("PRAGMA locking_mode=EXCLUSIVE")) return failed("locking mode");
    sqlite3_busy_timeout(db->db, 200);
    {
        Stmt st;
        if (sqlite3_prepare_v2(db->db, "PRAGMA journal_mode=WAL", -1, &st.s, nullptr) != SQLITE_OK ||
            sqlite3_step(st.s) != SQLITE_ROW) {
            return failed("journal mode");
        }
        const char* mode = reinterpret_cast<const char*>(sqlite3_column_text(st.s, 0));
        if (!mode || std::strcmp(mode, "wal") != 0) {
            return lib::err("could not open the document " + name + ": write-ahead logging is unavailable");
        }
    }
    if (!db->exec("PRAGMA synchronous=FULL")) return failed("synchronous mode");
    if (!db->exec("BEGIN EXCLUSIVE")) return failed("lock");

    auto read_failed = [&]() -> lib::Error {
        auto e = failed("read");
        db->rollback_if_open();
        return e;
    };
    std::int64_t app_id = 0, tables = 0;
    if (!db->query_int("PRAGMA application_id", app_id) ||
        !db->query_int("SELECT count(*) FROM sqlite_schema", tables)) {
        return read_failed();
    }
    if (app_id == 0 && tables == 0) {
        // A new document.
        std::string sql = std::string(kSchema) + "PRAGMA application_id=" + std::to_string(kApplicationId) +
                          ";INSERT INTO meta VALUES('format'," + std::to_string(kFormat) +
                          "),('actor','" + hex(fresh_actor) + "'),('heads',''),('changes',0);";
        if (!db->exec(sql.c_str())) return read_failed();
        app_id = kApplicationId;
    }
    if (app_id != kApplicationId) {
        db->rollback_if_open();
        return lib::err("the document " + name + " is not a document of this program");
    }

    // Meta.
    {
        Stmt st;
        if (sqlite3_prepare_v2(db->db, "SELECT name, value FROM meta", -1, &st.s, nullptr) != SQLITE_OK) {
            return read_failed();
        }
        bool have_actor = false, have_heads = false, have_changes = false;
        std::int64_t format = -1;
        while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
            const auto* k = reinterpret_cast<const char*>(sqlite3_column_text(st.s, 0));
            std::string key = k ? k : "";
            int type = sqlite3_column_type(st.s, 1);
            if (key == "format" && type == SQLITE_INTEGER) {
                format = sqlite3_column_int64(st.s, 1);
            } else if (key == "actor" && type == SQLITE_TEXT) {
                have_actor = unhex(reinterpret_cast<const char*>(sqlite3_column_text(st.s, 1)), out.actor);
            } else if (key == "heads" && type == SQLITE_TEXT) {
                out.heads = reinterpret_cast<const char*>(sqlite3_column_text(st.s, 1));
                have_heads = is_heads(out.heads);
            } else if (key == "changes" && type == SQLITE_INTEGER) {
                std::int64_t n = sqlite3_column_int64(st.s, 1);
                have_changes = n >= 0;
                out.changes = static_cast<std::uint64_t>(n);
            }
        }
        if (rc != SQLITE_DONE) return read_failed();
        if (format > kFormat) {
            db->rollback_if_open();
            return lib::err("the document " + name + " was written by a newer version of this program");
        }
        if (format != kFormat || !have_actor || !have_heads || !have_changes) {
            db->rollback_if_open();
            return lib::err("the document " + name + " is damaged: its header is incomplete");
        }
    }

    // Values.
    {
        Stmt st;
        if (sqlite3_prepare_v2(db->db, "SELECT id, parent, key, ord, kind, value FROM nodes ORDER BY id",
                               -1, &st.s, nullptr) != SQLITE_OK) {
            return read_failed();
        }
        while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
            LoadedRow row;
            row.id = sqlite3_column_int64(st.s, 0);
            row.parent = sqlite3_column_int64(st.s, 1);
            if (sqlite3_column_type(st.s, 2) == SQLITE_TEXT) {
                row.key.emplace(reinterpret_cast<const char*>(sqlite3_column_text(st.s, 2)),
                                static_cast<std::size_t>(sqlite3_column_bytes(st.s, 2)));
            } else if (sqlite3_column_type(st.s, 2) != SQLITE_NULL) {
                row.key.emplace();  // wrong type: caught as a damaged entry below
                row.ord = 0;
            }
            if (sqlite3_column_type(st.s, 3) == SQLITE_INTEGER) row.ord = sqlite3_column_int64(st.s, 3);
            row.kind = sqlite3_column_int(st.s, 4);
            int vt = sqlite3_column_type(st.s, 5);
            if (vt == SQLITE_TEXT) {
                row.text.emplace(reinterpret_cast<const char*>(sqlite3_column_text(st.s, 5)),
                                 static_cast<std::size_t>(sqlite3_column_bytes(st.s, 5)));
            } else if (vt == SQLITE_INTEGER) {
                row.number = sqlite3_column_int64(st.s, 5);
            }
            out.rows.push_back(std::move(row));
        }
        if (rc != SQLITE_DONE) return read_failed();
    }
    if (!db->exec("COMMIT")) return read_failed();

    if (!db->prepare(db->insert, "INSERT INTO nodes(id, parent, key, ord, kind, value) VALUES(?,?,?,?,?,?)") ||
        !db->prepare(db->remove, "DELETE FROM nodes WHERE id=?") ||
        !db->prepare(db->update, "UPDATE nodes SET value=? WHERE id=?") ||
        !db->prepare(db->set_meta, "UPDATE meta SET value=? WHERE name=?")) {
        return failed("prepare");
    }
    return std::unique_ptr<Store>(new Store(std::move(db)));
}

namespace {

int bind_value(sqlite3_stmt* st, int col, Kind kind, const std::string& text, bool flag) {
    if (kind == Kind::text) {
        return sqlite3_bind_text(st, col, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    }
    if (kind == Kind::boolean) return sqlite3_bind_int(st, col, flag ? 1 : 0);
    return sqlite3_bind_null(st, col);
}

// Runs a bound statement to completion and makes it ready for reuse.
bool run(sqlite3_stmt* st) {
    int rc = sqlite3_step(st);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    return rc == SQLITE_DONE;
}

}  // namespace

lib::Status Store::commit(const std::vector<RowOp>& ops, const std::string& heads, std::uint64_t changes) {
    Db& d = *db_;
    if (!d.exec("BEGIN IMMEDIATE")) return lib::err(d.message());
    auto fail = [&]() -> lib::Status {
        std::string msg = d.message();
        d.rollback_if_open();
        return lib::err(msg);
    };
    for (const auto& op : ops) {
        if (const auto* ins = std::get_if<InsertRow>(&op)) {
            sqlite3_stmt* st = d.insert.s;
            sqlite3_bind_int64(st, 1, ins->id);
            sqlite3_bind_int64(st, 2, ins->parent);
            if (ins->key) {
                sqlite3_bind_text(st, 3, ins->key->data(), static_cast<int>(ins->key->size()), SQLITE_STATIC);
            }
            if (ins->ord) sqlite3_bind_int64(st, 4, *ins->ord);
            sqlite3_bind_int(st, 5, static_cast<int>(ins->kind));
            bind_value(st, 6, ins->kind, ins->text, ins->flag);
            if (!run(st)) return fail();
        } else if (const auto* del = std::get_if<DeleteRows>(&op)) {
            for (auto id : del->ids) {
                sqlite3_bind_int64(d.remove.s, 1, id);
                if (!run(d.remove.s)) return fail();
            }
        } else if (const auto* upd = std::get_if<UpdateRow>(&op)) {
            bind_value(d.update.s, 1, upd->kind, upd->text, upd->flag);
            sqlite3_bind_int64(d.update.s, 2, upd->id);
            if (!run(d.update.s)) return fail();
        }
    }
    sqlite3_bind_text(d.set_meta.s, 1, heads.data(), static_cast<int>(heads.size()), SQLITE_STATIC);
    sqlite3_bind_text(d.set_meta.s, 2, "heads", -1, SQLITE_STATIC);
    if (!run(d.set_meta.s)) return fail();
    sqlite3_bind_int64(d.set_meta.s, 1, static_cast<std::int64_t>(changes));
    sqlite3_bind_text(d.set_meta.s, 2, "changes", -1, SQLITE_STATIC);
    if (!run(d.set_meta.s)) return fail();
    if (!d.exec("COMMIT")) return fail();
    return lib::ok_status();
}

}  // namespace runtime::persist::detail
