// The numbered changes used by the crash test, shared by the test and by the
// child process it kills. Change i touches several values at once, so a
// document that holds half of a change shows it.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/persist/document.h"

namespace runtime::persist::crash {

// Applies change number i (1, 2, ...) on a document that holds changes 1..i-1.
void apply_step(Tx& tx, std::int64_t i);

// The number of the last change the document holds according to "last"
// (0 for a new document, -1 when "last" is unreadable).
std::int64_t last_step(const Reader& doc);

// The whole tree as text, for comparing two documents exactly.
std::string dump(const Reader& doc);

}  // namespace runtime::persist::crash
