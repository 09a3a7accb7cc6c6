#include "runtime/blobstore/blobstore.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>

#include "lib/crypto/blake3.h"

namespace {

namespace fs = std::filesystem;
using runtime::blobstore::BlobStore;

class BlobStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "blobstore-XXXXXX").string();
        root_ = ::mkdtemp(tmpl.data());
    }
    void TearDown() override { fs::remove_all(root_); }

    std::vector<std::uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }
    unsigned mode_of(const fs::path& p) {
        struct stat st {};
        EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
        return st.st_mode & 07777;
    }
    std::size_t files_under(const fs::path& dir) {
        std::size_t n = 0;
        for (const auto& e : fs::recursive_directory_iterator(dir)) n += e.is_regular_file();
        return n;
    }

    fs::path root_;
};

TEST_F(BlobStoreTest, PutGivesTheContentAddressAndGetReturnsTheBytes) {
    BlobStore store(root_ / "blobs");
    std::string big(5 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 % 256);
    for (const std::string& content : {std::string(), std::string("hello"), std::string("\0\xff\n", 3), big}) {
        auto d = store.put(content);
        ASSERT_TRUE(d.ok()) << d.error();
        EXPECT_EQ(*d, lib::crypto::blake3_hex(content));
        auto back = store.get(*d);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, bytes(content));
        EXPECT_EQ(mode_of(store.path_for(*d)), 0600u);
        EXPECT_EQ(mode_of(store.path_for(*d).parent_path()), 0700u);
    }
    EXPECT_EQ(files_under(root_), 4u);
}

TEST_F(BlobStoreTest, SecondPutOfSameBytesIsANoOp) {
    BlobStore store(root_);
    auto first = store.put("same");
    ASSERT_TRUE(first.ok());
    auto path = store.path_for(*first);
    struct stat before {};
    ::stat(path.c_str(), &before);
    auto second = store.put("same");
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(*first, *second);
    struct stat after {};
    ::stat(path.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino) << "the stored file was rewritten";
    EXPECT_EQ(files_under(root_), 1u);
}

TEST_F(BlobStoreTest, MalformedOrUnknownDigestsGiveNothing) {
    BlobStore store(root_);
    auto d = store.put("content");
    ASSERT_TRUE(d.ok());
    std::string upper = *d;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // A file placed where a traversal would land must not be served.
    std::ofstream(root_ / "secret") << "x";
    const std::string cases[] = {
        "",
        d->substr(0, 63),
        *d + "0",
        upper,
        "mail-attachment:blake3:" + *d,
        "../" + d->substr(3),
        std::string(62, '0') + "/.",
        lib::crypto::blake3_hex("never stored"),
        std::string(64, '0'),
    };
    for (const auto& c : cases) EXPECT_FALSE(store.get(c).has_value()) << c;
    EXPECT_TRUE(store.get(*d).has_value());
}

TEST_F(BlobStoreTest, DamagedFilesAreNotServedAndAPutRepairsThem) {
    BlobStore store(root_);
    struct Case {
        std::string content;
        std::string damage;
    } cases[] = {{"flipped byte", "flipped bytf"}, {"truncated file", "trunc"}, {"grown", "grown!"}, {"emptied", ""}};
    for (const auto& c : cases) {
        auto d = store.put(c.content);
        ASSERT_TRUE(d.ok());
        std::ofstream(store.path_for(*d), std::ios::binary | std::ios::trunc) << c.damage;
        EXPECT_FALSE(store.get(*d).has_value()) << c.content;
        ASSERT_TRUE(store.put(c.content).ok());
        auto back = store.get(*d);
        ASSERT_TRUE(back.has_value()) << c.content;
        EXPECT_EQ(*back, bytes(c.content));
    }
}

TEST_F(BlobStoreTest, VerifyMatchesOnlyTheRightDigest) {
    std::string d = lib::crypto::blake3_hex("abc");
    std::string upper = d;
    upper[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[0])));
    struct Case {
        std::string bytes, digest;
        bool ok;
    } cases[] = {{"abc", d, true},         {"abd", d, false},         {"abc", d.substr(0, 63), false},
                 {"abc", upper, d == upper}, {"", lib::crypto::blake3_hex(""), true}, {"abc", "", false}};
    for (const auto& c : cases) EXPECT_EQ(BlobStore::verify(c.bytes, c.digest), c.ok) << c.bytes << " " << c.digest;
    EXPECT_TRUE(BlobStore::verify(bytes("abc"), d));
}

TEST_F(BlobStoreTest, PutFailsWhenTheStoreCannotBeCreated) {
    std::ofstream(root_ / "file") << "in the way";
    BlobStore store(root_ / "file" / "blobs");
    auto d = store.put("x");
    EXPECT_FALSE(d.ok());
    EXPECT_FALSE(d.error().empty());
    EXPECT_FALSE(store.get(lib::crypto::blake3_hex("x")).has_value());
}

TEST_F(BlobStoreTest, DefaultStoreLivesUnderTheDataRoot) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    std::string saved_value = saved ? saved : "";
    ::setenv("XDG_DATA_HOME", root_.c_str(), 1);
    auto store = BlobStore::open_default();
    ASSERT_TRUE(store.has_value());
    EXPECT_EQ(store->directory(), root_ / "zelk-mail" / "blobs");
    if (saved) ::setenv("XDG_DATA_HOME", saved_value.c_str(), 1); else ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
