// zelk-mail-cli connect|fetch|flag|move|purge|sign-in --account FILE [...]
//
// Runs one engine request through the live backend (or, with --offline, the
// offline one) and prints every event as one JSON line:
//   {"event":"Connected","account":...}
//   {"event":"FoldersListed","names":[...]}
//   {"event":"Fetched","role":"inbox","account":...,"messages":[...]}
//     each message as `parse` prints it, plus "read", "starred", "date"
//     (minutes since the epoch) and "folder" (role key)
//   {"event":"SignedIn","account":...}
//   {"event":"Failed","kind":"Fetch","label":"fetch","message":...}
//   {"event":"Completed","kind":"Fetch"}
// FILE is the account's settings object, with an optional "password".
// OAuth accounts read their token from the secret vault in the
// configuration folder; sign-in prints the address to open on stderr.
// Exit 0 when nothing failed, 1 after a Failed event, 2 for bad arguments.
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>

#include "engine/engine.h"
#include "engine/live_backend.h"
#include "engine/offline_backend.h"
#include "lib/json/strict.h"
#include "tools/cli/message_json.h"
#include "tools/cli/files.h"
#include "tools/cli/registry.h"
#include "validate/account_config.h"

namespace tools::cli {
namespace {

using mail::engine::Event;
using mail::engine::EventTag;
using mail::engine::RequestPayload;
using mail::engine::StoredConfig;
using mail::state::FolderRole;

constexpr std::size_t kMaxAccountFileBytes = 1 << 20;

struct Options {
    std::optional<std::string> account_file;
    std::map<std::string, std::string> values;  // --name value
    bool offline = false;
};

// Every option takes one value except --offline.
lib::Result<Options> read_options(const Args& args, const std::vector<std::string>& allowed) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--offline") {
            o.offline = true;
            continue;
        }
        if (a.rfind("--", 0) != 0) return lib::err("unexpected argument \"" + a + "\"");
        const std::string name = a.substr(2);
        if (name != "account" && std::find(allowed.begin(), allowed.end(), name) == allowed.end())
            return lib::err("unknown option \"" + a + "\"");
        if (i + 1 >= args.size()) return lib::err("option \"" + a + "\" needs a value");
        if (o.values.count(name)) return lib::err("option \"" + a + "\" given twice");
        o.values[name] = args[++i];
    }
    if (!o.values.count("account")) return lib::err("--account FILE is required");
    o.account_file = o.values["account"];
    return o;
}

lib::Result<StoredConfig> read_account(const std::string& path) {
    ReadResult read = read_file(path == "-" ? "./-" : path, kMaxAccountFileBytes);
    if (!read.ok) return lib::err("cannot read " + path);
    if (read.too_large) return lib::err(path + ": account file too large");
    const std::string& text = read.bytes;
    auto settings = mail::validate::decode_settings(text);
    if (!settings) return lib::err(path + ": " + settings.error());
    StoredConfig config = settings->config;
    auto json = lib::json::parse_strict(text);
    if (json && json->is_object() && json->contains("password")) {
        const auto& p = (*json)["password"];
        if (!p.is_string()) return lib::err(path + ": \"password\" must be a string");
        config.password = p.get<std::string>();
    }
    return config;
}

lib::Result<FolderRole> role_option(const Options& o, const std::string& name, FolderRole fallback) {
    auto it = o.values.find(name);
    if (it == o.values.end()) return fallback;
    auto role = mail::state::parse_folder_role_key(it->second);
    if (!role) return lib::err("--" + name + " must be a folder role key (inbox, starred, sent, drafts, archive, trash, junk)");
    return *role;
}

lib::Result<bool> bool_option(const Options& o, const std::string& name) {
    auto it = o.values.find(name);
    if (it == o.values.end()) return lib::err("--" + name + " true|false is required");
    if (it->second == "true") return true;
    if (it->second == "false") return false;
    return lib::err("--" + name + " must be true or false");
}

// The record a mutation carries: only what locating it needs and the new
// flag values; the window would send its full copy.
lib::Result<mail::state::MailMessage> message_option(const Options& o, FolderRole default_folder) {
    auto it = o.values.find("message-id");
    if (it == o.values.end()) return lib::err("--message-id ID is required");
    auto folder = role_option(o, "folder", default_folder);
    if (!folder) return folder.take_error();
    mail::state::MailMessage m;
    m.message_id = it->second;
    m.id = mail::state::MessageId::from_message_id(it->second);
    m.folder = *folder;
    return m;
}

lib::json::Json event_json(const Event& event) {
    lib::json::Json j = lib::json::Json::object();
    j["event"] = std::string(mail::engine::event_tag_name(event.tag()));
    std::visit(
        [&](const auto& p) {
            using T = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<T, mail::engine::Connected> || std::is_same_v<T, mail::engine::SignedIn>) {
                j["account"] = p.account;
            } else if constexpr (std::is_same_v<T, mail::engine::FoldersListed>) {
                j["names"] = p.names;
            } else if constexpr (std::is_same_v<T, mail::engine::Fetched>) {
                j["role"] = std::string(mail::state::folder_role_key(p.role));
                j["account"] = p.account;
                lib::json::Json messages = lib::json::Json::array();
                for (const auto& m : p.messages) {
                    lib::json::Json record = message_json(m);
                    record["read"] = m.read;
                    record["starred"] = m.starred;
                    record["date"] = m.date;
                    record["folder"] = std::string(mail::state::folder_role_key(m.folder));
                    messages.push_back(std::move(record));
                }
                j["messages"] = std::move(messages);
            } else if constexpr (std::is_same_v<T, mail::engine::Sent>) {
                j["size"] = p.size;
            } else if constexpr (std::is_same_v<T, mail::engine::Failed>) {
                j["kind"] = std::string(mail::engine::request_kind_name(p.kind));
                j["label"] = p.label;
                j["message"] = p.message;
            } else if constexpr (std::is_same_v<T, mail::engine::Completed>) {
                j["kind"] = std::string(mail::engine::request_kind_name(p.kind));
            }
        },
        event.payload);
    return j;
}

// Sends the request and prints its events until its Completed.
int run_request(const Options& o, RequestPayload payload, Io io) {
    std::mutex mutex;
    std::condition_variable woken;
    bool pending = false;
    auto wake = [&] {
        std::lock_guard lock(mutex);
        pending = true;
        woken.notify_one();
    };

    lib::Result<std::unique_ptr<mail::engine::Engine>> engine = lib::err("no engine");
    if (o.offline) {
        engine = mail::engine::Engine::start(mail::engine::make_offline_backend(), wake, true);
    } else {
        mail::engine::LiveOptions live;
        live.open_browser = [&io](const std::string& url) {
            io.err << "Open this address in your browser to sign in:\n" << url << "\n";
            io.err.flush();
            return lib::ok_status();
        };
        engine = mail::engine::start_engine(std::move(live), {}, wake);
    }
    if (!engine) {
        io.err << kProgram << ": " << engine.error() << "\n";
        return kExitFailed;
    }
    auto id = mail::engine::RequestId::random();
    if (!id) {
        io.err << kProgram << ": " << id.error() << "\n";
        return kExitFailed;
    }
    if (!(*engine)->send(mail::engine::Request{*id, std::move(payload)})) {
        io.err << kProgram << ": Mail worker is unavailable\n";
        return kExitFailed;
    }
    bool failed = false;
    for (;;) {
        {
            std::unique_lock lock(mutex);
            woken.wait(lock, [&] { return pending; });
            pending = false;
        }
        while (auto event = (*engine)->try_next_event()) {
            io.out << lib::json::dump(event_json(*event)) << "\n";
            io.out.flush();
            if (event->tag() == EventTag::Failed) failed = true;
            if (event->tag() == EventTag::Completed && event->id == *id) return failed ? kExitFailed : kExitOk;
        }
    }
}

// Reads the options and the account, builds the payload, runs it.
using Build = lib::Result<RequestPayload> (*)(const Options&, const StoredConfig&);

int run_command(const char* name, const Args& args, const std::vector<std::string>& allowed, Build build, Io io) {
    const Command& self = *find_command(name);
    auto options = read_options(args, allowed);
    if (!options) return usage_error(self, options.error(), io);
    auto config = read_account(*options->account_file);
    if (!config) {
        io.err << kProgram << " " << name << ": " << config.error() << "\n";
        return kExitFailed;
    }
    auto payload = build(*options, *config);
    if (!payload) return usage_error(self, payload.error(), io);
    return run_request(*options, std::move(*payload), io);
}

int run_connect(const Args& args, Io io) {
    return run_command("connect", args, {}, [](const Options&, const StoredConfig& c) -> lib::Result<RequestPayload> {
        return RequestPayload(mail::engine::ConnectRequest{c});
    }, io);
}

int run_fetch(const Args& args, Io io) {
    return run_command("fetch", args, {"folder"}, [](const Options& o, const StoredConfig& c) -> lib::Result<RequestPayload> {
        auto role = role_option(o, "folder", FolderRole::Inbox);
        if (!role) return role.take_error();
        return RequestPayload(mail::engine::FetchRequest{c, *role});
    }, io);
}

int run_flag(const Args& args, Io io) {
    return run_command("flag", args, {"message-id", "folder", "read", "starred"},
                       [](const Options& o, const StoredConfig& c) -> lib::Result<RequestPayload> {
                           auto m = message_option(o, FolderRole::Inbox);
                           if (!m) return m.take_error();
                           auto read = bool_option(o, "read");
                           if (!read) return read.take_error();
                           auto starred = bool_option(o, "starred");
                           if (!starred) return starred.take_error();
                           m->read = *read;
                           m->starred = *starred;
                           return RequestPayload(mail::engine::FlagRequest{c, std::move(*m)});
                       }, io);
}

int run_move(const Args& args, Io io) {
    return run_command("move", args, {"message-id", "folder", "to"},
                       [](const Options& o, const StoredConfig& c) -> lib::Result<RequestPayload> {
                           auto m = message_option(o, FolderRole::Inbox);
                           if (!m) return m.take_error();
                           if (!o.values.count("to")) return lib::err("--to ROLE_KEY is required");
                           auto to = role_option(o, "to", FolderRole::Inbox);
                           if (!to) return to.take_error();
                           return RequestPayload(mail::engine::MoveRequest{c, std::move(*m), *to});
                       }, io);
}

int run_purge(const Args& args, Io io) {
    return run_command("purge", args, {"message-id", "folder"},
                       [](const Options& o, const StoredConfig& c) -> lib::Result<RequestPayload> {
                           auto m = message_option(o, FolderRole::Trash);
                           if (!m) return m.take_error();
                           return RequestPayload(mail::engine::PurgeRequest{c, std::move(*m)});
                       }, io);
}

int run_sign_in(const Args& args, Io io) {
    return run_command("sign-in", args, {}, [](const Options&, const StoredConfig& c) -> lib::Result<RequestPayload> {
        auto provider = mail::oauth::provider_for_address(c.email);
        if (!provider) return lib::err("Enter a Gmail or Outlook address to sign in");
        return RequestPayload(mail::engine::SignInRequest{c.email, *provider});
    }, io);
}

}  // namespace
}  // namespace tools::cli

ZELK_CLI_COMMAND(connect, "connect", "--account FILE [--offline]",
                 "sign in to the account's IMAP server and list its mailboxes (events as JSON lines)",
                 tools::cli::run_connect)
ZELK_CLI_COMMAND(fetch, "fetch", "--account FILE [--folder ROLE_KEY] [--offline]",
                 "fetch the 50 newest messages of a folder (events as JSON lines)", tools::cli::run_fetch)
ZELK_CLI_COMMAND(flag, "flag",
                 "--account FILE --message-id ID [--folder ROLE_KEY] --read true|false --starred true|false [--offline]",
                 "write a message's read and starred flags on the server", tools::cli::run_flag)
ZELK_CLI_COMMAND(move, "move", "--account FILE --message-id ID [--folder ROLE_KEY] --to ROLE_KEY [--offline]",
                 "move a message to another role folder on the server", tools::cli::run_move)
ZELK_CLI_COMMAND(purge, "purge", "--account FILE --message-id ID [--folder ROLE_KEY] [--offline]",
                 "permanently delete a message (from Trash unless --folder says otherwise)", tools::cli::run_purge)
ZELK_CLI_COMMAND(sign_in, "sign-in", "--account FILE [--offline]",
                 "sign in with OAuth in the browser and store the grant in the vault", tools::cli::run_sign_in)
