// GMime set-up (internal to lib/mime's .cc files).
#pragma once

namespace lib::mime::detail {

// Initialises GMime once per process; safe from any thread.
void ensure_gmime_init();

}  // namespace lib::mime::detail
