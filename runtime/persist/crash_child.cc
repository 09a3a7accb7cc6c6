// Applies numbered changes to the document named on the command line, from
// the one after the last it holds, and reports each applied change on
// standard output as "<number> <heads>", after an "opened" line once the
// document is open. Runs until killed (or for a bounded
// number of changes).
#include <unistd.h>

#include <cstdio>
#include <string>

#include "runtime/persist/crash_model.h"
#include "runtime/persist/document.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DOCUMENT\n", argv[0]);
        return 2;
    }
    auto doc = runtime::persist::Doc::open(argv[1]);
    if (!doc) {
        std::fprintf(stderr, "open: %s\n", doc.error().c_str());
        return 3;
    }
    std::int64_t last = runtime::persist::crash::last_step(*doc);
    if (last < 0) {
        std::fprintf(stderr, "unreadable last step\n");
        return 4;
    }
    if (::write(1, "opened\n", 7) != 7) return 6;
    for (std::int64_t i = last + 1; i <= last + 100000; ++i) {
        auto st = doc->change([i](runtime::persist::Tx& tx) { runtime::persist::crash::apply_step(tx, i); });
        if (!st) {
            std::fprintf(stderr, "change %lld: %s\n", static_cast<long long>(i), st.error().c_str());
            return 5;
        }
        std::string line = std::to_string(i) + " " + doc->heads() + "\n";
        if (::write(1, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 6;
    }
    return 0;
}
