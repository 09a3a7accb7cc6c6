#include <gtest/gtest.h>

#include "lib/json/strict.h"
#include "lib/base/utf8.h"

namespace {

using lib::json::parse_strict;

TEST(StrictJson, RejectsWhatLenientReadersAccept) {
    struct Case {
        std::string text;
        std::string message_part;
    } cases[] = {
        {R"({"a":1,"a":2})", "duplicate key \"a\""},
        {R"({"x":{"b":1,"b":1}})", "duplicate key \"b\""},
        {"{\"a\":\"\xff\"}", "UTF-8"},
        {R"({"a":1} x)", "parse error"},
        {"", "parse error"},
        {std::string(100, '[') + std::string(100, ']'), "nested too deeply"},
    };
    for (const auto& c : cases) {
        auto r = parse_strict(c.text);
        ASSERT_FALSE(r.ok()) << c.text;
        EXPECT_NE(r.error().find(c.message_part), std::string::npos) << r.error();
        EXPECT_EQ(r.error().find("[json.exception"), std::string::npos) << r.error();
    }
}

TEST(StrictJson, SameKeyInSiblingObjectsIsFine) {
    auto r = parse_strict(R"([{"a":1},{"a":2}])");
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ((*r)[1]["a"], 2);
    auto order = parse_strict(R"({"z":1,"a":2})");
    EXPECT_EQ(lib::json::dump(*order), R"({"z":1,"a":2})");
}

TEST(StrictJson, FieldHelpersNameTheProblem) {
    auto v = *parse_strict(R"({"s":"x","n":-1,"b":true,"o":null})");
    EXPECT_EQ(*lib::json::string_field(v, "s"), "x");
    EXPECT_EQ(lib::json::string_field(v, "n").error(), "invalid type: number, expected a string at `n`");
    EXPECT_EQ(lib::json::string_field(v, "q").error(), "missing field `q`");
    EXPECT_FALSE(lib::json::u64_field(v, "n").ok());
    EXPECT_TRUE(*lib::json::bool_field(v, "b"));
    EXPECT_FALSE(lib::json::optional_string_field(v, "o")->has_value());
    EXPECT_FALSE(lib::json::optional_string_field(v, "absent")->has_value());
    EXPECT_FALSE(lib::json::optional_string_field(v, "b").ok());
}

}  // namespace

namespace {

TEST(StrictJson, MessagesAreValidUtf8) {
    for (std::string text : {std::string("{\"a\":\"\xff\xfe\"}"), std::string("{\"\xc3\":1}"), std::string("[\xff]")}) {
        auto r = lib::json::parse_strict(text);
        ASSERT_FALSE(r.ok());
        EXPECT_TRUE(lib::utf8::is_valid(r.error())) << r.error();
    }
}

}  // namespace
