#include "lib/imap/session.h"

#include <asio.hpp>
#include <charconv>
#include <system_error>
#include <utility>

#include "lib/crypto/base64.h"
#include "lib/imap/command.h"

namespace lib::imap {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

std::string refusal(const StatusResponse& s, std::string_view command) {
    std::string text = s.describe();
    if (!text.empty()) return text;
    return std::string(command) + " refused by the server (" + std::string(condition_name(s.condition)) + ")";
}

std::optional<std::uint32_t> to_u32(std::string_view text) {
    std::uint32_t v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || p == text.data()) return std::nullopt;
    return v;
}

// Server-supplied text shown to the user: printable, bounded.
std::string printable(std::string_view text, std::size_t max) {
    std::string out;
    for (char c : text) {
        if (out.size() >= max) {
            out += "...";
            break;
        }
        auto u = static_cast<unsigned char>(c);
        out.push_back(u < 0x20 || u == 0x7f ? ' ' : c);
    }
    return out;
}

bool has_any(std::string_view text, std::string_view chars) {
    return text.find_first_of(chars) != std::string_view::npos;
}

}  // namespace

struct Session::Impl {
    explicit Impl(Limits l) : limits(l), parser(l) {}

    struct Reply {
        StatusResponse done;
        std::vector<Response> untagged;
    };

    Limits limits;
    Parser parser;
    std::unique_ptr<net::Stream> stream;
    bool usable = false;
    TagSource tags;
    std::vector<std::string> caps;
    bool caps_known = false;
    std::string bye;
    bool recording = false;
    std::vector<std::string> recorded;

    void fail_connection() {
        usable = false;
        if (stream) stream->close();
    }

    void note_code(const StatusResponse& s) {
        if (s.code_name() != "CAPABILITY") return;
        caps.clear();
        std::string_view rest = s.code_argument();
        while (!rest.empty()) {
            auto space = rest.find(' ');
            auto word = rest.substr(0, space);
            if (!word.empty()) caps.emplace_back(word);
            if (space == std::string_view::npos) break;
            rest.remove_prefix(space + 1);
        }
        caps_known = true;
    }

    bool has_cap(std::string_view name) const {
        for (const auto& c : caps) {
            if (iequals(c, name)) return true;
        }
        return false;
    }

    void record(std::string line) {
        if (!recording) return;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        recorded.push_back(std::move(line));
    }

    asio::awaitable<Result<Response>> read_response() {
        while (true) {
            auto next = parser.next();
            if (!next) {
                fail_connection();
                co_return next.take_error();
            }
            if (next->has_value()) {
                Response r = std::move(**next);
                co_return r;
            }
            auto room = parser.prepare(kReadChunk);
            auto n = co_await stream->read_some(room);
            if (!n) {
                std::string message = n.error();
                if (!bye.empty()) message = "server closed the connection: " + bye;
                fail_connection();
                co_return err(message);
            }
            parser.commit(*n);
        }
    }

    asio::awaitable<Status> send(std::string line) {
        auto sent = co_await stream->write_all(line);
        if (!sent) fail_connection();
        co_return sent;
    }

    // Reads up to the tagged completion of `tag`; untagged data is kept.
    asio::awaitable<Result<Reply>> collect(std::string tag, std::string command) {
        Reply reply;
        while (true) {
            auto r = co_await read_response();
            if (!r) co_return r.take_error();
            Response& resp = *r;
            if (auto* s = std::get_if<StatusResponse>(&resp)) {
                if (!s->tag.empty()) {
                    if (s->tag != tag) {
                        fail_connection();
                        co_return err("server answered a command that was not sent (tag " + printable(s->tag, 20) + ")");
                    }
                    note_code(*s);
                    reply.done = std::move(*s);
                    co_return reply;
                }
                if (s->condition == Condition::bye) {
                    bye = s->describe();
                    if (bye.empty()) bye = "BYE";
                }
                note_code(*s);
            } else if (auto* c = std::get_if<CapabilityData>(&resp)) {
                caps = c->names;
                caps_known = true;
            } else if (std::holds_alternative<Continuation>(resp)) {
                fail_connection();
                co_return err(command + ": server asked for data the command does not have");
            }
            reply.untagged.push_back(std::move(resp));
        }
    }

    asio::awaitable<Result<Reply>> run(Command cmd) {
        if (!usable) co_return err("not connected");
        std::string tag = tags.next();
        auto line = cmd.line(tag);
        if (!line) co_return line.take_error();
        if (cmd.name() == "LOGIN") {
            record(tag + " LOGIN ***");
        } else {
            record(*line);
        }
        auto sent = co_await send(std::move(*line));
        if (!sent) co_return sent.take_error();
        auto reply = co_await collect(tag, cmd.name());
        co_return reply;
    }

    // Runs the command and requires OK.
    asio::awaitable<Result<Reply>> run_ok(Command cmd) {
        std::string name = cmd.name();
        auto reply = co_await run(std::move(cmd));
        if (!reply) co_return reply;
        if (reply->done.condition != Condition::ok) co_return err(refusal(reply->done, name));
        co_return reply;
    }

    asio::awaitable<Status> ensure_capabilities() {
        if (caps_known) co_return ok_status();
        auto reply = co_await run_ok(Command("CAPABILITY"));
        if (!reply) co_return reply.take_error();
        co_return ok_status();
    }

    asio::awaitable<Status> connect(net::ConnectOptions options) {
        fail_connection();
        stream.reset();
        parser = Parser(limits);
        tags = TagSource();
        caps.clear();
        caps_known = false;
        bye.clear();
        auto opened = co_await net::Stream::connect(std::move(options));
        if (!opened) co_return opened.take_error();
        stream = std::move(*opened);
        usable = true;
        auto greeting = co_await read_response();
        if (!greeting) co_return greeting.take_error();
        auto* s = std::get_if<StatusResponse>(&*greeting);
        if (!s || !s->tag.empty()) {
            fail_connection();
            co_return err("unexpected greeting from the server");
        }
        if (s->condition == Condition::bye) {
            fail_connection();
            co_return err("server refused the connection: " + s->describe());
        }
        if (s->condition != Condition::ok && s->condition != Condition::preauth) {
            fail_connection();
            co_return err("unexpected greeting from the server: " + s->describe());
        }
        note_code(*s);
        co_return ok_status();
    }

    asio::awaitable<Status> login(std::string user, std::string password) {
        Command cmd("LOGIN");
        cmd.string(user).string(password);
        caps_known = false;
        auto reply = co_await run_ok(std::move(cmd));
        if (!reply) co_return reply.take_error();
        co_return ok_status();
    }

    asio::awaitable<Status> authenticate_xoauth2(std::string user, std::string token) {
        if (!usable) co_return err("not connected");
        if (has_any(user, std::string_view("\x01\r\n\0", 4)) || has_any(token, std::string_view("\x01\r\n\0", 4)))
            co_return err("user name or access token contains a control character");
        auto known = co_await ensure_capabilities();
        if (!known) co_return known;
        std::string initial = crypto::base64_encode("user=" + user + "\x01" "auth=Bearer " + token + "\x01\x01");
        bool inline_ir = has_cap("SASL-IR");
        caps_known = false;
        std::string tag = tags.next();
        record(tag + " AUTHENTICATE XOAUTH2 ***");
        std::string line = tag + " AUTHENTICATE XOAUTH2" + (inline_ir ? " " + initial : std::string()) + "\r\n";
        auto sent = co_await send(std::move(line));
        if (!sent) co_return sent;
        bool initial_sent = inline_ir;
        bool answered = false;
        std::string challenge;
        while (true) {
            auto r = co_await read_response();
            if (!r) co_return r.take_error();
            if (auto* c = std::get_if<Continuation>(&*r)) {
                std::string reply_line;
                if (!initial_sent) {
                    reply_line = initial + "\r\n";
                    initial_sent = true;
                } else if (!answered) {
                    // The mechanism's error report; an empty response ends
                    // the exchange and the server answers NO.
                    auto decoded = crypto::base64_decode(c->text);
                    challenge = decoded ? printable(std::string_view(reinterpret_cast<const char*>(decoded->data()),
                                                                     decoded->size()),
                                                    400)
                                        : printable(c->text, 400);
                    reply_line = "\r\n";
                    answered = true;
                } else {
                    reply_line = "*\r\n";
                }
                auto more = co_await send(std::move(reply_line));
                if (!more) co_return more;
                continue;
            }
            if (auto* s = std::get_if<StatusResponse>(&*r)) {
                if (s->tag.empty()) {
                    if (s->condition == Condition::bye) bye = s->describe();
                    note_code(*s);
                    continue;
                }
                if (s->tag != tag) {
                    fail_connection();
                    co_return err("server answered a command that was not sent");
                }
                note_code(*s);
                if (s->condition == Condition::ok) co_return ok_status();
                std::string text = refusal(*s, "AUTHENTICATE");
                if (!challenge.empty()) text += " (server said: " + challenge + ")";
                co_return err(text);
            }
            if (auto* c = std::get_if<CapabilityData>(&*r)) {
                caps = c->names;
                caps_known = true;
            }
        }
    }

    asio::awaitable<Result<std::vector<ListData>>> list() {
        Command cmd("LIST");
        cmd.string("").raw("*");
        auto reply = co_await run_ok(std::move(cmd));
        if (!reply) co_return reply.take_error();
        std::vector<ListData> out;
        for (auto& r : reply->untagged) {
            if (auto* l = std::get_if<ListData>(&r); l && !l->lsub) out.push_back(std::move(*l));
        }
        co_return out;
    }

    asio::awaitable<Result<SelectInfo>> select(std::string mailbox) {
        Command cmd("SELECT");
        cmd.string(mailbox);
        auto reply = co_await run_ok(std::move(cmd));
        if (!reply) co_return reply.take_error();
        SelectInfo info;
        for (auto& r : reply->untagged) {
            if (auto* c = std::get_if<CountData>(&r); c && c->kind == CountData::Kind::exists) {
                info.exists = c->number;
            } else if (auto* f = std::get_if<FlagsData>(&r)) {
                info.flags = std::move(f->flags);
            } else if (auto* s = std::get_if<StatusResponse>(&r)) {
                auto name = s->code_name();
                if (name == "UIDVALIDITY") info.uid_validity = to_u32(s->code_argument());
                if (name == "UIDNEXT") info.uid_next = to_u32(s->code_argument());
            }
        }
        info.read_only = reply->done.code_name() == "READ-ONLY";
        co_return info;
    }

    asio::awaitable<Result<std::vector<std::uint32_t>>> search(Command cmd) {
        auto reply = co_await run_ok(std::move(cmd));
        if (!reply) co_return reply.take_error();
        std::vector<std::uint32_t> out;
        for (auto& r : reply->untagged) {
            if (auto* s = std::get_if<SearchData>(&r)) out.insert(out.end(), s->numbers.begin(), s->numbers.end());
        }
        co_return out;
    }

    asio::awaitable<Result<std::vector<FetchData>>> uid_fetch(std::vector<std::uint32_t> uids, std::string items) {
        if (uids.empty()) co_return std::vector<FetchData>{};
        Command cmd("UID FETCH");
        cmd.raw(sequence_set(uids)).raw(items);
        auto reply = co_await run_ok(std::move(cmd));
        if (!reply) co_return reply.take_error();
        std::vector<FetchData> out;
        out.reserve(uids.size());
        for (auto& r : reply->untagged) {
            if (auto* f = std::get_if<FetchData>(&r)) out.push_back(std::move(*f));
        }
        co_return out;
    }

    asio::awaitable<Status> store(std::uint32_t uid, StoreAction action, std::string flags) {
        static const char* const words[] = {"+FLAGS", "-FLAGS", "+FLAGS.SILENT", "-FLAGS.SILENT"};
        Command cmd("UID STORE");
        cmd.number(uid).raw(words[static_cast<int>(action)]).raw(flags);
        auto reply = co_await run_ok(std::move(cmd));
        if (!reply) co_return reply.take_error();
        co_return ok_status();
    }

    asio::awaitable<Status> expunge(std::uint32_t uid) {
        auto known = co_await ensure_capabilities();
        if (!known) co_return known;
        if (!has_cap("UIDPLUS")) co_return err("server does not offer UID EXPUNGE (no UIDPLUS)");
        Command cmd("UID EXPUNGE");
        cmd.number(uid);
        auto reply = co_await run_ok(std::move(cmd));
        if (!reply) co_return reply.take_error();
        co_return ok_status();
    }

    asio::awaitable<Status> move(std::uint32_t uid, std::string mailbox) {
        auto known = co_await ensure_capabilities();
        if (!known) co_return known;
        if (has_cap("MOVE")) {
            Command cmd("UID MOVE");
            cmd.number(uid).string(mailbox);
            auto reply = co_await run_ok(std::move(cmd));
            if (!reply) co_return reply.take_error();
            co_return ok_status();
        }
        if (!has_cap("UIDPLUS")) co_return err("server offers neither MOVE nor UIDPLUS; the message was not moved");
        Command copy("UID COPY");
        copy.number(uid).string(mailbox);
        auto copied = co_await run_ok(std::move(copy));
        if (!copied) co_return copied.take_error();
        auto flagged = co_await store(uid, StoreAction::add_silent, "(\\Deleted)");
        if (!flagged) co_return flagged;
        auto expunged = co_await expunge(uid);
        co_return expunged;
    }

    asio::awaitable<Status> logout() {
        if (!usable) co_return err("not connected");
        auto reply = co_await run(Command("LOGOUT"));
        bool said_bye = !bye.empty();
        fail_connection();
        if (!reply) {
            if (said_bye) co_return ok_status();
            co_return reply.take_error();
        }
        if (reply->done.condition != Condition::ok) co_return err(refusal(reply->done, "LOGOUT"));
        co_return ok_status();
    }
};

namespace {

// Public entry points end here: a cancelled or failed coroutine becomes a
// value and the connection is given up.
template <class T>
asio::awaitable<Result<T>> guarded(Session::Impl& impl, asio::awaitable<Result<T>> inner) {
    try {
        auto r = co_await std::move(inner);
        co_return r;
    } catch (const std::system_error& e) {
        impl.fail_connection();
        if (e.code() == asio::error::operation_aborted) co_return err("connection cancelled");
        co_return err(std::string("connection error: ") + e.code().message());
    } catch (const std::exception& e) {
        impl.fail_connection();
        co_return err(std::string("connection error: ") + e.what());
    }
}

}  // namespace

Session::Session(Limits limits) : impl_(std::make_unique<Impl>(limits)) {}
Session::~Session() { impl_->fail_connection(); }

asio::awaitable<Status> Session::connect(net::ConnectOptions options) {
    return guarded(*impl_, impl_->connect(std::move(options)));
}
asio::awaitable<Status> Session::login(std::string user, std::string password) {
    return guarded(*impl_, impl_->login(std::move(user), std::move(password)));
}
asio::awaitable<Status> Session::authenticate_xoauth2(std::string user, std::string access_token) {
    return guarded(*impl_, impl_->authenticate_xoauth2(std::move(user), std::move(access_token)));
}
asio::awaitable<Result<std::vector<ListData>>> Session::list() { return guarded(*impl_, impl_->list()); }
asio::awaitable<Result<SelectInfo>> Session::select(std::string mailbox) {
    return guarded(*impl_, impl_->select(std::move(mailbox)));
}
asio::awaitable<Result<std::vector<std::uint32_t>>> Session::uid_search(std::string criterion) {
    Command cmd("UID SEARCH");
    cmd.raw(criterion);
    return guarded(*impl_, impl_->search(std::move(cmd)));
}
asio::awaitable<Result<std::vector<std::uint32_t>>> Session::uid_search_header(std::string field, std::string value) {
    bool atom = !field.empty();
    for (char c : field) {
        atom = atom && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-');
    }
    Command cmd("UID SEARCH");
    cmd.raw("HEADER").raw(atom ? field : std::string()).string(value);
    return guarded(*impl_, impl_->search(std::move(cmd)));
}
asio::awaitable<Result<std::vector<FetchData>>> Session::uid_fetch(std::vector<std::uint32_t> uids,
                                                                   std::string items) {
    return guarded(*impl_, impl_->uid_fetch(std::move(uids), std::move(items)));
}
asio::awaitable<Status> Session::uid_store(std::uint32_t uid, StoreAction action, std::string flag_list) {
    return guarded(*impl_, impl_->store(uid, action, std::move(flag_list)));
}
asio::awaitable<Status> Session::uid_move(std::uint32_t uid, std::string mailbox) {
    return guarded(*impl_, impl_->move(uid, std::move(mailbox)));
}
asio::awaitable<Status> Session::uid_expunge(std::uint32_t uid) { return guarded(*impl_, impl_->expunge(uid)); }
asio::awaitable<Status> Session::logout() { return guarded(*impl_, impl_->logout()); }

asio::awaitable<Result<std::vector<std::string>>> Session::refresh_capabilities() {
    Impl& impl = *impl_;
    auto inner = [](Impl& i) -> asio::awaitable<Result<std::vector<std::string>>> {
        i.caps_known = false;
        auto known = co_await i.ensure_capabilities();
        if (!known) co_return known.take_error();
        co_return i.caps;
    };
    return guarded(impl, inner(impl));
}

const std::vector<std::string>& Session::capabilities() const { return impl_->caps; }
bool Session::has_capability(std::string_view name) const { return impl_->has_cap(name); }
bool Session::connected() const { return impl_->usable && impl_->stream && impl_->stream->is_open(); }
void Session::close() { impl_->fail_connection(); }
void Session::record_commands(bool on) { impl_->recording = on; }
const std::vector<std::string>& Session::recorded_commands() const { return impl_->recorded; }

}  // namespace lib::imap
