// A decoded picture ready for Cairo, and the decoder that makes one from
// downloaded bytes with limits against oversized and hostile input.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "lib/base/result.h"

namespace runtime::ui {

// Pixels in Cairo's ARGB32 layout: one native-endian 32-bit word per pixel,
// 0xAARRGGBB with the colour premultiplied by alpha; rows `stride` bytes apart.
// cairo_image_surface_create_for_data(pixels.data(), CAIRO_FORMAT_ARGB32,
// width, height, stride) draws it as it is.
struct Image {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<std::uint8_t> pixels;
};

struct DecodeLimits {
    int max_dimension = 4096;                  // per side
    std::uint64_t max_pixels = 4096ull * 4096;  // width × height
};

// Decodes PNG, JPEG, GIF (first frame), BMP, ICO and, where the system has a
// loader, WebP; the type is chosen from the leading bytes, never from what a
// server claims. A picture larger than the limits is refused as soon as its
// header is read, before its pixels are decoded. Messages:
// "not a supported image (PNG, JPEG, GIF, WebP, BMP or ICO)",
// "image of {w}×{h} pixels exceeds the size limit", "image could not be decoded: …".
lib::Result<Image> decode_image(std::span<const std::uint8_t> bytes, const DecodeLimits& limits = {});

}  // namespace runtime::ui
