// kz2-sim: a KZ2 controller on a pseudo-terminal. Prints the device path to open on a line of its
// own, then serves until SIGINT or SIGTERM.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/Faults.h"
#include "sim/Kz2Device.h"
#include "sim/PtySimulator.h"
#include "sim/StateFile.h"
#include "text/Quote.h"

namespace {

using namespace vornic::sim;

constexpr int kUsageError = 2;

int gSignalPipe[2] = {-1, -1};

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    (void)!::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

bool installSignals() {
    if (::pipe(gSignalPipe) != 0) {
        return false;
    }
    ::fcntl(gSignalPipe[1], F_SETFL, O_NONBLOCK);
    ::fcntl(gSignalPipe[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(gSignalPipe[1], F_SETFD, FD_CLOEXEC);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return ::sigaction(SIGINT, &sa, nullptr) == 0 && ::sigaction(SIGTERM, &sa, nullptr) == 0 &&
           ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

void waitForSignal() {
    pollfd p{gSignalPipe[0], POLLIN, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
}

bool parseOld(const std::string& text, DeviceIdentity& identity) {
    const size_t comma = text.find(',');
    uint64_t low = 0;
    uint64_t high = 0;
    if (comma == std::string::npos || !parseNumber(text.substr(0, comma), 0xFF, low) ||
        !parseNumber(text.substr(comma + 1), 0xFF, high)) {
        return false;
    }
    identity.oldForm = true;
    identity.oldLow = static_cast<uint8_t>(low);
    identity.oldHigh = static_cast<uint8_t>(high);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"kz2-sim: a simulated KZ2 telescope-mount controller on a pseudo-terminal"};
    int level = 6;
    std::string hardwareType;
    std::string firmware;
    std::string old;
    unsigned portType = 1;
    unsigned voltage = 1234;
    std::vector<std::string> faults;
    std::string statePath;
    std::string linkPath;
    bool trace = false;
    uint32_t seed = 1;

    app.add_option("--level", level, "firmware capability level 0..6 (0: too old to be served)")
        ->check(CLI::Range(0, 6));
    auto* typeOpt = app.add_option("--hardware-type", hardwareType,
                                   "hardware type, upper 16 bits of the hardware version");
    auto* fwOpt = app.add_option("--firmware", firmware, "firmware version, e.g. 0x01000009");
    auto* oldOpt =
        app.add_option("--old", old, "answer the identity request in the old two-byte form P1,P2");
    oldOpt->excludes(typeOpt);
    app.add_option("--port-type", portType, "port type reported")->check(CLI::Range(0, 255));
    app.add_option("--voltage", voltage, "supply voltage in hundredths of a volt")
        ->check(CLI::Range(0, 65535));
    app.add_option("--fault", faults,
                   "silent | garbage | split | no-reply=CODE | truncate=CODE | hangup-after=N | "
                   "delay=MS (may be given several times)");
    app.add_option("--state", statePath, "keep the stored settings in this JSON file");
    app.add_option("--link", linkPath, "make a symbolic link to the device at this path");
    app.add_flag("--trace", trace, "print every request and reply to stderr");
    app.add_option("--seed", seed, "seed for the line noise of --fault garbage");
    app.set_version_flag("--version", "kz2-sim " VORNIC_VERSION, "print the version and exit");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kUsageError;
    }

    SimSetup setup;
    if (!identityForLevel(level, setup.identity)) {
        std::fprintf(stderr, "kz2-sim: --level must be 0 to 6\n");
        return kUsageError;
    }
    uint64_t v = 0;
    if (typeOpt->count() > 0) {
        if (!parseNumber(hardwareType, 0xFFFF, v)) {
            std::fprintf(stderr, "kz2-sim: --hardware-type must be a number from 0 to 65535\n");
            return kUsageError;
        }
        setup.identity.oldForm = false;
        setup.identity.hardwareVersion = (static_cast<uint32_t>(v) << 16) | 0x0001;
    }
    if (fwOpt->count() > 0) {
        if (!parseNumber(firmware, 0xFFFFFFFF, v)) {
            std::fprintf(stderr, "kz2-sim: --firmware must be a 32-bit number, e.g. 0x0100000A\n");
            return kUsageError;
        }
        setup.identity.firmwareVersion = static_cast<uint32_t>(v);
    }
    if (oldOpt->count() > 0 && !parseOld(old, setup.identity)) {
        std::fprintf(stderr, "kz2-sim: --old must be two bytes P1,P2, e.g. 1,2\n");
        return kUsageError;
    }
    setup.identity.portType = static_cast<uint8_t>(portType);
    setup.supplyVoltage = static_cast<uint16_t>(voltage);
    for (const std::string& f : faults) {
        std::string error;
        if (!addFault(f, setup.faults, error)) {
            std::fprintf(stderr, "kz2-sim: %s\n", error.c_str());
            return kUsageError;
        }
    }
    setup.seed = seed;
    setup.linkPath = linkPath;
    setup.trace = trace ? stderr : nullptr;

    if (!statePath.empty()) {
        std::string error;
        const StateLoad loaded = loadState(statePath, setup.stored, error);
        if (loaded == StateLoad::invalid) {
            std::fprintf(stderr, "kz2-sim: %s\n", error.c_str());
            return kUsageError;
        }
        // A "store" is acknowledged only once the file holds it; a file that cannot be written
        // at all stops us here rather than failing every store later.
        if (!checkStateWritable(statePath, error)) {
            std::fprintf(stderr, "kz2-sim: state file: %s\n", error.c_str());
            return kUsageError;
        }
        if (loaded == StateLoad::missing) {
            std::fprintf(stderr, "kz2-sim: %s does not exist yet; starting from factory settings\n",
                         vornic::shown(statePath, 200).c_str());
        }
        setup.onStore = [statePath](const ConfigImage& stored) {
            std::string why;
            if (!saveState(statePath, stored, why)) {
                std::fprintf(stderr, "kz2-sim: settings not saved, store not acknowledged: %s\n",
                             why.c_str());
                return false;
            }
            return true;
        };
    }

    if (!installSignals()) {
        std::perror("kz2-sim: cannot install signal handlers");
        return 1;
    }
    PtySimulator sim(std::move(setup));
    std::string error;
    if (!sim.start(error)) {
        std::fprintf(stderr, "kz2-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", sim.slavePath().c_str());
    std::fflush(stdout);

    waitForSignal();
    sim.stop();
    return 0;
}
