#include "runtime/persist/document.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/persist/crash_model.h"

namespace {

namespace fs = std::filesystem;
using runtime::persist::Doc;
using runtime::persist::Kind;
using runtime::persist::Path;
using runtime::persist::Tx;
using runtime::persist::crash::dump;

class TempDir {
public:
    TempDir() {
        path_ = fs::temp_directory_path() /
                ("persist-test-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    fs::path file(const std::string& name = "doc.sqlite") const { return path_ / name; }

private:
    static inline int counter_ = 0;
    fs::path path_;
};

Doc open_ok(const fs::path& file) {
    auto doc = Doc::open(file);
    EXPECT_TRUE(doc.ok()) << doc.error();
    if (!doc.ok()) return Doc::open_in_memory();
    return std::move(doc).value();
}

void change_ok(Doc& doc, const std::function<void(Tx&)>& fn) {
    auto st = doc.change(fn);
    ASSERT_TRUE(st.ok()) << st.error();
}

// Writes replace values of another kind in place, and the replacement is
// what is stored: the old value's rows are gone after a reopen.
TEST(PersistDoc, WritesReplaceValuesOfAnotherKind) {
    struct Case {
        const char* name;
        std::function<void(Tx&)> before;
        std::function<void(Tx&)> write;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"map over text", [](Tx& t) { t.put_text({}, "a", "x"); },
         [](Tx& t) { t.get_or_create_map({"a"}); }, "{a={},}"},
        {"map over list", [](Tx& t) { t.list_append_text({"a"}, "x"); },
         [](Tx& t) { t.get_or_create_map({"a", "b"}); }, "{a={b={},},}"},
        {"list over map with children", [](Tx& t) { t.put_text({"a", "b"}, "c", "x"); },
         [](Tx& t) { t.get_or_create_list({"a"}); }, "{a=[],}"},
        {"append over text", [](Tx& t) { t.put_text({}, "a", "x"); },
         [](Tx& t) { t.list_append_text({"a"}, "y"); }, "{a=[\"y\",],}"},
        {"text over map", [](Tx& t) { t.put_bool({"a", "b"}, "c", true); },
         [](Tx& t) { t.put_text({}, "a", "x"); }, "{a=\"x\",}"},
        {"bool over text", [](Tx& t) { t.put_text({}, "a", "x"); },
         [](Tx& t) { t.put_bool({}, "a", false); }, "{a=false,}"},
        {"text over bool", [](Tx& t) { t.put_bool({}, "a", true); },
         [](Tx& t) { t.put_text({}, "a", "true"); }, "{a=\"true\",}"},
        {"path through a text", [](Tx& t) { t.put_text({}, "a", "x"); },
         [](Tx& t) { t.put_bool({"a", "b"}, "c", true); }, "{a={b={c=true,},},}"},
        {"existing map kept", [](Tx& t) { t.put_text({"a"}, "k", "v"); },
         [](Tx& t) { t.get_or_create_map({"a"}); }, "{a={k=\"v\",},}"},
        {"existing list kept", [](Tx& t) { t.list_append_text({"a"}, "v"); },
         [](Tx& t) { t.get_or_create_list({"a"}); }, "{a=[\"v\",],}"},
        {"root cannot become a list", [](Tx& t) { t.put_text({}, "a", "x"); },
         [](Tx& t) { t.get_or_create_list({}); }, "{a=\"x\",}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        {
            Doc doc = open_ok(dir.file());
            change_ok(doc, c.before);
            change_ok(doc, c.write);
            EXPECT_EQ(dump(doc), c.expected);
        }
        Doc again = open_ok(dir.file());
        EXPECT_EQ(dump(again), c.expected);
    }
}

TEST(PersistDoc, ReadsOfTheWrongKindAreAbsent) {
    Doc doc = Doc::open_in_memory();
    change_ok(doc, [](Tx& t) {
        t.put_text({}, "t", "text");
        t.put_bool({}, "b", true);
        t.get_or_create_map({"m"});
        t.list_append_text({"l"}, "x");
    });
    EXPECT_EQ(doc.get_text({}, "t"), "text");
    EXPECT_EQ(doc.get_bool({}, "b"), true);
    EXPECT_EQ(doc.get_bool({}, "t"), std::nullopt);
    EXPECT_EQ(doc.get_text({}, "b"), std::nullopt);
    EXPECT_EQ(doc.get_text({}, "m"), std::nullopt);
    EXPECT_EQ(doc.get_text({}, "l"), std::nullopt);
    EXPECT_EQ(doc.get_text({}, "missing"), std::nullopt);
    EXPECT_TRUE(doc.keys({"t"}).empty());
    EXPECT_TRUE(doc.keys({"l"}).empty());
    EXPECT_TRUE(doc.list_texts({"m"}).empty());
    EXPECT_TRUE(doc.list_texts({"t"}).empty());
    // A path that runs through a scalar or a list finds nothing.
    EXPECT_EQ(doc.kind({"t", "x"}), std::nullopt);
    EXPECT_EQ(doc.get_text({"l"}, "0"), std::nullopt);
    EXPECT_FALSE(doc.has({"t"}, "x"));
    for (const char* k : {"t", "b", "m", "l"}) EXPECT_TRUE(doc.has({}, k)) << k;
    EXPECT_FALSE(doc.has({}, "missing"));
    EXPECT_EQ(doc.kind({}), Kind::map);
    EXPECT_EQ(doc.kind({"l"}), Kind::list);
}

TEST(PersistDoc, KeysAreInByteOrder) {
    Doc doc = Doc::open_in_memory();
    change_ok(doc, [](Tx& t) {
        for (const char* k : {"b", "10", "9", "B", "", "a", "\xc3\xa9"}) t.put_bool({"m"}, k, true);
    });
    EXPECT_EQ(doc.keys({"m"}), (std::vector<std::string>{"", "10", "9", "B", "a", "b", "\xc3\xa9"}));
}

TEST(PersistDoc, ListDeleteKeepsOrderAcrossReopen) {
    TempDir dir;
    {
        Doc doc = open_ok(dir.file());
        change_ok(doc, [](Tx& t) {
            for (const char* s : {"a", "b", "c", "d"}) t.list_append_text({"l"}, s);
        });
        change_ok(doc, [](Tx& t) {
            EXPECT_TRUE(t.list_delete({"l"}, 1));
            EXPECT_FALSE(t.list_delete({"l"}, 3));  // only three left
            EXPECT_TRUE(t.list_delete({"l"}, 0));
        });
        EXPECT_EQ(doc.list_texts({"l"}), (std::vector<std::string>{"c", "d"}));
        change_ok(doc, [](Tx& t) {
            t.list_delete({"l"}, 1);
            t.list_append_text({"l"}, "e");
            t.list_append_text({"l"}, "f");
        });
        EXPECT_EQ(doc.list_texts({"l"}), (std::vector<std::string>{"c", "e", "f"}));
        // Deleting from what is not a list changes and creates nothing.
        std::string before = doc.heads();
        change_ok(doc, [](Tx& t) {
            EXPECT_FALSE(t.list_delete({"missing"}, 0));
            EXPECT_FALSE(t.list_delete({"x", "y"}, 0));
        });
        EXPECT_EQ(doc.heads(), before);
        EXPECT_FALSE(doc.has({}, "missing"));
        EXPECT_FALSE(doc.has({}, "x"));
    }
    Doc again = open_ok(dir.file());
    EXPECT_EQ(again.list_texts({"l"}), (std::vector<std::string>{"c", "e", "f"}));
    change_ok(again, [](Tx& t) { t.list_append_text({"l"}, "g"); });
    EXPECT_EQ(again.list_texts({"l"}), (std::vector<std::string>{"c", "e", "f", "g"}));
}

TEST(PersistDoc, DeleteKeyRemovesTheWholeValue) {
    TempDir dir;
    {
        Doc doc = open_ok(dir.file());
        change_ok(doc, [](Tx& t) {
            t.put_text({"flags", "m1"}, "folder", "inbox");
            t.list_append_text({"flags", "m1", "labels"}, "work");
            t.put_bool({"flags", "m2"}, "read", true);
        });
        change_ok(doc, [](Tx& t) { t.delete_key({"flags"}, "m1"); });
        std::uint64_t count = doc.change_count();
        change_ok(doc, [](Tx& t) {
            t.delete_key({"flags"}, "m1");
            t.delete_key({"nowhere", "deep"}, "x");
        });
        EXPECT_EQ(doc.change_count(), count);
        EXPECT_FALSE(doc.has({}, "nowhere"));
        // A value created again under the deleted key starts empty.
        change_ok(doc, [](Tx& t) { t.get_or_create_map({"flags", "m1"}); });
    }
    Doc again = open_ok(dir.file());
    EXPECT_EQ(dump(again), "{flags={m1={},m2={read=true,},},}");
}

TEST(PersistDoc, ValuesSurviveReopenExactly) {
    const std::vector<std::string> texts = {
        "", "plain", "caf\xc3\xa9 \xe2\x80\x94 \xe2\x80\x9cquoted\xe2\x80\x9d", std::string("nul\0inside", 10),
        std::string(100000, 'x'), "'); DROP TABLE nodes; --"};
    TempDir dir;
    std::string expected, heads;
    {
        Doc doc = open_ok(dir.file());
        change_ok(doc, [&](Tx& t) {
            for (std::size_t i = 0; i < texts.size(); ++i) {
                t.put_text({"texts"}, texts[i].substr(0, 50), texts[i]);
                t.list_append_text({"list"}, texts[i]);
            }
            t.put_bool({}, "yes", true);
            t.put_bool({}, "no", false);
        });
        expected = dump(doc);
        heads = doc.heads();
    }
    Doc again = open_ok(dir.file());
    EXPECT_EQ(dump(again), expected);
    EXPECT_EQ(again.list_texts({"list"}), texts);
    EXPECT_EQ(again.get_text({"texts"}, std::string("nul\0inside", 10)), texts[3]);
    EXPECT_EQ(again.heads(), heads);
}

TEST(PersistDoc, HeadsNameEachAppliedChange) {
    TempDir dir;
    std::vector<std::string> seen;
    std::string actor;
    {
        Doc doc = open_ok(dir.file());
        EXPECT_EQ(doc.heads(), "");
        EXPECT_EQ(doc.change_count(), 0u);
        actor = doc.actor();
        EXPECT_EQ(actor.size(), 32u);
        for (int i = 0; i < 5; ++i) {
            // The same write twice in a row: the second records nothing.
            change_ok(doc, [](Tx& t) { t.put_bool({}, "flag", true); });
            change_ok(doc, [i](Tx& t) { t.put_text({}, "n", std::to_string(i)); });
            seen.push_back(doc.heads());
        }
        EXPECT_EQ(doc.change_count(), 6u);  // one put of "flag", five of "n"
        std::string last = doc.heads();
        change_ok(doc, [](Tx& t) {
            t.put_text({}, "n", "4");  // unchanged value
            t.get_or_create_map({});
        });
        EXPECT_EQ(doc.heads(), last);
    }
    for (const auto& h : seen) {
        EXPECT_EQ(h.size(), 64u);
        EXPECT_EQ(h.find_first_not_of("0123456789abcdef"), std::string::npos);
    }
    for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_NE(seen[i], seen[i - 1]);

    Doc again = open_ok(dir.file());
    EXPECT_EQ(again.heads(), seen.back());
    EXPECT_EQ(again.actor(), actor);
    EXPECT_EQ(again.change_count(), 6u);

    // Two documents with different actors name the same edit differently.
    Doc a = Doc::open_in_memory(), b = Doc::open_in_memory();
    EXPECT_NE(a.actor(), b.actor());
    change_ok(a, [](Tx& t) { t.put_bool({}, "x", true); });
    change_ok(b, [](Tx& t) { t.put_bool({}, "x", true); });
    EXPECT_NE(a.heads(), b.heads());
}

// A cancelled change (error or exception from the callback) leaves the tree,
// the heads and the file as they were, whatever the change had done so far.
TEST(PersistDoc, CancelledChangeRollsBackEverything) {
    TempDir dir;
    Doc doc = open_ok(dir.file());
    change_ok(doc, [](Tx& t) {
        t.put_text({"a"}, "t", "one");
        t.put_bool({"a"}, "b", true);
        for (const char* s : {"x", "y", "z"}) t.list_append_text({"a", "l"}, s);
        t.put_text({"gone"}, "k", "v");
    });
    const std::string before = dump(doc), heads = doc.heads();
    auto edits = [](Tx& t) {
        t.put_text({"a"}, "t", "two");
        t.put_bool({"a"}, "b", false);
        t.list_delete({"a", "l"}, 1);
        t.list_append_text({"a", "l"}, "w");
        t.list_delete({"a", "l"}, 0);
        t.delete_key({}, "gone");
        t.put_text({}, "a", "replaced");  // the whole map above
        t.get_or_create_map({"a", "again"});
        t.put_text({"new"}, "k", "v");
        t.delete_key({}, "new");
    };
    auto st = doc.change([&](Tx& t) -> lib::Status {
        edits(t);
        EXPECT_EQ(t.get_text({"a", "again"}, "x"), std::nullopt);
        EXPECT_EQ(t.kind({"a", "again"}), Kind::map);  // the change sees its own writes
        return lib::err("purge refused");
    });
    EXPECT_EQ(st.error(), "purge refused");
    EXPECT_EQ(dump(doc), before);
    EXPECT_EQ(doc.heads(), heads);

    EXPECT_THROW(doc.change([&](Tx& t) {
        edits(t);
        throw std::runtime_error("boom");
    }),
                 std::runtime_error);
    EXPECT_EQ(dump(doc), before);
    EXPECT_EQ(doc.heads(), heads);

    // The document still works and the file agrees with memory.
    change_ok(doc, [](Tx& t) { t.list_append_text({"a", "l"}, "after"); });
    const std::string now = dump(doc);
    doc = Doc::open_in_memory();  // closes the file
    Doc again = open_ok(dir.file());
    EXPECT_EQ(dump(again), now);
}

TEST(PersistDoc, ChangeInsideChangeIsRefused) {
    Doc doc = Doc::open_in_memory();
    lib::Status inner;
    change_ok(doc, [&](Tx& t) {
        t.put_bool({}, "outer", true);
        inner = doc.change([](Tx& t2) { t2.put_bool({}, "inner", true); });
    });
    EXPECT_EQ(inner.error(), "a document change cannot start inside another change");
    EXPECT_EQ(doc.get_bool({}, "outer"), true);
    EXPECT_FALSE(doc.has({}, "inner"));
}

TEST(PersistDoc, InMemoryDocumentWritesNoFile) {
    TempDir dir;
    fs::path old = fs::current_path();
    fs::current_path(dir.path());
    {
        Doc doc = Doc::open_in_memory();
        change_ok(doc, [](Tx& t) {
            t.put_text({"draft"}, "subject", "hello");
            t.list_append_text({"l"}, "x");
        });
        EXPECT_EQ(doc.get_text({"draft"}, "subject"), "hello");
        EXPECT_EQ(doc.heads().size(), 64u);
        EXPECT_TRUE(doc.file().empty());
    }
    fs::current_path(old);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(PersistDoc, FileIsPrivateAndHeldExclusively) {
    TempDir dir;
    Doc doc = open_ok(dir.file());
    change_ok(doc, [](Tx& t) { t.put_text({}, "k", "v"); });
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        auto perms = fs::status(entry.path()).permissions();
        EXPECT_EQ(perms & (fs::perms::group_all | fs::perms::others_all), fs::perms::none)
            << entry.path();
    }
    auto second = Doc::open(dir.file());
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.error(), "the document " + dir.file().string() + " is in use by another program");
    // The first one is unaffected.
    change_ok(doc, [](Tx& t) { t.put_text({}, "k", "w"); });
}

void write_file(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// Runs SQL on a document file directly, as damage from outside would.
void tamper(const fs::path& file, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* msg = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &msg), SQLITE_OK) << (msg ? msg : "");
    sqlite3_free(msg);
    sqlite3_close(db);
}

TEST(PersistDoc, OpenFailuresAreClearMessages) {
    struct Case {
        const char* name;
        std::function<fs::path(const TempDir&)> prepare;  // returns the path to open
        std::string expected;  // "{file}" stands for the path
    };
    auto valid_doc = [](const TempDir& d) {
        Doc doc = open_ok(d.file());
        change_ok(doc, [](Tx& t) {
            t.put_text({"m"}, "k", "v");
            t.list_append_text({"l"}, "x");
        });
        return d.file();
    };
    const std::vector<Case> cases = {
        {"folder cannot be made", [](const TempDir&) { return fs::path("/proc/no-such-place/doc.sqlite"); },
         "could not create the folder of the document {file}: "},
        {"parent is a file",
         [](const TempDir& d) {
             write_file(d.file("plain"), "x");
             return d.file("plain") / "doc.sqlite";
         },
         "could not create the folder of the document {file}: "},
        {"path is a folder",
         [](const TempDir& d) {
             fs::create_directories(d.file("sub"));
             return d.file("sub");
         },
         "could not open the document {file}: it is a folder"},
        {"not a database",
         [](const TempDir& d) {
             write_file(d.file(), std::string(8192, '\x5a'));
             return d.file();
         },
         "the document {file} is damaged: file is not a database"},
        {"another program's database",
         [](const TempDir& d) {
             tamper(d.file(), "CREATE TABLE messages(id TEXT)");
             return d.file();
         },
         "the document {file} is not a document of this program"},
        {"newer format",
         [&](const TempDir& d) {
             valid_doc(d);
             tamper(d.file(), "UPDATE meta SET value=2 WHERE name='format'");
             return d.file();
         },
         "the document {file} was written by a newer version of this program"},
        {"missing actor",
         [&](const TempDir& d) {
             valid_doc(d);
             tamper(d.file(), "DELETE FROM meta WHERE name='actor'");
             return d.file();
         },
         "the document {file} is damaged: its header is incomplete"},
        {"orphan value",
         [&](const TempDir& d) {
             valid_doc(d);
             tamper(d.file(), "INSERT INTO nodes VALUES(1000, 999, 'k', NULL, 2, 'v')");
             return d.file();
         },
         "the document {file} is damaged: value 1000 has no parent"},
        {"boolean that is not one",
         [&](const TempDir& d) {
             valid_doc(d);
             tamper(d.file(), "INSERT INTO nodes VALUES(1000, 0, 'b', NULL, 3, 7)");
             return d.file();
         },
         "the document {file} is damaged: value 1000 is a boolean without a boolean"},
        {"unknown kind",
         [&](const TempDir& d) {
             valid_doc(d);
             tamper(d.file(), "UPDATE nodes SET kind=9 WHERE key='k'");
             return d.file();
         },
         "the document {file} is damaged: value "},
        {"value under a text",
         [&](const TempDir& d) {
             valid_doc(d);
             tamper(d.file(), "INSERT INTO nodes SELECT 1000, id, 'z', NULL, 2, 'v' FROM nodes WHERE key='k'");
             return d.file();
         },
         "the document {file} is damaged: value 1000 lies under a value that is not a map or list"},
        {"list element without a position",
         [&](const TempDir& d) {
             valid_doc(d);
             tamper(d.file(), "UPDATE nodes SET ord=NULL WHERE value='x'");
             return d.file();
         },
         "the document {file} is damaged: value "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::path path = c.prepare(dir);
        auto doc = Doc::open(path);
        ASSERT_FALSE(doc.ok());
        std::string expected = c.expected;
        expected.replace(expected.find("{file}"), 6, path.string());
        EXPECT_EQ(doc.error().substr(0, expected.size()), expected) << doc.error();
    }
}

// A commit that the disk refuses (here: the file size limit, as a full disk
// would) fails as a value and leaves memory equal to what is stored.
TEST(PersistDoc, FailedCommitLeavesMemoryEqualToTheFile) {
    TempDir dir;
    Doc doc = open_ok(dir.file());
    change_ok(doc, [](Tx& t) {
        t.put_text({"a"}, "k", "v");
        t.list_append_text({"l"}, "x");
    });
    const std::string before = dump(doc), heads = doc.heads();

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = static_cast<rlim_t>(fs::file_size(dir.file("doc.sqlite-wal")) + 4096);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    auto st = doc.change([](Tx& t) {
        t.put_text({"a"}, "k", "w");
        t.delete_key({}, "l");
        t.put_text({"big"}, "data", std::string(1 << 20, 'b'));
    });
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    signal(SIGXFSZ, old_handler);

    ASSERT_FALSE(st.ok());
    const std::string prefix = "could not save the document " + dir.file().string() + ": ";
    EXPECT_EQ(st.error().substr(0, prefix.size()), prefix) << st.error();
    EXPECT_EQ(dump(doc), before);
    EXPECT_EQ(doc.heads(), heads);

    // The next change works, and the file holds exactly what memory holds.
    change_ok(doc, [](Tx& t) { t.put_text({"a"}, "k", "after"); });
    const std::string now = dump(doc), now_heads = doc.heads();
    doc = Doc::open_in_memory();
    Doc again = open_ok(dir.file());
    EXPECT_EQ(dump(again), now);
    EXPECT_EQ(again.heads(), now_heads);
}

// A mailbox-sized document opens and takes a change in milliseconds: a
// change writes only what it touches.
TEST(PersistDoc, LargeDocumentOpensAndChangesQuickly) {
    using clock = std::chrono::steady_clock;
    TempDir dir;
    const int messages = 5000;
    {
        Doc doc = open_ok(dir.file());
        change_ok(doc, [&](Tx& t) {
            for (int i = 0; i < messages; ++i) {
                std::string id = "00000000-0000-4000-8000-" + std::to_string(100000000000 + i);
                t.put_bool({"messages", id}, "present", true);
                t.put_bool({"flags", id}, "read", i % 3 == 0);
                t.put_bool({"flags", id}, "starred", i % 7 == 0);
                t.put_text({"flags", id}, "folder", "inbox");
                t.list_append_text({"flags", id, "labels"}, "label " + std::to_string(i % 10));
            }
        });
    }
    auto t0 = clock::now();
    Doc doc = open_ok(dir.file());
    auto open_ms = std::chrono::duration<double, std::milli>(clock::now() - t0).count();
    ASSERT_EQ(doc.keys({"flags"}).size(), static_cast<std::size_t>(messages));

    const int changes = 50;
    t0 = clock::now();
    for (int i = 0; i < changes; ++i) {
        std::string id = "00000000-0000-4000-8000-" + std::to_string(100000000000 + i * 37);
        change_ok(doc, [&](Tx& t) {
            t.put_bool({"flags", id}, "read", i % 2 == 0);
            t.put_text({"flags", id}, "folder", "archive");
            t.list_append_text({"flags", id, "labels"}, "moved");
        });
    }
    auto change_ms = std::chrono::duration<double, std::milli>(clock::now() - t0).count() / changes;
    std::printf("open of %d messages: %.1f ms, one change: %.2f ms\n", messages, open_ms, change_ms);
    // Generous bounds (sanitizer builds, a busy machine); a change that
    // rewrote the document would take far longer than this.
    EXPECT_LT(open_ms, 2000.0);
    EXPECT_LT(change_ms, 40.0);
}

}  // namespace
