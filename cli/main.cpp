// vornic-cli: the command-line front end of Vornic.
#include <signal.h>

#include <cstdio>

#include "cli/CommandLine.h"
#include "cli/Commands.h"

int main(int argc, char** argv) {
    // A reader that goes away (vornic-cli ... | head) must not kill us before the controller is
    // left in order, e.g. before a move has been stopped.
    signal(SIGPIPE, SIG_IGN);

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
