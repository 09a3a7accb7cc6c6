// The backend used when the live one cannot be built: every request gets one
// Failed event explaining that nothing reached a server.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/engine.h"

namespace mail::engine {

// Builds the outgoing MIME message of a draft (the bytes that would be
// submitted), or says why it cannot be built.
using MessageBuilder = std::function<lib::Result<std::string>(const StoredConfig& config,
                                                              const compose::DraftData& draft)>;

// Without a builder, Send reports that message assembly is missing from
// this build instead of a byte count.
std::unique_ptr<Backend> make_offline_backend(MessageBuilder build_message = {});

}  // namespace mail::engine
