// The command line against arbitrary argument vectors: the input is cut at zero bytes into at
// most 40 words after the program name. Asserts the guarantees of cli/CommandLine.h and
// cli/Operations.h: no exception escapes, the exit status is one of the three, every usage error
// is printable and of bounded length, and an accepted command line holds only values the command
// can use.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/Backup.h"
#include "cli/CommandLine.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace vornic;
using namespace vornic::cli;
using vornic::fuzz::printableMessage;
using vornic::fuzz::require;

constexpr size_t kMaxWords = 40;

void checkAccepted(const Invocation& inv) {
    require(inv.baud == 9600 || inv.baud == 115200, "the baud rate is 9600 or 115200");
    require(std::isfinite(inv.timeoutSeconds) && inv.timeoutSeconds >= 0.1,
            "the time-out is a real number of seconds");
    require(inv.simulateLevel <= 6, "a simulated level is 0..6");
    if (inv.needsController()) {
        require(inv.simulate != !inv.port.empty(), "exactly one of --port and --simulate");
    }
    if (inv.command == "backup" || inv.command == "diff" || inv.command == "restore") {
        require(!inv.file.empty(), "a file command has a file name");
    }
    if (inv.command == "move") {
        require(inv.direction <= 3 && inv.speed <= 31, "a move has a direction and a speed step");
        require(!std::isnan(inv.seconds), "a move's duration is a number");
    }
    if (inv.command == "sync") {
        require(inv.positionCode >= 4 && inv.positionCode <= 13, "sync has a position code");
    }
    std::string error;
    for (const OpCall& call : inv.operations) {
        for (int a = 0; a < call.info->argCount; ++a) {
            // Each argument was accepted either as a signed or as an unsigned number.
            const int64_t asUnsigned = call.args[a];
            const int64_t asSigned = static_cast<int32_t>(call.args[a]);
            require(checkArgument(*call.info, a, asUnsigned, error) ||
                        checkArgument(*call.info, a, asSigned, error),
                    "do passes only arguments the operation takes");
        }
    }
    if (inv.command == "set" && inv.set.field != "site" && inv.set.field.rfind("reverse", 0) != 0) {
        const SettingField* field = findSettingField(inv.set.field);
        require(field != nullptr, "set names a known setting");
        std::vector<int64_t> given;
        if (field->shape == SettingShape::Triples) {
            given = {inv.set.values[0]};
        } else if (inv.set.axis == -1) {
            given = {inv.set.values[0], inv.set.values[1]};
        } else {
            given = {inv.set.values[inv.set.axis]};
        }
        for (const int64_t v : given) {
            require(field->typed.holds(v), "set passes only values in the setting's range");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words = {"vornic-cli"};
    std::string word;
    for (size_t i = 0; i < size && words.size() <= kMaxWords; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (!word.empty() && words.size() <= kMaxWords) {
        words.push_back(word);
    }
    std::vector<const char*> argv;
    for (const std::string& w : words) {
        argv.push_back(w.c_str());
    }
    argv.push_back(nullptr);

    Invocation inv;
    const ParseResult result = parseCommandLine(static_cast<int>(words.size()), argv.data(), inv);
    require(result.exitCode == -1 || result.exitCode == kExitOk || result.exitCode == kExitUsage,
            "the parser ends with 0 (help), 2 (usage) or goes on");
    if (result.exitCode == kExitUsage) {
        require(printableMessage(result.error, 4000, true), "a usage error is printable");
    } else if (result.exitCode == -1) {
        require(result.error.empty(), "an accepted command line has no error");
        checkAccepted(inv);
    }
    return 0;
}
