#include "app/preferences.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace mail::app {
namespace {

namespace fs = std::filesystem;

class Preferences : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("mail-prefs-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    void put(const std::string& content) {
        std::ofstream(dir_ / "mail-local.json", std::ios::binary) << content;
    }
    std::string get() const {
        std::ifstream in(dir_ / "mail-local.json", std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    fs::path dir_;
};

TEST_F(Preferences, ReadingRule) {
    const std::pair<const char*, bool> cases[] = {
        {R"({"compose_format":"text"})", true},
        {R"({ "compose_format" : "text", "other": 1 })", true},
        {R"({"compose_format":"html"})", false},
        {R"({"compose_format":"TEXT"})", false},
        {R"({"compose_format":"text","compose_format":"text"})", false},  // duplicate key
        {R"({"compose_format":true})", false},
        {R"(["text"])", false},
        {R"({"compose_format":"text")", false},
        {"", false},
    };
    const StorageLocation here = StorageLocation::directory(dir_);
    for (const auto& [content, plain] : cases) {
        put(content);
        EXPECT_EQ(read_compose_format(here), plain) << content;
    }
    fs::remove(dir_ / "mail-local.json");
    EXPECT_FALSE(read_compose_format(here)) << "missing file";
    EXPECT_FALSE(read_compose_format(StorageLocation::none()));
    EXPECT_FALSE(read_compose_format(StorageLocation::directory(dir_ / "nowhere")));
}

TEST_F(Preferences, WritingExactTextsAndCreatingTheFolder) {
    const StorageLocation deep = StorageLocation::directory(dir_ / "a" / "b");
    ASSERT_TRUE(write_compose_format(deep, true).ok());
    EXPECT_TRUE(read_compose_format(deep));
    std::ifstream in(dir_ / "a" / "b" / "mail-local.json", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, R"({"compose_format":"text"})");

    const StorageLocation here = StorageLocation::directory(dir_);
    put(R"({"compose_format":"text","padding":"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"})");
    ASSERT_TRUE(write_compose_format(here, false).ok());
    EXPECT_EQ(get(), R"({"compose_format":"html"})") << "the whole file is replaced";

    // A file where the folder should be: the error is reported.
    std::ofstream(dir_ / "blocked") << "x";
    EXPECT_FALSE(write_compose_format(StorageLocation::directory(dir_ / "blocked" / "inner"), true).ok());

    EXPECT_TRUE(write_compose_format(StorageLocation::none(), true).ok());
    EXPECT_FALSE(preferences_path(StorageLocation::none()).has_value());
    EXPECT_EQ(preferences_path(here), dir_ / "mail-local.json");
}

}  // namespace
}  // namespace mail::app
