// The command table of zelk-mail-cli. A command is one .cc file that
// registers itself with ZELK_CLI_COMMAND; main() only dispatches.
//
//   int run_parse(const tools::cli::Args& args, tools::cli::Io io);
//   ZELK_CLI_COMMAND(parse, "parse", "FILE...", "print each message file as a JSON line", run_parse)
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tools::cli {

inline constexpr std::string_view kProgram = "zelk-mail-cli";

// Exit codes: 0 done; 1 something could not be done (say which on stderr);
// 2 unusable arguments (a usage line on stderr).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

using Args = std::vector<std::string>;  // the words after the command name

struct Io {
    std::ostream& out;
    std::ostream& err;
};

using CommandFn = int (*)(const Args& args, Io io);

struct Command {
    std::string_view name;     // "parse"
    std::string_view synopsis; // "FILE..." (after the name in the usage line)
    std::string_view summary;  // one line for --help
    CommandFn run;
};

// Adds a command; false (and nothing added) when the name is taken.
bool register_command(const Command& command);
const Command* find_command(std::string_view name);
// Every command, sorted by name.
std::vector<Command> commands();

// "usage: zelk-mail-cli parse FILE..."
std::string usage_line(const Command& command);

// Writes "zelk-mail-cli <command>: <message>" and the usage line to err;
// returns kExitUsage.
int usage_error(const Command& command, std::string_view message, Io io);

// The whole command line after the program name: options, dispatch and the
// help texts. "--help" anywhere before "--" shows the command's help.
int run(const Args& argv, Io io);

}  // namespace tools::cli

#define ZELK_CLI_COMMAND(ident, name, synopsis, summary, fn)                  \
    namespace {                                                               \
    [[maybe_unused]] const bool zelk_cli_registered_##ident =                 \
        ::tools::cli::register_command(::tools::cli::Command{name, synopsis, summary, fn}); \
    }
