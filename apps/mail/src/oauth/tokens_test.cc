#include "oauth/tokens.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace mail::oauth {
namespace {

TEST(TokenResponse, ReadsMembersByTheirTypes) {
    struct Case {
        std::string body;
        std::optional<OAuthTokens> expected;  // nullopt: the response is refused
    };
    const std::uint64_t now = 1'700'000'000;
    const Case cases[] = {
        {R"({"access_token":"a","refresh_token":"r","expires_in":3599,"token_type":"Bearer"})",
         OAuthTokens{"a", "r", 3599, now}},
        {R"({"access_token":"a"})", OAuthTokens{"a", "", 0, now}},
        // A lifetime given as text, negative or fractional counts as none.
        {R"({"access_token":"a","expires_in":"3600"})", OAuthTokens{"a", "", 0, now}},
        {R"({"access_token":"a","expires_in":-5})", OAuthTokens{"a", "", 0, now}},
        {R"({"access_token":"a","expires_in":36.5})", OAuthTokens{"a", "", 0, now}},
        {R"({"access_token":"a","refresh_token":17})", OAuthTokens{"a", "", 0, now}},
        {R"({"access_token":""})", std::nullopt},
        {R"({"access_token":5})", std::nullopt},
        {R"({"error":"invalid_grant","error_description":"Bad Request"})", std::nullopt},
        {R"(["a","r",1,2])", std::nullopt},
        {"<html>502 Bad Gateway</html>", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        auto got = parse_token_response(c.body, now);
        if (!c.expected) {
            EXPECT_FALSE(got.ok()) << c.body;
            continue;
        }
        ASSERT_TRUE(got.ok()) << c.body << ": " << got.error();
        EXPECT_EQ(*got, *c.expected) << c.body;
    }
}

TEST(TokenRefresh, SixtySecondMargin) {
    struct Case {
        std::uint64_t expires_in;
        std::uint64_t obtained_at;
        std::uint64_t now;
        bool needs;
    };
    const std::uint64_t t = 1'700'000'000;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    const Case cases[] = {
        {3600, t - 3540, t, true},    // 60 seconds left
        {3600, t - 3539, t, false},   // 61 seconds left
        {3600, t - 3541, t, true},    // 59 seconds left
        {3600, t, t, false},
        {3600, t - 7200, t, true},    // long expired
        {0, t, t, true},              // no lifetime given: always refreshed
        {0, kMax, 0, true},
        {kMax, t, t, false},          // obtained_at + expires_in saturates
        {60, 0, kMax, true},          // now + 60 saturates
        {61, 0, 0, false},
        {60, 0, 0, true},
    };
    for (const Case& c : cases) {
        OAuthTokens tokens{"a", "r", c.expires_in, c.obtained_at};
        EXPECT_EQ(token_needs_refresh(tokens, c.now), c.needs)
            << "expires_in=" << c.expires_in << " obtained_at=" << c.obtained_at << " now=" << c.now;
    }
}

}  // namespace
}  // namespace mail::oauth
