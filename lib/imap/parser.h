// Incremental IMAP response parser without any input/output: bytes go in as
// they arrive, complete responses come out. Each byte is scanned once while
// framing (lines and literals), so a response that arrives in many pieces
// costs no more than one that arrives whole. Hostile input fails with a
// message; it never grows the buffer past the limits below.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "lib/base/result.h"
#include "lib/imap/response.h"

namespace lib::imap {

// A literal over max_literal is read and thrown away as it arrives: as a
// FETCH body it is reported in FetchData::omitted_body_bytes, anywhere else
// the response is an error. The other limits end the connection's parsing.
struct Limits {
    std::size_t max_literal = 64u << 20;        // bytes of one literal kept
    std::size_t max_text = 8u << 20;            // bytes outside literals, per response
    std::size_t max_response = 192u << 20;      // all bytes of one response
    std::size_t max_depth = 32;                 // nesting of parenthesised lists
    std::size_t max_list_items = 100000;        // flags or capability names kept per list
};

class Parser {
public:
    explicit Parser(Limits limits = {});
    ~Parser();
    Parser(Parser&&) noexcept;
    Parser& operator=(Parser&&) noexcept;

    // Appends received bytes. Call next() until it gives no response before
    // feeding more, so that at most one incomplete response is buffered.
    void feed(std::string_view bytes);

    // For reading straight into the parser's buffer: prepare(n) gives room
    // for at least n bytes, commit(k) adds the first k of them.
    std::span<char> prepare(std::size_t n);
    void commit(std::size_t k);

    // The next complete response, or no value when more bytes are needed.
    // An error is final: every later call gives the same error.
    Result<std::optional<Response>> next();

    // Bytes received but not yet handed out as responses.
    std::size_t buffered() const;

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace lib::imap
