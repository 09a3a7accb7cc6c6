// The mail engine: one worker thread ("mail-engine") that takes requests one
// at a time from an unbounded channel, hands each to a backend, and answers
// every request with the backend's events followed by exactly one Completed.
// The window thread sends requests and drains events without blocking; a
// wake callback tells it that events are waiting.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/channel.h"
#include "engine/protocol.h"
#include "lib/base/result.h"

namespace mail::engine {

// Performs one request and sends zero or more events; it never sends
// Completed itself. Runs on the worker thread only.
class Backend {
public:
    virtual ~Backend() = default;
    virtual void handle(const Request& request, const EventSink& emit) = 0;
};

class Engine {
public:
    // Starts the worker thread with this backend. `wake` is called (on the
    // worker thread) after each event is queued; it must not block. The
    // error, when the thread cannot be started, reads
    // "spawn mail engine worker: <system text>".
    static lib::Result<std::unique_ptr<Engine>> start(std::unique_ptr<Backend> backend,
                                                      std::function<void()> wake = {}, bool offline = false);

    // Closes the request channel: the worker ends after the request in hand.
    // Waits briefly for an idle worker; a busy one is left to finish alone.
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Queues a request. False when the worker is gone (the channel closed).
    bool send(Request request);
    // The next waiting event, never blocking; nothing when none is waiting.
    std::optional<Event> try_next_event();
    // Whether the offline backend answers (the live one could not be built).
    bool offline() const { return offline_; }

    struct Shared;

private:
    Engine() = default;
    Sender<Request> requests_;
    Receiver<Event> events_;
    std::shared_ptr<Shared> shared_;
    bool offline_ = false;
};

}  // namespace mail::engine
