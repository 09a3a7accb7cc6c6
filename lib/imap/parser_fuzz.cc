// Feeds arbitrary bytes to the response parser whole and in pieces; both
// must give the same responses (or the same error), and quoting any text
// must read back unchanged.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "lib/imap/command.h"
#include "lib/imap/parser.h"

namespace {

using namespace lib::imap;

std::string render(const Response& r) {
    std::string out = std::to_string(r.index()) + ":";
    if (auto* s = std::get_if<StatusResponse>(&r)) return out + s->tag + "|" + s->code + "|" + s->text;
    if (auto* c = std::get_if<Continuation>(&r)) return out + c->text;
    if (auto* l = std::get_if<ListData>(&r)) return out + std::string(1, l->delimiter) + l->name;
    if (auto* f = std::get_if<FetchData>(&r)) {
        out += std::to_string(f->sequence) + "|" + std::to_string(f->uid.value_or(0)) + "|" +
               std::to_string(f->internal_date.value_or(0)) + "|" + std::to_string(f->rfc822_size.value_or(0));
        if (f->flags) {
            for (const auto& fl : *f->flags) out += fl + " ";
        }
        if (f->body) out += "|" + *f->body;
        out += "|" + std::to_string(f->omitted_body_bytes);
        return out;
    }
    if (auto* s = std::get_if<SearchData>(&r)) {
        for (auto n : s->numbers) out += std::to_string(n) + " ";
    }
    return out;
}

std::vector<std::string> run(const uint8_t* data, size_t size, size_t step, const Limits& limits) {
    Parser p(limits);
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < size) {
        size_t n = std::min(step, size - pos);
        auto room = p.prepare(n);
        std::copy_n(reinterpret_cast<const char*>(data) + pos, n, room.data());
        p.commit(n);
        pos += n;
        while (true) {
            auto r = p.next();
            if (!r) {
                out.push_back("error " + r.error());
                return out;
            }
            if (!r->has_value()) break;
            out.push_back(render(**r));
        }
        if (p.buffered() > limits.max_response + step) std::abort();
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t step = data[0] % 16 + 1;
    Limits limits;
    if (data[0] & 0x80) {
        limits.max_literal = 64;
        limits.max_text = 256;
        limits.max_response = 512;
        limits.max_depth = 4;
        limits.max_list_items = 8;
    }
    ++data;
    --size;
    auto whole = run(data, size, size ? size : 1, limits);
    auto pieces = run(data, size, step, limits);
    if (pieces != whole) std::abort();

    std::string text(reinterpret_cast<const char*>(data), size);
    auto q = quote(text);
    bool quotable = text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
    if (q.ok() != quotable) std::abort();
    if (q.ok()) {
        Parser p;
        p.feed("* LIST () \"/\" " + *q + "\r\n");
        auto r = p.next();
        if (!r.ok() || !r->has_value()) std::abort();
        auto* l = std::get_if<ListData>(&**r);
        if (!l || l->name != text) std::abort();
    }
    return 0;
}
