#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "runtime/ui/util/a11y.h"
#include "runtime/ui/util/format.h"
#include "runtime/ui/util/link.h"
#include "runtime/ui/util/uri.h"
#include "runtime/ui/util/wake.h"

namespace {

using namespace runtime::ui;

const std::string kFFFD = "\xEF\xBF\xBD";

TEST(FormatBytes, UnitsRoundingAndBoundaries) {
    struct Case {
        std::uint64_t n;
        const char* text;
    };
    const Case cases[] = {
        {0, "0 B"},
        {1, "1 B"},
        {512, "512 B"},
        {1023, "1023 B"},
        {1024, "1.0 KB"},
        {1536, "1.5 KB"},
        {1075, "1.0 KB"},                       // 1.0498 KB
        {1076, "1.1 KB"},                       // 1.0508 KB
        {10188, "9.9 KB"},                      // 9.949 KB
        {10189, "10 KB"},                       // 9.950 KB rounds to ten: no "10.0"
        {1047552, "1023 KB"},                   // exactly 1023 KiB
        {1048063, "1023 KB"},                   // 1023.499 KiB
        {1048064, "1.0 MB"},                    // 1023.5 KiB: never "1024 KB"
        {1048576, "1.0 MB"},
        {12 * 1048576ull, "12 MB"},
        {33554432, "32 MB"},
        {5ull << 30, "5.0 GB"},
        {(1ull << 40) * 3 / 2, "1.5 TB"},
        {1ull << 60, "1.0 EB"},
        {std::numeric_limits<std::uint64_t>::max(), "16 EB"},
    };
    for (const Case& c : cases) EXPECT_EQ(format::bytes(c.n), c.text) << c.n;
}

TEST(FormQuery, DecodesPairsInOrder) {
    using uri::FormPairs;
    struct Case {
        const char* query;
        FormPairs pairs;
    };
    const Case cases[] = {
        {"code=abc&state=x%2Fy", {{"code", "abc"}, {"state", "x/y"}}},
        {"a=1+2&b=%41%6a", {{"a", "1 2"}, {"b", "Aj"}}},
        {"flag", {{"flag", ""}}},
        {"&&a=&=v&", {{"a", ""}, {"", "v"}}},
        {"", {}},
        {"e=a=b", {{"e", "a=b"}}},
        {"x=%zz%4&y=%&z=100%", {{"x", "%zz%4"}, {"y", "%"}, {"z", "100%"}}},
        {"sp=%20%2B+", {{"sp", " + "}}},
        {"n=%C3%A9t%C3%A9", {{"n", "\xC3\xA9t\xC3\xA9"}}},
        {"amp=%26&eq=%3D", {{"amp", "&"}, {"eq", "="}}},
    };
    for (const Case& c : cases) EXPECT_EQ(uri::parse_form_query(c.query), c.pairs) << c.query;
}

TEST(FormQuery, InvalidUtf8BecomesReplacementCharacters) {
    struct Case {
        const char* query;
        std::string value;
    };
    const Case cases[] = {
        {"v=%FF%FEok", kFFFD + kFFFD + "ok"},
        {"v=%E2%82", kFFFD},                                // truncated three-byte sequence: one unit
        {"v=%E2%82x", kFFFD + "x"},
        {"v=%C0%AF", kFFFD + kFFFD},                        // overlong "/"
        {"v=%ED%A0%80", kFFFD + kFFFD + kFFFD},             // surrogate
        {"v=%F4%90%80%80", kFFFD + kFFFD + kFFFD + kFFFD},  // above U+10FFFF
        {"v=%F0%9F%98%80", "\xF0\x9F\x98\x80"},             // valid four-byte sequence stays
        {"v=%00", std::string(1, '\0')},
    };
    for (const Case& c : cases) {
        const auto pairs = uri::parse_form_query(c.query);
        ASSERT_EQ(pairs.size(), 1u) << c.query;
        EXPECT_EQ(pairs[0].second, c.value) << c.query;
    }
    // A raw invalid byte (not escaped) is cleaned as well, in keys too.
    const auto raw = uri::parse_form_query(std::string("k\xFF=1"));
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(raw[0].first, "k" + kFFFD);
}

TEST(FormQuery, LastOccurrenceWins) {
    const auto pairs = uri::parse_form_query("code=one&state=s&code=two&error=");
    EXPECT_EQ(uri::last_value(pairs, "code"), "two");
    EXPECT_EQ(uri::last_value(pairs, "error"), "");
    EXPECT_EQ(uri::last_value(pairs, "missing"), std::nullopt);
}

TEST(FormQuery, EncodeRoundTrips) {
    const uri::FormPairs pairs = {{"redirect_uri", "http://127.0.0.1:4711/"},
                                  {"a b", "x&y=z+%"},
                                  {"name", "J\xC3\xBCrgen \xF0\x9F\x98\x80"},
                                  {"", ""}};
    const std::string text = uri::encode_form_query(pairs);
    EXPECT_EQ(text.substr(0, text.find('&')), "redirect_uri=http%3A%2F%2F127.0.0.1%3A4711%2F");
    EXPECT_EQ(uri::encode_form_query({{"a b", "x&y=z"}}), "a+b=x%26y%3Dz");
    EXPECT_EQ(uri::parse_form_query(text), pairs);
}

TEST(OpenableLink, AcceptsOnlyWebAndMailLinks) {
    struct Case {
        std::string url;
        const char* error;  // empty when accepted
    };
    const std::vector<Case> cases = {
        {"https://accounts.example.com/o/oauth2/auth?x=1", ""},
        {"HTTP://Example.com", ""},
        {"https://user@host:8080/x", ""},
        {"http://[::1]:80/", ""},
        {"mailto:someone@example.com", ""},
        {"MAILTO:a@b.c?subject=hi", ""},
        {"", "link is empty"},
        {"javascript:alert(1)", "only http, https and mailto links can be opened"},
        {"file:///etc/passwd", "only http, https and mailto links can be opened"},
        {"ftp://example.com/", "only http, https and mailto links can be opened"},
        {"data:text/html,hi", "only http, https and mailto links can be opened"},
        {"httpx://example.com", "only http, https and mailto links can be opened"},
        {"https://", "link has no host"},
        {"https:///path", "link has no host"},
        {"http://:80/", "link has no host"},
        {"https://user@/", "link has no host"},
        {"http://[]/", "link has no host"},
        {"http://[::1/", "link has no host"},
        {"mailto:", "link has no address"},
        {"https://exa mple.com", "link contains spaces or control characters"},
        {" https://example.com", "link contains spaces or control characters"},
        {"https://example.com/\n--flag", "link contains spaces or control characters"},
        {std::string("https://example.com/\0", 21), "link contains spaces or control characters"},
        {"https://example.com/" + std::string(link::kMaxLinkLength, 'a'), "link is too long"},
    };
    for (const Case& c : cases) {
        const lib::Status s = link::check_openable(c.url);
        EXPECT_EQ(s.error(), c.error) << c.url;
    }
}

TEST(AccessTree, BuildsAndDumpsJson) {
    using a11y::AccessNode;
    using a11y::Role;
    const AccessNode tree =
        AccessNode(Role::dialog, "Delete permanently?")
            .with_description("2 trashed messages will be removed.")
            .with_bounds({10, 20, 300.5, 120})
            .with_children({AccessNode(Role::button, "Cancel").with_identifier("mail.bulk-purge:cancel"),
                            AccessNode(Role::button, "Delete permanently")
                                .with_identifier("mail.bulk-purge:confirm")
                                .with_disabled()
                                .with_busy()});
    EXPECT_EQ(a11y::to_json(tree),
              R"({"role":"dialog","label":"Delete permanently?","description":"2 trashed messages will be removed.",)"
              R"("bounds":{"x":10.0,"y":20.0,"width":300.5,"height":120.0},"children":[)"
              R"({"role":"button","label":"Cancel","identifier":"mail.bulk-purge:cancel"},)"
              R"({"role":"button","label":"Delete permanently","identifier":"mail.bulk-purge:confirm",)"
              R"("flags":["disabled","busy"]}]})");
    EXPECT_EQ(a11y::node_count(tree), 3u);
}

TEST(AccessTree, OptionalValueAndRoleNames) {
    using a11y::AccessNode;
    using a11y::Role;
    const AccessNode with = AccessNode(Role::list_item, "Ann: Hi").with_optional_value("excerpt");
    const AccessNode without =
        AccessNode(Role::list_item, "Ann: Hi").with_value("stale").with_optional_value(std::nullopt);
    EXPECT_EQ(with.value, "excerpt");
    EXPECT_EQ(without.value, std::nullopt);
    EXPECT_EQ(a11y::to_json(without), R"({"role":"list item","label":"Ann: Hi"})");
    EXPECT_EQ(a11y::role_name(Role::switch_button), "switch");
    EXPECT_EQ(a11y::role_name(Role::busy_indicator), "busy indicator");
}

TEST(AccessTree, InvalidUtf8InTextsDoesNotThrow) {
    using a11y::AccessNode;
    const AccessNode node(a11y::Role::text, std::string("bad \xFF\xFE label"));
    std::string json;
    ASSERT_NO_THROW(json = a11y::to_json(node));
    EXPECT_NE(json.find("bad " + kFFFD + kFFFD + " label"), std::string::npos) << json;
}

TEST(AccessTree, FindsFirstIdentifierAndReportsDuplicates) {
    using a11y::AccessNode;
    using a11y::Role;
    const AccessNode tree = AccessNode(Role::application, "Mail").with_children({
        AccessNode(Role::tree, "Mail folders")
            .with_child(AccessNode(Role::tree_item, "Work").with_identifier("mail.account:0").with_child(
                AccessNode(Role::tree_item, "Inbox").with_identifier("mail.folder:0:inbox"))),
        AccessNode(Role::list, "Inbox messages")
            .with_child(AccessNode(Role::list_item, "first").with_identifier("mail.message:x"))
            .with_child(AccessNode(Role::list_item, "second").with_identifier("mail.message:x"))
            .with_child(AccessNode(Role::list_item, "third").with_identifier("mail.folder:0:inbox")),
    });
    const AccessNode* inbox = a11y::find_by_identifier(tree, "mail.folder:0:inbox");
    ASSERT_NE(inbox, nullptr);
    EXPECT_EQ(inbox->label, "Inbox");  // the deeper, earlier node wins over the later sibling
    EXPECT_EQ(a11y::find_by_identifier(tree, "mail.message:x")->label, "first");
    EXPECT_EQ(a11y::find_by_identifier(tree, "mail.message:"), nullptr);
    EXPECT_EQ(a11y::duplicate_identifiers(tree), (std::vector<std::string>{"mail.message:x", "mail.folder:0:inbox"}));
}

TEST(BackgroundWake, CallsHookFromAnyThreadAndToleratesReplacementInsideHook) {
    std::atomic<int> calls{0};
    set_background_wake([&] { calls.fetch_add(1); });
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([] { wake_from_background(); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(calls.load(), 4);

    // A hook that removes itself must not deadlock.
    set_background_wake([&] {
        calls.fetch_add(10);
        set_background_wake(nullptr);
    });
    wake_from_background();
    wake_from_background();
    EXPECT_EQ(calls.load(), 14);
}

}  // namespace
