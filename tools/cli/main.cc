// zelk-mail-cli: the command-line companion of Mail. Commands register
// themselves (cli/registry.h); this file only hands over the arguments.
#include <iostream>

#include "tools/cli/registry.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    tools::cli::Args args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    const int code = tools::cli::run(args, tools::cli::Io{std::cout, std::cerr});
    std::cout.flush();
    return code;
}
