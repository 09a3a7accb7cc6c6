#include "runtime/ui/util/wake.h"

#include <memory>
#include <mutex>

namespace runtime::ui {

namespace {

std::mutex& wake_mutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<const std::function<void()>>& wake_slot() {
    static std::shared_ptr<const std::function<void()>> slot;
    return slot;
}

}  // namespace

void set_background_wake(std::function<void()> wake) {
    std::shared_ptr<const std::function<void()>> next;
    if (wake) next = std::make_shared<const std::function<void()>>(std::move(wake));
    std::lock_guard<std::mutex> lock(wake_mutex());
    wake_slot() = std::move(next);
}

void wake_from_background() {
    std::shared_ptr<const std::function<void()>> hook;
    {
        std::lock_guard<std::mutex> lock(wake_mutex());
        hook = wake_slot();
    }
    // Called outside the lock so that the hook may itself replace the hook.
    if (hook) (*hook)();
}

}  // namespace runtime::ui
