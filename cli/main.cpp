// vornic-cli: the command-line front end of Vornic.
#include <cstdio>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/System.h"

int main(int argc, char** argv) {
    vornic::cli::prepareProcess();

    vornic::cli::Invocation invocation;
    const vornic::cli::ParseResult parsed = vornic::cli::parseCommandLine(argc, argv, invocation);
    if (!parsed.output.empty() &&
        (std::fputs(parsed.output.c_str(), stdout) < 0 || std::fflush(stdout) != 0)) {
        std::perror("vornic-cli: cannot write to standard output");
        return vornic::cli::kExitFailed;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr,
                     "vornic-cli: %s\nRun vornic-cli --help for the commands and options.\n",
                     parsed.error.c_str());
    }
    if (parsed.exitCode >= 0) {
        return parsed.exitCode;
    }
    return vornic::cli::runInvocation(invocation);
}
