#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstring>

#include "runtime/ui/images/image.h"

namespace runtime::ui {

namespace {

const char* sniff_type(std::span<const std::uint8_t> b) {
    auto starts = [&](std::initializer_list<std::uint8_t> magic, std::size_t at = 0) {
        if (b.size() < at + magic.size()) return false;
        return std::equal(magic.begin(), magic.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    };
    if (starts({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return "png";
    if (starts({0xFF, 0xD8, 0xFF})) return "jpeg";
    if (starts({'G', 'I', 'F', '8', '7', 'a'}) || starts({'G', 'I', 'F', '8', '9', 'a'})) return "gif";
    if (starts({'R', 'I', 'F', 'F'}) && starts({'W', 'E', 'B', 'P'}, 8)) return "webp";
    if (starts({'B', 'M'}) && b.size() >= 26) return "bmp";
    if (starts({0x00, 0x00, 0x01, 0x00}) && b.size() >= 22) return "ico";
    return nullptr;
}

struct SizeCheck {
    DecodeLimits limits;
    bool too_big = false;
    int width = 0;
    int height = 0;
};

void on_size_prepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
    auto* check = static_cast<SizeCheck*>(data);
    const bool over = width <= 0 || height <= 0 || width > check->limits.max_dimension ||
                      height > check->limits.max_dimension ||
                      std::uint64_t(width) * std::uint64_t(height) > check->limits.max_pixels;
    if (over) {
        check->too_big = true;
        check->width = width;
        check->height = height;
        // A requested size of zero makes the format modules stop with an
        // error instead of allocating and decoding the full picture.
        gdk_pixbuf_loader_set_size(loader, 0, 0);
    }
}

std::string too_big_text(int width, int height) {
    return "image of " + std::to_string(width) + "\xC3\x97" + std::to_string(height) +
           " pixels exceeds the size limit";
}

Image to_cairo(GdkPixbuf* pixbuf) {
    Image img;
    img.width = gdk_pixbuf_get_width(pixbuf);
    img.height = gdk_pixbuf_get_height(pixbuf);
    img.stride = img.width * 4;
    img.pixels.resize(std::size_t(img.stride) * std::size_t(img.height));
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    const int rowstride = gdk_pixbuf_get_rowstride(pixbuf);
    const guint8* src = gdk_pixbuf_read_pixels(pixbuf);
    for (int y = 0; y < img.height; ++y) {
        const guint8* s = src + std::size_t(y) * std::size_t(rowstride);
        auto* d = reinterpret_cast<std::uint32_t*>(img.pixels.data() + std::size_t(y) * std::size_t(img.stride));
        for (int x = 0; x < img.width; ++x, s += channels) {
            const std::uint32_t a = alpha ? s[3] : 255;
            // Premultiply with correct rounding: (c * a + 127) / 255.
            auto pm = [a](std::uint32_t c) { return (c * a + 127) / 255; };
            d[x] = (a << 24) | (pm(s[0]) << 16) | (pm(s[1]) << 8) | pm(s[2]);
        }
    }
    return img;
}

}  // namespace

lib::Result<Image> decode_image(std::span<const std::uint8_t> bytes, const DecodeLimits& limits) {
    const char* type = sniff_type(bytes);
    if (!type) return lib::err("not a supported image (PNG, JPEG, GIF, WebP, BMP or ICO)");

    GError* error = nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(type, &error);
    if (!loader) {
        std::string msg = std::string("image could not be decoded: ") + (error ? error->message : type);
        g_clear_error(&error);
        return lib::err(msg);
    }
    SizeCheck check{limits};
    g_signal_connect(loader, "size-prepared", G_CALLBACK(on_size_prepared), &check);

    // Small pieces, so that a picture refused at its header costs at most one
    // piece of decoding.
    constexpr std::size_t kPiece = 4096;
    bool failed = false;
    for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
        const std::size_t n = std::min(kPiece, bytes.size() - at);
        if (!gdk_pixbuf_loader_write(loader, bytes.data() + at, n, &error)) {
            failed = true;
            break;
        }
        if (check.too_big) break;
    }
    GError* close_error = nullptr;
    const bool closed = gdk_pixbuf_loader_close(loader, failed || check.too_big ? nullptr : &close_error);

    lib::Result<Image> result = lib::err("image could not be decoded: no picture");
    if (check.too_big) {
        result = lib::err(too_big_text(check.width, check.height));
    } else if (failed || !closed) {
        GError* e = error ? error : close_error;
        result = lib::err(std::string("image could not be decoded: ") + (e ? e->message : "unknown error"));
    } else if (GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader)) {
        const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
        if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || gdk_pixbuf_get_n_channels(pixbuf) < 3) {
            result = lib::err("image could not be decoded: unusual pixel format");
        } else if (w <= 0 || h <= 0 || w > limits.max_dimension || h > limits.max_dimension ||
                   std::uint64_t(w) * std::uint64_t(h) > limits.max_pixels) {
            result = lib::err(too_big_text(w, h));
        } else {
            result = to_cairo(pixbuf);
        }
    }
    g_clear_error(&error);
    g_clear_error(&close_error);
    g_object_unref(loader);
    return result;
}

}  // namespace runtime::ui
