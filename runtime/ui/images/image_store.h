// Remote pictures (avatars and the like) loaded in the background. get()
// never blocks: the first request for a URL starts a download on the store's
// worker thread and answers "nothing yet"; once the picture is decoded, later
// requests return it. Failures are remembered too, so a missing picture is
// asked for once, not on every frame.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "runtime/ui/images/image.h"

namespace runtime::ui {

struct ImageStoreOptions {
    std::chrono::milliseconds timeout{10000};  // whole transfer, redirects included
    std::size_t max_bytes = 5 * 1024 * 1024;   // downloaded body
    int max_redirects = 3;                      // only to http and https
    std::size_t max_parallel = 4;               // transfers at once
    std::size_t max_entries = 1024;             // cached pictures and failures (least recently used go)
    DecodeLimits decode;
};

class ImageStore {
public:
    enum class State { absent, loading, ready, failed };

    ImageStore();
    explicit ImageStore(ImageStoreOptions options);
    ~ImageStore();  // stops the worker; the callback is not called afterwards
    ImageStore(const ImageStore&) = delete;
    ImageStore& operator=(const ImageStore&) = delete;

    // The decoded picture, or nullptr while it loads or when it failed. Only
    // http and https URLs are fetched; anything else fails at once.
    std::shared_ptr<const Image> get(const std::string& url);

    // Where a URL stands, and the reason of a failure (empty otherwise).
    State state(const std::string& url) const;
    std::string failure(const std::string& url) const;

    // Called on the worker thread after each finished load (success or
    // failure), e.g. the window's thread-safe wake. Without one the toolkit's
    // background wake (runtime/ui/util/wake.h) is used.
    void set_on_loaded(std::function<void()> callback);

    // For tests and tools: waits until nothing is queued or loading, at most
    // `limit`; true when idle.
    bool wait_idle(std::chrono::milliseconds limit) const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace runtime::ui
