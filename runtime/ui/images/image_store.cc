#include "runtime/ui/images/image_store.h"

#include <curl/curl.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "lib/base/log.h"
#include "runtime/ui/util/wake.h"

namespace runtime::ui {

namespace {

void curl_init_once() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool fetchable_url(const std::string& url) {
    if (url.size() > 8192) return false;
    for (const char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F) return false;
    }
    auto lower_prefix = [&](std::string_view p) {
        if (url.size() <= p.size()) return false;
        for (std::size_t i = 0; i < p.size(); ++i) {
            char c = url[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != p[i]) return false;
        }
        return true;
    };
    return lower_prefix("http://") || lower_prefix("https://");
}

}  // namespace

struct ImageStore::Shared {
    struct Entry {
        State state = State::loading;
        std::shared_ptr<const Image> image;
        std::string error;
        std::uint64_t last_use = 0;
    };

    struct Transfer {
        std::string url;
        CURL* easy = nullptr;
        std::string body;
        bool too_big = false;
        std::size_t max_bytes = 0;
        char errbuf[CURL_ERROR_SIZE] = {};
    };

    explicit Shared(ImageStoreOptions o) : options(std::move(o)) {
        curl_init_once();
        multi = curl_multi_init();
    }
    ~Shared() {
        if (multi) curl_multi_cleanup(multi);
    }

    const ImageStoreOptions options;
    mutable std::mutex mu;
    mutable std::condition_variable idle_cv;
    std::unordered_map<std::string, Entry> entries;
    std::deque<std::string> queue;
    std::size_t in_flight = 0;  // queued URLs taken by the worker and not yet finished
    std::uint64_t clock = 0;
    bool stop = false;
    bool worker_started = false;
    std::thread worker;
    std::function<void()> on_loaded;
    CURLM* multi = nullptr;

    // Drops least recently used settled entries beyond the cap. Holds mu.
    void evict_locked() {
        while (entries.size() > options.max_entries) {
            auto victim = entries.end();
            for (auto it = entries.begin(); it != entries.end(); ++it) {
                if (it->second.state == State::loading) continue;
                if (victim == entries.end() || it->second.last_use < victim->second.last_use) victim = it;
            }
            if (victim == entries.end()) return;
            entries.erase(victim);
        }
    }

    static size_t on_body(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const size_t n = size * count;
        if (t->body.size() + n > t->max_bytes) {
            t->too_big = true;
            return 0;  // stops the transfer
        }
        t->body.append(data, n);
        return n;
    }

    Transfer* start(const std::string& url) {
        auto* t = new Transfer;
        t->url = url;
        t->max_bytes = options.max_bytes;
        CURL* e = curl_easy_init();
        if (!e) {
            delete t;
            return nullptr;
        }
        t->easy = e;
        curl_easy_setopt(e, CURLOPT_URL, url.c_str());
        curl_easy_setopt(e, CURLOPT_PRIVATE, t);
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, static_cast<long>(options.max_redirects));
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(options.timeout.count()));
        curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.max_bytes));
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Shared::on_body);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, t);
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->errbuf);
        curl_easy_setopt(e, CURLOPT_USERAGENT, "Mail");
        // No cookies, no credentials from .netrc, nothing sent with redirects.
        curl_easy_setopt(e, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
        curl_easy_setopt(e, CURLOPT_UNRESTRICTED_AUTH, 0L);
        curl_multi_add_handle(multi, e);
        return t;
    }

    lib::Result<Image> outcome(Transfer* t, CURLcode code) const {
        if (t->too_big || code == CURLE_FILESIZE_EXCEEDED) {
            return lib::err("image is larger than " + std::to_string(options.max_bytes) + " bytes");
        }
        if (code != CURLE_OK) {
            std::string why = t->errbuf[0] ? t->errbuf : curl_easy_strerror(code);
            if (code == CURLE_UNSUPPORTED_PROTOCOL) why = "redirect to a non-web address refused (" + why + ")";
            return lib::err("image download failed: " + why);
        }
        long status = 0;
        curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
        if (status < 200 || status > 299) return lib::err("image request answered HTTP " + std::to_string(status));
        const auto* data = reinterpret_cast<const std::uint8_t*>(t->body.data());
        return decode_image(std::span<const std::uint8_t>(data, t->body.size()), options.decode);
    }

    void finish(Transfer* t, CURLcode code) {
        lib::Result<Image> result = outcome(t, code);
        curl_multi_remove_handle(multi, t->easy);
        curl_easy_cleanup(t->easy);
        if (!result.ok()) {
            lib::log::debug("image load failed", {{"url", t->url}, {"error", result.error()}});
        }
        std::function<void()> callback;
        {
            std::lock_guard<std::mutex> lock(mu);
            auto it = entries.find(t->url);
            if (it != entries.end()) {
                if (result.ok()) {
                    it->second.state = State::ready;
                    it->second.image = std::make_shared<const Image>(std::move(result).value());
                } else {
                    it->second.state = State::failed;
                    it->second.error = result.error();
                }
            }
            --in_flight;
            evict_locked();
            callback = on_loaded;
        }
        idle_cv.notify_all();
        delete t;
        if (callback) {
            callback();
        } else {
            wake_from_background();
        }
    }

    void run() {
        std::vector<Transfer*> active;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mu);
                if (stop) break;
                while (!queue.empty() && active.size() < options.max_parallel) {
                    std::string url = std::move(queue.front());
                    queue.pop_front();
                    Transfer* t = start(url);
                    if (t) {
                        active.push_back(t);
                    } else {
                        auto it = entries.find(url);
                        if (it != entries.end()) {
                            it->second.state = State::failed;
                            it->second.error = "image download failed: could not start a transfer";
                        }
                        --in_flight;
                    }
                }
            }
            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
                if (msg->msg != CURLMSG_DONE) continue;
                Transfer* t = nullptr;
                curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &t);
                const CURLcode code = msg->data.result;
                std::erase(active, t);
                finish(t, code);
            }
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        for (Transfer* t : active) {
            curl_multi_remove_handle(multi, t->easy);
            curl_easy_cleanup(t->easy);
            delete t;
        }
    }
};

ImageStore::ImageStore() : ImageStore(ImageStoreOptions{}) {}

ImageStore::ImageStore(ImageStoreOptions options) : shared_(std::make_shared<Shared>(std::move(options))) {}

ImageStore::~ImageStore() {
    {
        std::lock_guard<std::mutex> lock(shared_->mu);
        shared_->stop = true;
    }
    if (shared_->multi) curl_multi_wakeup(shared_->multi);
    if (shared_->worker.joinable()) shared_->worker.join();
}

std::shared_ptr<const Image> ImageStore::get(const std::string& url) {
    Shared& s = *shared_;
    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        const std::uint64_t now = ++s.clock;
        auto it = s.entries.find(url);
        if (it != s.entries.end()) {
            it->second.last_use = now;
            return it->second.state == State::ready ? it->second.image : nullptr;
        }
        Shared::Entry entry;
        entry.last_use = now;
        if (!fetchable_url(url)) {
            entry.state = State::failed;
            entry.error = "only http and https images are loaded";
        } else if (!s.multi) {
            entry.state = State::failed;
            entry.error = "image download failed: could not start the downloader";
        } else {
            s.queue.push_back(url);
            ++s.in_flight;
            queued = true;
            if (!s.worker_started) {
                s.worker_started = true;
                s.worker = std::thread([&s] { s.run(); });
            }
        }
        s.entries.emplace(url, std::move(entry));
        s.evict_locked();
    }
    if (queued) curl_multi_wakeup(s.multi);
    return nullptr;
}

ImageStore::State ImageStore::state(const std::string& url) const {
    std::lock_guard<std::mutex> lock(shared_->mu);
    auto it = shared_->entries.find(url);
    return it == shared_->entries.end() ? State::absent : it->second.state;
}

std::string ImageStore::failure(const std::string& url) const {
    std::lock_guard<std::mutex> lock(shared_->mu);
    auto it = shared_->entries.find(url);
    return it == shared_->entries.end() ? std::string() : it->second.error;
}

void ImageStore::set_on_loaded(std::function<void()> callback) {
    std::lock_guard<std::mutex> lock(shared_->mu);
    shared_->on_loaded = std::move(callback);
}

bool ImageStore::wait_idle(std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(shared_->mu);
    return shared_->idle_cv.wait_for(lock, limit, [&] { return shared_->in_flight == 0; });
}

}  // namespace runtime::ui
