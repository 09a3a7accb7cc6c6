#include "runtime/ui/core/image.h"

#include <cairo.h>

#include <cstring>

namespace runtime::ui {

namespace {

constexpr int kMaxSide = 16384;

struct PngReader {
    std::span<const std::uint8_t> bytes;
    std::size_t at = 0;
};

cairo_status_t read_png(void* closure, unsigned char* data, unsigned int length) {
    auto* r = static_cast<PngReader*>(closure);
    if (r->bytes.size() - r->at < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, r->bytes.data() + r->at, length);
    r->at += length;
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

Image::Image(int w, int h, std::vector<std::uint8_t> rgba)
    : width_(w), height_(h), rgba_(std::move(rgba)) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return;
    }
    cairo_surface_flush(s);
    unsigned char* dst = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(dst + static_cast<std::size_t>(y) * stride);
        const std::uint8_t* src = rgba_.data() + static_cast<std::size_t>(y) * w * 4;
        for (int x = 0; x < w; ++x) {
            const std::uint32_t a = src[x * 4 + 3];
            const std::uint32_t r = (src[x * 4 + 0] * a + 127) / 255;
            const std::uint32_t g = (src[x * 4 + 1] * a + 127) / 255;
            const std::uint32_t b = (src[x * 4 + 2] * a + 127) / 255;
            row[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(s);
    surface_ = s;
}

Image::~Image() {
    if (surface_ != nullptr) cairo_surface_destroy(static_cast<cairo_surface_t*>(surface_));
}

lib::Result<std::shared_ptr<const Image>> Image::from_rgba(int width, int height,
                                                           std::vector<std::uint8_t> rgba) {
    if (width <= 0 || height <= 0) return lib::err("image has no pixels");
    if (width > kMaxSide || height > kMaxSide) return lib::err("image is too large");
    if (rgba.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4) {
        return lib::err("image buffer does not match its size");
    }
    std::shared_ptr<const Image> img(new Image(width, height, std::move(rgba)));
    if (img->device_surface() == nullptr) return lib::err("could not allocate the image");
    return img;
}

lib::Result<std::shared_ptr<const Image>> Image::from_png(std::span<const std::uint8_t> bytes) {
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0) {
        return lib::err("not a PNG image");
    }
    PngReader reader{bytes, 0};
    cairo_surface_t* s = cairo_image_surface_create_from_png_stream(read_png, &reader);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return lib::err("could not decode the PNG image");
    }
    const int w = cairo_image_surface_get_width(s);
    const int h = cairo_image_surface_get_height(s);
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide) {
        cairo_surface_destroy(s);
        return lib::err("image is too large");
    }
    // Cairo decodes to premultiplied ARGB32 or RGB24; unpremultiply to RGBA.
    cairo_surface_t* argb = s;
    if (cairo_image_surface_get_format(s) != CAIRO_FORMAT_ARGB32) {
        argb = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
        cairo_t* cr = cairo_create(argb);
        cairo_set_source_surface(cr, s, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_destroy(s);
    }
    cairo_surface_flush(argb);
    const unsigned char* data = cairo_image_surface_get_data(argb);
    const int stride = cairo_image_surface_get_stride(argb);
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
        for (int x = 0; x < w; ++x) {
            const std::uint32_t px = row[x];
            const std::uint32_t a = px >> 24;
            std::uint8_t* o = rgba.data() + (static_cast<std::size_t>(y) * w + x) * 4;
            if (a == 0) {
                o[0] = o[1] = o[2] = o[3] = 0;
                continue;
            }
            o[0] = static_cast<std::uint8_t>((((px >> 16) & 0xff) * 255 + a / 2) / a);
            o[1] = static_cast<std::uint8_t>((((px >> 8) & 0xff) * 255 + a / 2) / a);
            o[2] = static_cast<std::uint8_t>(((px & 0xff) * 255 + a / 2) / a);
            o[3] = static_cast<std::uint8_t>(a);
        }
    }
    cairo_surface_destroy(argb);
    return from_rgba(w, h, std::move(rgba));
}

}  // namespace runtime::ui
