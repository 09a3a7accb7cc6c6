#include "validate/account_config.h"

#include <gtest/gtest.h>

#include "lib/json/strict.h"

namespace {

using namespace mail::validate;

StoredConfig good_config() {
    StoredConfig c;
    c.display_name = "Ann";
    c.email = "ann@example.org";
    c.imap_host = "imap.example.org";
    c.smtp_host = "smtp.example.org";
    c.username = "ann";
    c.password = "secret";
    return c;
}

TEST(AccountForm, PortFieldsReadOrFallBack) {
    struct Case {
        std::string imap, smtp;
        std::uint16_t imap_port, smtp_port;
    } cases[] = {
        {"993", "587", 993, 587},   {" 143 ", "\t25\n", 143, 25}, {"+143", "+25", 143, 25},
        {"70000", "70000", 993, 465}, {"abc", "abc", 993, 465},   {"", "", 993, 465},
        {"+", "-", 993, 465},       {"-1", "-0", 993, 465},       {"0", "0", 0, 0},
        {"65535", "65536", 65535, 465}, {"0143", "1e3", 143, 465}, {"++1", "1 2", 993, 465},
        {"\xC2\xA0" "143", "587\xE3\x80\x80", 143, 587},
    };
    for (const auto& c : cases) {
        AccountForm form = config_to_form(good_config());
        form[FormField::ImapPort] = c.imap;
        form[FormField::SmtpPort] = c.smtp;
        const StoredConfig config = form_to_config(form);
        EXPECT_EQ(config.imap_port, c.imap_port) << "'" << c.imap << "'";
        EXPECT_EQ(config.smtp_port, c.smtp_port) << "'" << c.smtp << "'";
    }
}

TEST(AccountForm, TextsAsTypedAndOAuthDropsThePassword) {
    AccountForm form;
    form[FormField::DisplayName] = " Ann ";
    form[FormField::Email] = "ann@example.org ";
    form[FormField::Username] = "  ";
    form[FormField::Password] = " pw ";
    form[FormField::ImapHost] = "imap.example.org";
    form[FormField::ImapPort] = "993";
    form[FormField::SmtpHost] = "smtp.example.org";
    form[FormField::SmtpPort] = "587";
    form.smtp_tls = false;

    StoredConfig c = form_to_config(form);
    EXPECT_EQ(c.display_name, " Ann ");
    EXPECT_EQ(c.email, "ann@example.org ");
    EXPECT_EQ(c.password, " pw ");
    EXPECT_FALSE(c.smtp_tls);
    EXPECT_TRUE(c.imap_tls);
    EXPECT_EQ(config_to_form(c), form);

    form.auth = AuthMethod::OAuth;
    c = form_to_config(form);
    EXPECT_EQ(c.auth, AuthMethod::OAuth);
    EXPECT_EQ(c.password, "");
}

TEST(AccountValidation, AllRulesInOrderWithTheirMessages) {
    auto with = [](auto change) {
        StoredConfig c = good_config();
        change(c);
        return c;
    };
    struct Case {
        const char* what;
        StoredConfig config;
        std::vector<FieldProblem> problems;
    } cases[] = {
        {"acceptable", good_config(), {}},
        {"at sign and nothing else", with([](StoredConfig& c) { c.email = "@"; }), {}},
        {"no at sign", with([](StoredConfig& c) { c.email = "ann.example.org"; }),
         {{"email", "Enter a valid email address"}}},
        {"blank user name even with OAuth", with([](StoredConfig& c) {
             c.username = "   ";
             c.auth = AuthMethod::OAuth;
         }),
         {{"username", "Username is required"}}},
        {"port 0", with([](StoredConfig& c) { c.imap_port = 0; }), {{"imap_port", "Port must be 1-65535"}}},
        {"everything wrong", StoredConfig{"", "", " ", 0, true, "\t", 0, true, "", AuthMethod::Password, ""},
         {{"email", "Enter a valid email address"},
          {"imap_host", "IMAP host is required"},
          {"smtp_host", "SMTP host is required"},
          {"username", "Username is required"},
          {"imap_port", "Port must be 1-65535"},
          {"smtp_port", "Port must be 1-65535"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(validate_config(c.config), c.problems) << c.what;

    // Form ports that do not read fall back and pass; "0" reads and fails.
    AccountForm form = config_to_form(good_config());
    form[FormField::ImapPort] = "70000";
    EXPECT_TRUE(validate_config(form_to_config(form)).empty());
    form[FormField::ImapPort] = "abc";
    EXPECT_TRUE(validate_config(form_to_config(form)).empty());
    form[FormField::ImapPort] = "0";
    EXPECT_EQ(validate_config(form_to_config(form)),
              (std::vector<FieldProblem>{{"imap_port", "Port must be 1-65535"}}));
}

TEST(AccountIdentity, LabelsAndIds) {
    struct Label {
        std::string display_name, email, label;
    } labels[] = {
        {"Ann", "ann@example.org", "Ann"},
        {"", "ann@example.org", "ann@example.org"},
        {"", "", "New account"},
    };
    for (const auto& l : labels) {
        StoredConfig c;
        c.display_name = l.display_name;
        c.email = l.email;
        EXPECT_EQ(account_label(c), l.label);
    }

    StoredConfig no_address;
    auto first = account_id_for(no_address, "");
    auto second = account_id_for(no_address, "");
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_EQ(first->rfind("account-", 0), 0u) << *first;
    EXPECT_EQ(first->size(), 8u + 36u);
    EXPECT_EQ((*first)[8 + 14], '4') << "a version 4 UUID";
    EXPECT_NE(*first, *second);
    EXPECT_EQ(*account_id_for(no_address, *first), *first) << "an existing id is kept while there is no address";
    StoredConfig with_address = no_address;
    with_address.email = "ann@example.org";
    EXPECT_EQ(*account_id_for(with_address, *first), "ann@example.org");

    auto entry = make_account_entry(with_address);
    ASSERT_TRUE(entry.ok());
    EXPECT_EQ(entry->id, "ann@example.org");
    EXPECT_FALSE(entry->collapsed);
    EXPECT_EQ(entry->colour, 0);
}

TEST(SettingsObject, WrittenInOrderWithoutThePassword) {
    StoredConfig c = good_config();
    c.auth = AuthMethod::OAuth;
    EXPECT_EQ(lib::json::dump(settings_to_json(c, true)),
              R"({"display_name":"Ann","email":"ann@example.org","imap_host":"imap.example.org","imap_port":993,)"
              R"("imap_tls":true,"smtp_host":"smtp.example.org","smtp_port":465,"smtp_tls":true,"username":"ann",)"
              R"("auth":"OAuth","collapsed":true})");
    auto back = settings_from_json(settings_to_json(c, true));
    ASSERT_TRUE(back.ok()) << back.error();
    c.password.clear();
    EXPECT_EQ(back->config, c);
    EXPECT_TRUE(back->collapsed);
}

TEST(SettingsObject, ReadingRules) {
    const std::string nine =
        R"("display_name":"","email":"a@b","imap_host":"i","imap_port":993,"imap_tls":true,)"
        R"("smtp_host":"s","smtp_port":465,"smtp_tls":false,"username":"u")";
    struct Case {
        const char* what;
        std::string json;
        std::string error;  // empty: reads
    } cases[] = {
        {"no auth, no collapsed", "{" + nine + "}", ""},
        {"unknown keys ignored", "{" + nine + R"(,"auth":"Password","theme":{"x":1}})", ""},
        {"without imap_tls", R"({"display_name":"","email":"a@b","imap_host":"i","imap_port":993,)"
                             R"("smtp_host":"s","smtp_port":465,"smtp_tls":false,"username":"u"})",
         "missing field `imap_tls`"},
        {"auth in lower case", "{" + nine + R"(,"auth":"oauth"})",
         "unknown variant `oauth`, expected `Password` or `OAuth` at `auth`"},
        {"auth null", "{" + nine + R"(,"auth":null})", "invalid type: null, expected a string at `auth`"},
        {"collapsed as text", "{" + nine + R"(,"collapsed":"yes"})",
         "invalid type: string, expected a boolean at `collapsed`"},
        {"duplicate key", "{" + nine + R"(,"email":"c@d"})", "duplicate key \"email\""},
        {"port past 16 bits", R"({"display_name":"","email":"a@b","imap_host":"i","imap_port":70000,"imap_tls":true,)"
                              R"("smtp_host":"s","smtp_port":465,"smtp_tls":false,"username":"u"})",
         "invalid value: 70000, expected a port number at `imap_port`"},
        {"negative port", R"({"display_name":"","email":"a@b","imap_host":"i","imap_port":993,"imap_tls":true,)"
                          R"("smtp_host":"s","smtp_port":-1,"smtp_tls":false,"username":"u"})",
         "invalid value: -1, expected a port number at `smtp_port`"},
        {"port as text", R"({"display_name":"","email":"a@b","imap_host":"i","imap_port":"993","imap_tls":true,)"
                         R"("smtp_host":"s","smtp_port":465,"smtp_tls":false,"username":"u"})",
         "invalid type: string, expected a port number at `imap_port`"},
        {"array", "[]", "invalid type: array, expected an object"},
    };
    for (const auto& c : cases) {
        auto r = decode_settings(c.json);
        if (c.error.empty()) {
            ASSERT_TRUE(r.ok()) << c.what << ": " << r.error();
            EXPECT_EQ(r->config.auth, AuthMethod::Password) << c.what;
            EXPECT_FALSE(r->collapsed) << c.what;
            EXPECT_FALSE(r->config.smtp_tls) << c.what;
        } else {
            ASSERT_FALSE(r.ok()) << c.what;
            EXPECT_EQ(r.error(), c.error) << c.what;
        }
    }
}

TEST(TokenText, ObjectAndPositionalForms) {
    const OAuthTokens full{"at", "rt", 3599, 1700000000};
    EXPECT_EQ(encode_tokens(full),
              R"({"access_token":"at","refresh_token":"rt","expires_in":3599,"obtained_at":1700000000})");
    struct Case {
        const char* what;
        std::string text;
        std::optional<OAuthTokens> tokens;  // nothing: fails
    } cases[] = {
        {"written form", encode_tokens(full), full},
        {"only the access token", R"({"access_token":"at"})", OAuthTokens{"at", "", 0, 0}},
        {"other keys ignored", R"({"scope":"mail","access_token":"at","token_type":"Bearer"})",
         OAuthTokens{"at", "", 0, 0}},
        {"positional", R"(["at","rt",3599,1700000000])", full},
        {"positional, access token only", R"(["at"])", OAuthTokens{"at", "", 0, 0}},
        {"positional, five elements", R"(["at","rt",1,2,3])", std::nullopt},
        {"positional, empty", "[]", std::nullopt},
        {"positional, number first", "[1]", std::nullopt},
        {"no access token", R"({"refresh_token":"rt"})", std::nullopt},
        {"duplicate key", R"({"access_token":"a","access_token":"b"})", std::nullopt},
        {"negative expiry", R"({"access_token":"a","expires_in":-5})", std::nullopt},
        {"text", R"("at")", std::nullopt},
    };
    for (const auto& c : cases) {
        auto r = decode_tokens(c.text);
        if (c.tokens) {
            ASSERT_TRUE(r.ok()) << c.what << ": " << r.error();
            EXPECT_EQ(*r, *c.tokens) << c.what;
        } else {
            EXPECT_FALSE(r.ok()) << c.what;
        }
    }
}

TEST(TokenText, ErrorsNeverQuoteTheSecret) {
    const std::string secret = "ya29.SECRET-TOKEN-VALUE";
    for (const std::string& text : {R"({"access_token":")" + secret + R"(",)", R"({"access_token":)" + secret + "}",
                                    R"([")" + secret + R"(" )"}) {
        auto r = decode_tokens(text);
        ASSERT_FALSE(r.ok()) << text;
        EXPECT_EQ(r.error().find("SECRET"), std::string::npos) << r.error();
        EXPECT_NE(r.error().find("parse error"), std::string::npos) << r.error();
    }
}

}  // namespace
