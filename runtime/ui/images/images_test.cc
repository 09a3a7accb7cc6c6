#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtime/ui/images/image.h"
#include "runtime/ui/images/image_store.h"
#include "runtime/ui/util/test_http_server.h"

namespace {

using runtime::ui::DecodeLimits;
using runtime::ui::Image;
using runtime::ui::ImageStore;
using runtime::ui::ImageStoreOptions;
using runtime::ui::testing::HttpReply;
using runtime::ui::testing::LoopbackHttpServer;
using namespace std::chrono_literals;

// A 2×1 picture: opaque red, then blue at half opacity.
std::string encode_fixture(const char* type) {
    GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 2, 1);
    guint8* p = gdk_pixbuf_get_pixels(pb);
    const guint8 px[8] = {255, 0, 0, 255, 0, 0, 255, 128};
    std::memcpy(p, px, sizeof px);
    gchar* buf = nullptr;
    gsize len = 0;
    GError* error = nullptr;
    const bool ok = gdk_pixbuf_save_to_buffer(pb, &buf, &len, type, &error, nullptr);
    g_object_unref(pb);
    EXPECT_TRUE(ok) << (error ? error->message : "");
    g_clear_error(&error);
    std::string out(buf ? buf : "", len);
    g_free(buf);
    return out;
}

std::uint32_t crc32(const std::string& bytes) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void put_be32(std::string& s, std::size_t at, std::uint32_t v) {
    s[at] = char(v >> 24);
    s[at + 1] = char(v >> 16);
    s[at + 2] = char(v >> 8);
    s[at + 3] = char(v);
}

// The fixture PNG with the header claiming another size (checksum fixed, so
// the decoder believes it).
std::string png_claiming(std::uint32_t width, std::uint32_t height) {
    std::string png = encode_fixture("png");
    // Signature (8), IHDR length (4), "IHDR" at 12, width at 16, height at 20, CRC at 29.
    put_be32(png, 16, width);
    put_be32(png, 20, height);
    put_be32(png, 29, crc32(png.substr(12, 17)));
    return png;
}

std::span<const std::uint8_t> as_bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::uint32_t pixel(const Image& img, int x, int y) {
    std::uint32_t v;
    std::memcpy(&v, img.pixels.data() + std::size_t(y) * std::size_t(img.stride) + std::size_t(x) * 4, 4);
    return v;
}

TEST(DecodeImage, PremultipliedArgbForCairo) {
    for (const char* type : {"png", "bmp"}) {
        const std::string bytes = encode_fixture(type);
        auto img = runtime::ui::decode_image(as_bytes(bytes));
        ASSERT_TRUE(img.ok()) << type << ": " << img.error();
        EXPECT_EQ(img->width, 2);
        EXPECT_EQ(img->height, 1);
        EXPECT_EQ(img->stride, 8);
        EXPECT_EQ(pixel(*img, 0, 0), 0xFFFF0000u) << type;
        if (std::string(type) == "png") {
            EXPECT_EQ(pixel(*img, 1, 0), 0x80000080u);  // blue 255 at alpha 128 → 128
        }
    }
}

TEST(DecodeImage, RefusesWhatItShouldNot) {
    struct Case {
        std::string name;
        std::string bytes;
        DecodeLimits limits;
        std::string error_start;
    };
    const std::string png = encode_fixture("png");
    const std::vector<Case> cases = {
        {"html", "<html><body>not a picture</body></html>", {}, "not a supported image"},
        {"empty", "", {}, "not a supported image"},
        {"svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>", {}, "not a supported image"},
        {"truncated png", png.substr(0, 40), {}, "image could not be decoded: "},
        {"huge declared size", png_claiming(100000, 100000), {}, "image of 100000\xC3\x97" "100000 pixels exceeds"},
        {"one side too long", png_claiming(5000, 1), {}, "image of 5000\xC3\x97" "1 pixels exceeds"},
        {"too many pixels", png_claiming(3000, 3000), {4096, 1000000}, "image of 3000\xC3\x97" "3000 pixels exceeds"},
    };
    for (const Case& c : cases) {
        auto img = runtime::ui::decode_image(as_bytes(c.bytes), c.limits);
        ASSERT_FALSE(img.ok()) << c.name;
        EXPECT_EQ(img.error().rfind(c.error_start, 0), 0u) << c.name << ": " << img.error();
    }
}

class ImageStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.listening()); }
    LoopbackHttpServer server;
};

TEST_F(ImageStoreTest, LoadsInBackgroundOnceAndCallsBack) {
    server.route("/a.png", {200, "image/png", encode_fixture("png")});
    ImageStore store;
    std::atomic<int> loaded{0};
    std::atomic<bool> on_worker{false};
    const auto window_thread = std::this_thread::get_id();
    store.set_on_loaded([&] {
        loaded.fetch_add(1);
        on_worker = std::this_thread::get_id() != window_thread;
    });
    const std::string url = server.url("/a.png");
    EXPECT_EQ(store.get(url), nullptr);  // never waits
    ASSERT_TRUE(store.wait_idle(5s));
    auto img = store.get(url);
    ASSERT_NE(img, nullptr) << store.failure(url);
    EXPECT_EQ(store.state(url), ImageStore::State::ready);
    EXPECT_EQ(pixel(*img, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(loaded.load(), 1);
    EXPECT_TRUE(on_worker.load());
    for (int i = 0; i < 5; ++i) store.get(url);
    EXPECT_EQ(server.requests_for("/a.png"), 1);
}

TEST_F(ImageStoreTest, FailuresAreRememberedWithTheirReason) {
    const std::string png = encode_fixture("png");
    std::string big = png + std::string(6 * 1024 * 1024, 'x');
    server.route("/big.png", {200, "image/png", big});
    HttpReply big_unsized{200, "image/png", big};
    big_unsized.send_length = false;
    server.route("/big-unsized.png", big_unsized);
    server.route("/page.png", {200, "image/png", "<html>moved</html>"});
    server.route("/to-file", {302, "text/plain", "", {{"Location", "file:///etc/passwd"}}});
    server.route("/to-ftp", {302, "text/plain", "", {{"Location", "ftp://127.0.0.1/x.png"}}});
    for (int i = 0; i < 4; ++i) {
        server.route("/hop" + std::to_string(i),
                     {302, "text/plain", "", {{"Location", "/hop" + std::to_string(i + 1)}}});
    }
    server.route("/hop4", {200, "image/png", png});

    struct Case {
        std::string path;
        std::string error_part;
    };
    const std::vector<Case> cases = {
        {"/missing.png", "image request answered HTTP 404"},
        {"/big.png", "image is larger than 5242880 bytes"},
        {"/big-unsized.png", "image is larger than 5242880 bytes"},
        {"/page.png", "not a supported image"},
        {"/to-file", "redirect to a non-web address refused"},
        {"/to-ftp", "redirect to a non-web address refused"},
        {"/hop0", "image download failed: "},  // four redirects, three allowed
    };
    ImageStore store;
    for (const Case& c : cases) EXPECT_EQ(store.get(server.url(c.path)), nullptr);
    ASSERT_TRUE(store.wait_idle(10s));
    for (const Case& c : cases) {
        const std::string url = server.url(c.path);
        EXPECT_EQ(store.state(url), ImageStore::State::failed) << c.path;
        EXPECT_NE(store.failure(url).find(c.error_part), std::string::npos) << c.path << ": " << store.failure(url);
    }
    EXPECT_EQ(server.requests_for("/hop4"), 0);
    // Asking again, as every frame does, fetches nothing.
    const int before = server.requests();
    for (int frame = 0; frame < 3; ++frame) {
        for (const Case& c : cases) EXPECT_EQ(store.get(server.url(c.path)), nullptr);
    }
    ASSERT_TRUE(store.wait_idle(2s));
    EXPECT_EQ(server.requests(), before);
}

TEST_F(ImageStoreTest, FollowsUpToThreeWebRedirects) {
    server.route("/r1", {301, "text/plain", "", {{"Location", "/r2"}}});
    server.route("/r2", {302, "text/plain", "", {{"Location", "/r3"}}});
    server.route("/r3", {307, "text/plain", "", {{"Location", server.url("/final.png")}}});
    server.route("/final.png", {200, "image/png", encode_fixture("png")});
    ImageStore store;
    store.get(server.url("/r1"));
    ASSERT_TRUE(store.wait_idle(5s));
    EXPECT_NE(store.get(server.url("/r1")), nullptr) << store.failure(server.url("/r1"));
}

TEST_F(ImageStoreTest, NonWebAddressesFailWithoutAnyRequest) {
    ImageStore store;
    for (const std::string url : {"file:///etc/passwd", "ftp://127.0.0.1/a.png", "data:image/png;base64,iVBO",
                                  "javascript:1", "", "http://", "http://exa mple.com/a.png"}) {
        EXPECT_EQ(store.get(url), nullptr);
        EXPECT_EQ(store.state(url), ImageStore::State::failed) << url;
        EXPECT_EQ(store.failure(url), "only http and https images are loaded") << url;
    }
    EXPECT_TRUE(store.wait_idle(1s));
}

TEST_F(ImageStoreTest, SlowServerTimesOut) {
    server.route("/slow.png", {200, "image/png", encode_fixture("png")});
    server.delay("/slow.png", 3000);
    ImageStoreOptions options;
    options.timeout = 300ms;
    ImageStore store(options);
    const auto start = std::chrono::steady_clock::now();
    store.get(server.url("/slow.png"));
    ASSERT_TRUE(store.wait_idle(5s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(store.state(server.url("/slow.png")), ImageStore::State::failed);
    EXPECT_NE(store.failure(server.url("/slow.png")).find("image download failed: "), std::string::npos);
}

TEST_F(ImageStoreTest, LeastRecentlyUsedEntriesGoBeyondTheCap) {
    for (const char* p : {"/1.png", "/2.png", "/3.png"}) server.route(p, {200, "image/png", encode_fixture("png")});
    ImageStoreOptions options;
    options.max_entries = 2;
    ImageStore store(options);
    store.get(server.url("/1.png"));
    store.get(server.url("/2.png"));
    ASSERT_TRUE(store.wait_idle(5s));
    store.get(server.url("/1.png"));  // 1 is now more recent than 2
    store.get(server.url("/3.png"));
    ASSERT_TRUE(store.wait_idle(5s));
    EXPECT_EQ(store.state(server.url("/2.png")), ImageStore::State::absent);
    EXPECT_EQ(store.state(server.url("/1.png")), ImageStore::State::ready);
    EXPECT_EQ(store.state(server.url("/3.png")), ImageStore::State::ready);
}

TEST_F(ImageStoreTest, DestroyingWhileLoadingStopsPromptly) {
    server.route("/slow.png", {200, "image/png", encode_fixture("png")});
    server.delay("/slow.png", 5000);
    std::atomic<int> loaded{0};
    const auto start = std::chrono::steady_clock::now();
    {
        ImageStore store;
        store.set_on_loaded([&] { loaded.fetch_add(1); });
        store.get(server.url("/slow.png"));
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(loaded.load(), 0);
}

}  // namespace
