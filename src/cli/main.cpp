// kestrova-cli: Kestrova's engine without windows.
#include "cli/check_command.h"
#include "cli/harvest_command.h"
#include "cli/pe_command.h"

#include <iostream>
#include <span>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::span<const std::string> rest =
        args.empty() ? std::span<const std::string>() : std::span(args).subspan(1);
    if (!args.empty() && args[0] == "pe")
        return kestrova::cli::run_pe_command(rest, std::cout, std::cerr);
    if (!args.empty() && args[0] == "check")
        return kestrova::cli::run_check_command(rest);
    if (!args.empty() && args[0] == "harvest")
        return kestrova::cli::run_harvest_command(rest);
    std::cerr
        << "usage: kestrova-cli check [options] [FILE]\n"
           "       kestrova-cli harvest [--pattern RE] [--sources FILE] [--unique] [URL ...]\n"
           "       kestrova-cli pe FILE [EXPORT [WORD ...]]\n"
           "(kestrova-cli COMMAND --help describes a command)\n";
    return 2;
}
