// The live backend: IMAP over TLS on an asynchronous runtime with two worker
// threads, one short connection per request; OAuth sign-in and token refresh
// over HTTPS. Also the engine's normal start, which falls back to the
// offline backend when the live one cannot be built.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/credentials.h"
#include "engine/engine.h"
#include "engine/offline_backend.h"
#include "lib/base/result.h"
#include "oauth/sign_in.h"

namespace mail::engine {

struct LiveOptions {
    CredentialSource credentials = CredentialSource::standard();
    // How sign-in shows the provider's page; without one sign-in fails with
    // "could not open sign-in browser: ...".
    oauth::BrowserOpener open_browser;
    std::chrono::milliseconds sign_in_limit = oauth::kSignInLimit;
    // Called with the IMAP command lines of each request (sign-in arguments
    // hidden) once it ends; for tests and diagnostics.
    std::function<void(const std::vector<std::string>&)> on_commands;
};

lib::Result<std::unique_ptr<Backend>> make_live_backend(LiveOptions options);

// The normal start: the live backend, or, when it cannot be built, the
// offline backend (logged as "live engine unavailable, using offline
// backend"). The error is only the worker thread failing to start.
lib::Result<std::unique_ptr<Engine>> start_engine(LiveOptions options, MessageBuilder build_message,
                                                  std::function<void()> wake);

}  // namespace mail::engine
