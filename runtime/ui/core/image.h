// A decoded picture held in memory: width × height pixels of 8-bit RGBA with
// straight alpha, rows packed without padding. Images are immutable once
// built and shared by pointer; the canvas keeps a device copy alongside.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "lib/base/result.h"

namespace runtime::ui {

class Image {
public:
    // Fails when the sizes are not positive, too large (over 16384 on a side),
    // or the buffer is not exactly width × height × 4 bytes.
    static lib::Result<std::shared_ptr<const Image>> from_rgba(int width, int height,
                                                               std::vector<std::uint8_t> rgba);
    // Decodes a PNG file held in memory.
    static lib::Result<std::shared_ptr<const Image>> from_png(std::span<const std::uint8_t> bytes);

    int width() const { return width_; }
    int height() const { return height_; }
    const std::vector<std::uint8_t>& rgba() const { return rgba_; }

    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // The premultiplied device copy used by the canvas (a cairo_surface_t*),
    // made when the image is built so that any thread may build images.
    void* device_surface() const { return surface_; }

private:
    Image(int w, int h, std::vector<std::uint8_t> rgba);
    int width_;
    int height_;
    std::vector<std::uint8_t> rgba_;
    void* surface_ = nullptr;
};

using ImagePtr = std::shared_ptr<const Image>;

}  // namespace runtime::ui
