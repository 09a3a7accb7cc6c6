#include "tools/cli/registry.h"

#include <algorithm>

namespace tools::cli {
namespace {

std::vector<Command>& table() {
    static std::vector<Command> commands;
    return commands;
}

void write_overview(std::ostream& out) {
    out << "usage: " << kProgram << " COMMAND [ARGS...]\n\ncommands:\n";
    std::size_t width = 0;
    for (const Command& c : commands()) width = std::max(width, c.name.size());
    for (const Command& c : commands()) {
        out << "  " << c.name << std::string(width - c.name.size() + 2, ' ') << c.summary << "\n";
    }
    out << "\nRun '" << kProgram << " COMMAND --help' for a command's arguments.\n";
}

bool wants_help(const Args& args) {
    for (const std::string& a : args) {
        if (a == "--") return false;
        if (a == "--help" || a == "-h") return true;
    }
    return false;
}

}  // namespace

bool register_command(const Command& command) {
    if (find_command(command.name) != nullptr) return false;
    table().push_back(command);
    return true;
}

const Command* find_command(std::string_view name) {
    for (const Command& c : table()) {
        if (c.name == name) return &c;
    }
    return nullptr;
}

std::vector<Command> commands() {
    std::vector<Command> sorted = table();
    std::sort(sorted.begin(), sorted.end(),
              [](const Command& a, const Command& b) { return a.name < b.name; });
    return sorted;
}

std::string usage_line(const Command& command) {
    std::string line = "usage: " + std::string(kProgram) + " " + std::string(command.name);
    if (!command.synopsis.empty()) line += " " + std::string(command.synopsis);
    return line;
}

int usage_error(const Command& command, std::string_view message, Io io) {
    io.err << kProgram << " " << command.name << ": " << message << "\n" << usage_line(command) << "\n";
    return kExitUsage;
}

int run(const Args& argv, Io io) {
    if (argv.empty()) {
        io.err << kProgram << ": no command given\nusage: " << kProgram
               << " COMMAND [ARGS...] (see --help)\n";
        return kExitUsage;
    }
    const std::string& first = argv.front();
    if (first == "--help" || first == "-h" || first == "help") {
        write_overview(io.out);
        return kExitOk;
    }
    const Command* command = find_command(first);
    if (command == nullptr) {
        if (!first.empty() && first.front() == '-') {
            io.err << kProgram << ": unknown option \"" << first << "\"\n";
        } else {
            io.err << kProgram << ": unknown command \"" << first << "\"\n";
        }
        io.err << "usage: " << kProgram << " COMMAND [ARGS...] (see --help)\n";
        return kExitUsage;
    }
    const Args rest(argv.begin() + 1, argv.end());
    if (wants_help(rest)) {
        io.out << usage_line(*command) << "\n" << command->summary << "\n";
        return kExitOk;
    }
    return command->run(rest, io);
}

}  // namespace tools::cli
