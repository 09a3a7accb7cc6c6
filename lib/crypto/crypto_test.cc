#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "lib/crypto/base64.h"
#include "lib/crypto/blake3.h"
#include "lib/crypto/hex.h"
#include "lib/crypto/random.h"
#include "lib/crypto/sha256.h"
#include "lib/json/strict.h"

namespace {

using namespace lib::crypto;

std::vector<std::uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

std::vector<std::uint8_t> vector_input(std::size_t length) {
    std::vector<std::uint8_t> in(length);
    for (std::size_t i = 0; i < length; ++i) in[i] = static_cast<std::uint8_t>(i % 251);
    return in;
}

lib::json::Json load_vectors() {
    std::ifstream f(std::string(ZELK_SHARED_DIR) + "/vectors/blake3_test_vectors.json");
    std::stringstream ss;
    ss << f.rdbuf();
    auto parsed = lib::json::parse_strict(ss.str());
    EXPECT_TRUE(parsed.ok()) << parsed.error();
    return parsed.ok() ? *parsed : lib::json::Json::object();
}

TEST(Blake3, MatchesOfficialVectors) {
    auto vectors = load_vectors();
    ASSERT_GE(vectors["cases"].size(), 30u);
    for (const auto& c : vectors["cases"]) {
        auto length = c["input_len"].get<std::size_t>();
        std::string expected = c["hash"].get<std::string>();
        auto input = vector_input(length);
        SCOPED_TRACE("input_len " + std::to_string(length));

        EXPECT_EQ(blake3_hex(input), expected.substr(0, 64));

        // Fed in uneven pieces, the hasher must give the same digest, and its
        // extended output the whole vector.
        Blake3Hasher h;
        std::size_t pos = 0, piece = 1;
        while (pos < length) {
            std::size_t n = std::min(piece, length - pos);
            h.update(std::span<const std::uint8_t>(input).subspan(pos, n));
            pos += n;
            piece = piece * 3 + 1;
        }
        EXPECT_EQ(h.finalize_hex(), expected.substr(0, 64));
        EXPECT_EQ(to_hex(h.finalize_extended(expected.size() / 2)), expected);
    }
}

TEST(Blake3, HasherCanContinueAfterFinalizeAndReset) {
    Blake3Hasher h;
    h.update("ab");
    auto partial = h.finalize();
    EXPECT_EQ(partial, blake3("ab"));
    h.update("c");
    EXPECT_EQ(h.finalize_hex(), blake3_hex("abc"));
    h.reset();
    EXPECT_EQ(h.finalize_hex(), blake3_hex(""));
    Blake3Hasher moved = std::move(h);
    moved.update("abc");
    EXPECT_EQ(moved.finalize_hex(), blake3_hex(std::string_view("abc")));
}

TEST(Blake3, RecognisesDigestText) {
    std::string good = blake3_hex("x");
    EXPECT_TRUE(is_blake3_hex(good));
    struct Case {
        std::string text;
    } bad[] = {{""}, {good.substr(1)}, {good + "0"}, {std::string(63, 'a') + "A"}, {std::string(63, 'a') + "g"},
               {std::string(63, '0') + " "}, {std::string(63, '0') + '\0'}};
    for (const auto& c : bad) EXPECT_FALSE(is_blake3_hex(c.text)) << c.text;
}

TEST(Hex, RoundTripsAndRejects) {
    EXPECT_EQ(to_hex(bytes_of(std::string("\x00\x7f\xff", 3))), "007fff");
    EXPECT_EQ(*from_hex("007FfF"), bytes_of(std::string("\x00\x7f\xff", 3)));
    EXPECT_FALSE(from_hex("abc").has_value());
    EXPECT_FALSE(from_hex("zz").has_value());
    EXPECT_TRUE(from_hex("")->empty());
}

TEST(Base64, KnownAnswers) {
    struct Case {
        std::string plain, standard, url;
    } cases[] = {
        {"", "", ""},
        {"f", "Zg==", "Zg"},
        {"fo", "Zm8=", "Zm8"},
        {"foo", "Zm9v", "Zm9v"},
        {"foob", "Zm9vYg==", "Zm9vYg"},
        {"fooba", "Zm9vYmE=", "Zm9vYmE"},
        {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
        // The two alphabets differ only in the last two characters.
        {std::string("\xfb\xff\xbf", 3), "+/+/", "-_-_"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(base64_encode(c.plain), c.standard);
        EXPECT_EQ(base64url_encode(c.plain), c.url);
        auto d = base64_decode(c.standard);
        ASSERT_TRUE(d.ok()) << c.standard << ": " << d.error();
        EXPECT_EQ(*d, bytes_of(c.plain));
        auto u = base64url_decode(c.url);
        ASSERT_TRUE(u.ok()) << c.url << ": " << u.error();
        EXPECT_EQ(*u, bytes_of(c.plain));
    }
}

TEST(Base64, RoundTripsEveryByteAndLength) {
    std::vector<std::uint8_t> all;
    for (int len = 0; len < 300; ++len) {
        EXPECT_EQ(*base64_decode(base64_encode(all)), all);
        EXPECT_EQ(*base64url_decode(base64url_encode(all)), all);
        all.push_back(static_cast<std::uint8_t>(len * 7 + 3));
    }
}

TEST(Base64, StrictDecodingRejectsMalformedText) {
    const char* standard_bad[] = {
        "Zg",        // padding missing
        "Zg=",       // padding short
        "Z===",      // too much padding
        "Zg==Zg==",  // padding in the middle
        "Zm9v ",     // white space
        "Zm9v\n",    //
        "Zm-v",      // URL alphabet in standard text
        "Zh==",      // stray bits in the last character
        "Zm9=",      //
        "====",      //
        "Zg=a",      //
    };
    for (const char* t : standard_bad) {
        auto r = base64_decode(t);
        EXPECT_FALSE(r.ok()) << t;
        if (!r.ok()) {
            EXPECT_NE(r.error().find("invalid base64"), std::string::npos);
        }
    }
    const char* url_bad[] = {"Zg==", "Zm8=", "Z", "Zm9vY", "Zm+v", "Zm/v", "Zh", "Zm9", "Zm9v\r\n"};
    for (const char* t : url_bad) EXPECT_FALSE(base64url_decode(t).ok()) << t;
}

TEST(Sha256, KnownAnswersAndPkceChallenge) {
    EXPECT_EQ(*sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(*sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    auto d = sha256("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(base64url_encode(*d), "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}

TEST(Random, UuidsHaveVersionVariantAndDoNotRepeat) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        auto u = random_uuid_v4();
        ASSERT_TRUE(u.ok()) << u.error();
        const std::string& s = *u;
        ASSERT_EQ(s.size(), 36u);
        for (std::size_t p : {8, 13, 18, 23}) EXPECT_EQ(s[p], '-') << s;
        EXPECT_EQ(s[14], '4') << s;
        EXPECT_NE(std::string("89ab").find(s[19]), std::string::npos) << s;
        for (char c : s) EXPECT_TRUE(c == '-' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << s;
        seen.insert(s);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(Random, BytesAreFilledAndFormatted) {
    auto a = random_bytes(64);
    auto b = random_bytes(64);
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_EQ(a->size(), 64u);
    EXPECT_NE(*a, *b);
    EXPECT_TRUE(random_bytes(0)->empty());
    Uuid fixed{0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0x4d, 0xef, 0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xff};
    EXPECT_EQ(format_uuid(fixed), "12345678-9abc-4def-8001-0203040506ff");
}

}  // namespace
