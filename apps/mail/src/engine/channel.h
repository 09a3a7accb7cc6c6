// An unbounded first-in-first-out channel between threads. Senders may be
// copied; when the last one is gone the receiver sees the channel closed
// once it has taken everything. When the receiver is gone, sends fail and
// what was queued is dropped. Sending never blocks.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace mail::engine {

namespace detail {
template <class T>
struct ChannelState {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<T> queue;
    int senders = 0;
    bool receiver_alive = true;
};
}  // namespace detail

template <class T>
class Sender {
public:
    Sender() = default;
    explicit Sender(std::shared_ptr<detail::ChannelState<T>> s) : s_(std::move(s)) { attach(); }
    Sender(const Sender& o) : s_(o.s_) { attach(); }
    Sender(Sender&& o) noexcept : s_(std::move(o.s_)) {}
    Sender& operator=(Sender o) noexcept {
        std::swap(s_, o.s_);
        return *this;
    }
    ~Sender() { reset(); }

    // False (and the value dropped) when the receiver is gone.
    bool send(T value) const {
        if (!s_) return false;
        {
            std::lock_guard lock(s_->mutex);
            if (!s_->receiver_alive) return false;
            s_->queue.push_back(std::move(value));
        }
        s_->ready.notify_one();
        return true;
    }

    // Drops this sender (the channel closes when it was the last).
    void reset() {
        if (!s_) return;
        {
            std::lock_guard lock(s_->mutex);
            --s_->senders;
        }
        s_->ready.notify_all();
        s_.reset();
    }

    bool valid() const { return s_ != nullptr; }

private:
    void attach() {
        if (!s_) return;
        std::lock_guard lock(s_->mutex);
        ++s_->senders;
    }
    std::shared_ptr<detail::ChannelState<T>> s_;
};

enum class RecvStatus { value, empty, closed };

template <class T>
class Receiver {
public:
    Receiver() = default;
    explicit Receiver(std::shared_ptr<detail::ChannelState<T>> s) : s_(std::move(s)) {}
    Receiver(Receiver&&) noexcept = default;
    Receiver& operator=(Receiver&& o) noexcept {
        if (this != &o) {
            close();
            s_ = std::move(o.s_);
        }
        return *this;
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() { close(); }

    // Waits for the next value; nothing once every sender is gone and the
    // queue is empty.
    std::optional<T> recv() {
        if (!s_) return std::nullopt;
        std::unique_lock lock(s_->mutex);
        s_->ready.wait(lock, [&] { return !s_->queue.empty() || s_->senders == 0; });
        if (s_->queue.empty()) return std::nullopt;
        T value = std::move(s_->queue.front());
        s_->queue.pop_front();
        return value;
    }

    // Never waits.
    RecvStatus try_recv(std::optional<T>& out) {
        out.reset();
        if (!s_) return RecvStatus::closed;
        std::lock_guard lock(s_->mutex);
        if (!s_->queue.empty()) {
            out.emplace(std::move(s_->queue.front()));
            s_->queue.pop_front();
            return RecvStatus::value;
        }
        return s_->senders == 0 ? RecvStatus::closed : RecvStatus::empty;
    }

    // Gives up receiving: later sends fail.
    void close() {
        if (!s_) return;
        std::deque<T> dropped;
        {
            std::lock_guard lock(s_->mutex);
            s_->receiver_alive = false;
            dropped.swap(s_->queue);
        }
        s_.reset();
    }

private:
    std::shared_ptr<detail::ChannelState<T>> s_;
};

template <class T>
std::pair<Sender<T>, Receiver<T>> make_channel() {
    auto state = std::make_shared<detail::ChannelState<T>>();
    return {Sender<T>(state), Receiver<T>(state)};
}

}  // namespace mail::engine
