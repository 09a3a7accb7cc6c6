#include "runtime/persist/crash_model.h"

#include <charconv>

namespace runtime::persist::crash {

void apply_step(Tx& tx, std::int64_t i) {
    const std::string n = std::to_string(i);
    tx.put_text({}, "last", n);
    tx.list_append_text({"seq"}, n);
    tx.put_text({"items"}, n, "item " + n);
    if (i > 5) tx.delete_key({"items"}, std::to_string(i - 5));
    tx.put_bool({}, "even", i % 2 == 0);
    // A sliding window of the last three numbers exercises list deletion.
    tx.list_append_text({"window"}, n);
    if (tx.list_texts({"window"}).size() > 3) tx.list_delete({"window"}, 0);
    // Every seventh change carries a value larger than a database page, so
    // that one change spans many pages of the log.
    if (i % 7 == 0) tx.put_text({"blob"}, "data", std::string(30000, static_cast<char>('a' + i % 26)));
    // A nested map replaced by a text and back, alternating.
    if (i % 5 == 0) {
        tx.put_text({}, "shape", "text " + n);
    } else {
        tx.put_text({"shape"}, "step", n);
    }
}

std::int64_t last_step(const Reader& doc) {
    auto last = doc.get_text({}, "last");
    if (!last) return doc.keys({}).empty() ? 0 : -1;
    std::int64_t v = -1;
    auto [p, ec] = std::from_chars(last->data(), last->data() + last->size(), v);
    if (ec != std::errc() || p != last->data() + last->size()) return -1;
    return v;
}

namespace {

void dump_at(const Reader& doc, const Path& path, std::string& out) {
    auto kind = doc.kind(path);
    if (!kind) {
        out += "?";
        return;
    }
    switch (*kind) {
        case Kind::map:
            out += "{";
            for (const auto& k : doc.keys(path)) {
                out += k;
                out += "=";
                auto child = path.child(k);
                auto ck = doc.kind(child);
                if (ck == Kind::text) {
                    out += "\"" + *doc.get_text(path, k) + "\"";
                } else if (ck == Kind::boolean) {
                    out += *doc.get_bool(path, k) ? "true" : "false";
                } else {
                    dump_at(doc, child, out);
                }
                out += ",";
            }
            out += "}";
            break;
        case Kind::list:
            out += "[";
            for (const auto& t : doc.list_texts(path)) out += "\"" + t + "\",";
            out += "]";
            break;
        default:
            out += "!";
    }
}

}  // namespace

std::string dump(const Reader& doc) {
    std::string out;
    dump_at(doc, Path{}, out);
    return out;
}

}  // namespace runtime::persist::crash
