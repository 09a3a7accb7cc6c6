#include "runtime/ui/portal/open_link.h"

#include <gio/gio.h>

#include <memory>
#include <mutex>

#include "runtime/ui/util/link.h"

namespace runtime::ui::link {

namespace {

using Opener = std::function<lib::Status(const std::string&)>;

std::mutex& opener_mutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<const Opener>& opener_slot() {
    static std::shared_ptr<const Opener> slot;
    return slot;
}

}  // namespace

void set_test_opener(std::function<lib::Status(const std::string&)> opener) {
    std::shared_ptr<const Opener> next;
    if (opener) next = std::make_shared<const Opener>(std::move(opener));
    std::lock_guard<std::mutex> lock(opener_mutex());
    opener_slot() = std::move(next);
}

lib::Status try_os_open(std::string_view url) {
    if (lib::Status checked = check_openable(url); !checked.ok()) return checked;
    const std::string text(url);
    std::shared_ptr<const Opener> opener;
    {
        std::lock_guard<std::mutex> lock(opener_mutex());
        opener = opener_slot();
    }
    if (opener) return (*opener)(text);
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri(text.c_str(), nullptr, &error)) {
        std::string message = error ? error->message : "could not open the link";
        g_clear_error(&error);
        return lib::err(message);
    }
    return lib::ok_status();
}

}  // namespace runtime::ui::link
