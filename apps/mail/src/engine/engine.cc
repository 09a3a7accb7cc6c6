#include "engine/engine.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <system_error>
#include <thread>

#include "lib/base/log.h"

namespace mail::engine {

struct Engine::Shared {
    std::atomic<bool> idle{true};
    std::atomic<bool> finished{false};
};

namespace {

void worker_loop(Receiver<Request> requests, Sender<Event> events, std::unique_ptr<Backend> backend,
                 std::function<void()> wake, std::shared_ptr<Engine::Shared> shared) {
    pthread_setname_np(pthread_self(), "mail-engine");
    const EventSink emit = [&events, &wake](Event event) {
        if (events.send(std::move(event)) && wake) wake();
    };
    while (auto request = requests.recv()) {
        shared->idle = false;
        try {
            backend->handle(*request, emit);
        } catch (const std::exception& e) {
            emit(failed_event(*request, std::string("engine error: ") + e.what()));
        } catch (...) {
            emit(failed_event(*request, "engine error"));
        }
        emit(Event{request->id, Completed{request->kind()}});
        shared->idle = true;
    }
    backend.reset();
    shared->finished = true;
}

}  // namespace

lib::Result<std::unique_ptr<Engine>> Engine::start(std::unique_ptr<Backend> backend, std::function<void()> wake,
                                                   bool offline) {
    auto [request_tx, request_rx] = make_channel<Request>();
    auto [event_tx, event_rx] = make_channel<Event>();
    std::unique_ptr<Engine> engine(new Engine());
    engine->shared_ = std::make_shared<Shared>();
    engine->offline_ = offline;
    try {
        std::thread worker(worker_loop, std::move(request_rx), std::move(event_tx), std::move(backend),
                           std::move(wake), engine->shared_);
        worker.detach();
    } catch (const std::system_error& e) {
        return lib::err(std::string("spawn mail engine worker: ") + e.what());
    }
    engine->requests_ = std::move(request_tx);
    engine->events_ = std::move(event_rx);
    return engine;
}

Engine::~Engine() {
    requests_.reset();
    // An idle worker notices the closed channel at once; give it a moment so
    // that its backend is torn down before the program goes on exiting.
    if (shared_ && shared_->idle) {
        for (int i = 0; i < 100 && !shared_->finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    events_.close();
}

bool Engine::send(Request request) {
    if (shared_ && shared_->finished) return false;
    return requests_.send(std::move(request));
}

std::optional<Event> Engine::try_next_event() {
    std::optional<Event> event;
    events_.try_recv(event);
    return event;
}

}  // namespace mail::engine
