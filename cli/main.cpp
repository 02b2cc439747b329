// vornic-cli: the command-line front end of Vornic.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/System.h"

int main(int argc, char** argv) {
    vornic::cli::prepareProcess();

    // Converted once here: from now on every argument, and every path in one, is UTF-8.
    const std::vector<std::string> arguments = vornic::cli::utf8Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    pointers.push_back(nullptr);

    vornic::cli::Invocation invocation;
    const vornic::cli::ParseResult parsed = vornic::cli::parseCommandLine(
        static_cast<int>(arguments.size()), pointers.data(), invocation);
    if (!parsed.output.empty() &&
        (!vornic::cli::writeText(stdout, parsed.output) || std::fflush(stdout) != 0)) {
        std::perror("vornic-cli: cannot write to standard output");
        return vornic::cli::kExitFailed;
    }
    if (!parsed.error.empty()) {
        static_cast<void>(vornic::cli::writeText(
            stderr, "vornic-cli: " + parsed.error +
                        "\nRun vornic-cli --help for the commands and options.\n"));
    }
    if (parsed.exitCode >= 0) {
        return parsed.exitCode;
    }
    return vornic::cli::runInvocation(invocation);
}
