#include "cli/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include <CLI/CLI.hpp>

#include "text/Quote.h"

namespace vornic::cli {

namespace {

// The Initialize telescope dialog's positions, in its order; the code is the index + 4.
const char* const kPositionNames[10] = {
    "Default east side - Equator",
    "West side - Equator",
    "East side - Zenith",
    "West side - Zenith",
    "East side - South Horizon",
    "West side - South Horizon",
    "East side - North Horizon",
    "West side - North Horizon",
    "Eastern Horizon",
    "Western Horizon",
};

// Lower-case words joined by single dashes: "West side - Equator" -> "west-side-equator".
std::string normalise(const std::string& text) {
    std::string result;
    bool dash = false;
    for (const char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            if (dash && !result.empty()) {
                result += '-';
            }
            dash = false;
            result += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else {
            dash = true;
        }
    }
    return result;
}

uint32_t directionFor(const std::string& word) {
    const std::string w = normalise(word);
    if (w == "north" || w == "n") {
        return direction::kNorth;
    }
    if (w == "south" || w == "s") {
        return direction::kSouth;
    }
    if (w == "west" || w == "w") {
        return direction::kWest;
    }
    if (w == "east" || w == "e") {
        return direction::kEast;
    }
    return 0xFF;
}

const char* kDescription =
    "vornic-cli: configure and hand-control a KZ2 telescope-mount controller over a serial port.\n"
    "Exit status: 0 done, 1 the controller or the link failed (or a wait timed out), 2 usage "
    "error.";

// The options of the main command that take a value in the next word.
bool takesValue(const std::string& word) {
    return word == "--port" || word == "--baud" || word == "--timeout";
}

// The first word that is neither an option nor an option's value: what the user meant as the
// command.
std::string commandWord(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i] != nullptr ? argv[i] : "";
        if (takesValue(word)) {
            ++i;
        } else if (word.empty() || word[0] != '-') {
            return word;
        }
    }
    return "";
}

// A message made safe for the terminal: each line printable and of bounded length, since the
// parser's own messages quote what was typed.
std::string printable(const std::string& message) {
    std::string result;
    size_t start = 0;
    while (start <= message.size()) {
        const size_t end = std::min(message.find('\n', start), message.size());
        result += (result.empty() && start == 0 ? "" : "\n") +
                  shown(std::string_view(message).substr(start, end - start), 400);
        start = end + 1;
    }
    return result;
}

// CLI11's messages in our own words where they do not say what to do.
std::string parseErrorText(const CLI::ParseError& e, const CLI::App& app, int argc,
                           const char* const* argv) {
    const std::string what = e.what();
    if (app.get_subcommands().empty() && (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr ||
                                          dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr)) {
        std::string commands;
        for (const CLI::App* command : app.get_subcommands({})) {
            commands += (commands.empty() ? "" : ", ") + command->get_name();
        }
        const std::string word = commandWord(argc, argv);
        return (word.empty() ? std::string("a command is required")
                             : "unknown command " + shown(word)) +
               "; the commands are: " + commands;
    }
    const size_t atMost = what.find(": At Most 1 required but received");
    if (atMost != std::string::npos) {
        return what.substr(0, atMost) + " is given more than once; give it once";
    }
    return what;
}

}  // namespace

std::optional<uint32_t> positionCodeFor(const std::string& text) {
    const auto number = parseNumber(text);
    if (number) {
        if (*number >= 4 && *number <= 13) {
            return *number;
        }
        return std::nullopt;
    }
    const std::string wanted = normalise(text);
    if (wanted.empty()) {
        return std::nullopt;
    }
    for (uint32_t i = 0; i < 10; ++i) {
        if (normalise(kPositionNames[i]) == wanted) {
            return i + 4;
        }
    }
    // The first entry also answers to its name without "default".
    if (wanted == "east-side-equator") {
        return 4;
    }
    return std::nullopt;
}

const char* positionName(uint32_t code) {
    return code >= 4 && code <= 13 ? kPositionNames[code - 4] : "";
}

ParseResult parseCommandLine(int argc, const char* const* argv, Invocation& inv) {
    ParseResult result;
    CLI::App app{kDescription, "vornic-cli"};
    app.require_subcommand(1, 1);
    app.fallthrough();

    std::string simulateText;
    app.add_option(
        "--port", inv.port,
        "Serial device of the controller, e.g. /dev/ttyUSB0 or a /dev/serial/by-id/ name; on "
        "Windows COM5 (or just 5)");
    CLI::Option* simulate =
        app.add_option(
               "--simulate", simulateText,
               "Use a built-in simulated controller at this feature level (0..6, default 6); "
               "Linux only, since it needs a pseudo-terminal")
            ->expected(0, 1);
    app.add_option("--baud", inv.baud, "Baud rate, 9600 (default) or 115200")
        ->check(CLI::Validator(
            [](std::string& value) {
                return value == "9600" || value == "115200"
                           ? std::string()
                           : "the baud rate must be 9600 or 115200, not " + shown(value);
            },
            "9600|115200"));
    app.add_flag("--json", inv.json, "Print every report as one JSON object per line");
    app.add_flag("--trace", inv.trace, "Print every frame both ways in hex on stderr");
    app.set_version_flag("--version", "vornic-cli " VORNIC_VERSION, "Print the version and exit");
    app.set_help_all_flag("--help-all", "Print the help of every command");
    app.add_option("--timeout", inv.timeoutSeconds,
                   "Seconds to wait for the report a command provokes (default 15); connecting "
                   "is bounded by the link's own 8 s per request")
        ->check(CLI::Range(0.1, 86400.0));

    app.add_subcommand("ports", "List the serial ports present");
    app.add_subcommand("info", "Show the controller's identity and every setting");

    std::vector<std::string> opWords;
    CLI::App* doCommand = app.add_subcommand(
        "do",
        "Run operations by name with numeric arguments, e.g. do \"setMaxSpeeds 630 800\" "
        "measureVoltage storeSettings");
    doCommand->add_option("operation", opWords, "Operation name followed by its arguments")
        ->required();

    std::string directionWord;
    CLI::App* move = app.add_subcommand("move", "Move the mount by hand; Ctrl-C stops it");
    move->add_option("direction", directionWord, "north, south, east or west")->required();
    move->add_option("--speed", inv.speed, "Speed step 0..31 (default 10; 2 is sidereal)")
        ->check(CLI::Range(0u, 31u));
    move->add_option("--seconds", inv.seconds, "Stop after this many seconds (default: on Ctrl-C)")
        ->check(CLI::Range(0.0, 86400.0));

    app.add_subcommand("stop", "Stop both axes");
    std::string trackWord;
    CLI::App* track = app.add_subcommand("track", "Switch tracking on or off");
    track->add_option("state", trackWord, "on or off")
        ->required()
        ->check(CLI::IsMember({"on", "off"}));
    app.add_subcommand("voltage", "Measure the supply voltage");
    app.add_subcommand("save", "Store the settings in the controller");
    app.add_subcommand("reload-defaults", "Make the controller reload its default settings");

    std::vector<std::string> setWords;
    SiteOptions siteOptions;
    std::string latitude;
    std::string longitude;
    int64_t mountType = 0;
    int64_t hysteresis = 0;
    CLI::App* set = app.add_subcommand(
        "set",
        "Change one setting, e.g. set maxSpeed 630 800, set motorCurrent ra run 900, set "
        "reverse rotation ra on, set site --latitude \"N 47:30:15\"");
    set->add_option("setting", setWords, "Setting name and values")->required();
    CLI::Option* latitudeOption =
        set->add_option("--latitude", latitude, "Site latitude, e.g. \"N 47:30:15\"");
    CLI::Option* longitudeOption =
        set->add_option("--longitude", longitude, "Site longitude, e.g. \"E 8:00:00\"");
    CLI::Option* mountTypeOption = set->add_option(
        "--mount-type", mountType, "0 equatorial german, 1 equatorial fork, 2 alt-azimuth");
    CLI::Option* hysteresisOption =
        set->add_option("--hysteresis", hysteresis, "Meridian-flip hysteresis in degrees");

    std::string positionWord;
    CLI::App* sync = app.add_subcommand(
        "sync",
        "Synchronise the mount to a reference position (code 4..13 or its name, e.g. "
        "west-side-equator)");
    sync->add_option("position", positionWord, "Reference position")->required();
    app.add_subcommand("park", "Mark the current position as the park position");

    CLI::App* backup = app.add_subcommand("backup", "Write every setting into a JSON file");
    backup->add_option("file", inv.file, "Backup file")->required();
    CLI::App* diff =
        app.add_subcommand("diff", "Show what differs between a backup and the controller");
    diff->add_option("file", inv.file, "Backup file")->required();
    CLI::App* restore =
        app.add_subcommand("restore", "Send what differs from a backup, then read back and verify");
    restore->add_option("file", inv.file, "Backup file")->required();
    restore->add_flag("--save", inv.save, "Store the settings in the controller at the end");
    restore->add_flag("--keep-partial", inv.keepPartial,
                      "When a setting does not take, keep the others instead of putting back the "
                      "controller's earlier settings");
    restore->add_flag("--other-controller", inv.otherController,
                      "Restore a backup taken from another controller (different identity)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        result.output = app.help();
        result.exitCode = kExitOk;
        return result;
    } catch (const CLI::CallForAllHelp&) {
        result.output = app.help("", CLI::AppFormatMode::All);
        result.exitCode = kExitOk;
        return result;
    } catch (const CLI::CallForVersion& e) {
        result.output = std::string(e.what()) + "\n";
        result.exitCode = kExitOk;
        return result;
    } catch (const CLI::ParseError& e) {
        result.error = printable(parseErrorText(e, app, argc, argv));
        result.exitCode = kExitUsage;
        return result;
    }

    auto usage = [&](const std::string& message) {
        result.error = printable(message);
        result.exitCode = kExitUsage;
        return result;
    };

    inv.command = app.get_subcommands().front()->get_name();

    // Range checks let "nan" through; a time must be a real number of seconds.
    if (!std::isfinite(inv.timeoutSeconds) || inv.timeoutSeconds < 0.1) {
        return usage("--timeout: a number of seconds, at least 0.1");
    }
    if (inv.command == "move" && inv.seconds >= 0 && !std::isfinite(inv.seconds)) {
        return usage("move --seconds: a number of seconds");
    }
    if (inv.command == "move" && std::isnan(inv.seconds)) {
        return usage("move --seconds: a number of seconds");
    }

    if (simulate->count() > 0) {
        inv.simulate = true;
        if (!simulateText.empty() && simulateText != "true") {
            const auto level = parseNumber(simulateText);
            if (!level || *level > 6) {
                return usage("--simulate: the feature level must be 0..6, not " +
                             shown(simulateText));
            }
            inv.simulateLevel = *level;
        }
    }
    if (inv.needsController()) {
        if (inv.simulate == !inv.port.empty()) {
            return usage(inv.simulate ? "give either --port or --simulate, not both"
                                      : "name the controller's port with --port PATH, or use "
                                        "--simulate");
        }
        if (inv.port.size() >= 500) {
            return usage("--port: the device path is too long");
        }
    }

    if ((inv.command == "backup" || inv.command == "diff" || inv.command == "restore") &&
        inv.file.empty()) {
        return usage(inv.command + ": the file name is empty");
    }

    if (inv.command == "do") {
        std::string error;
        if (!parseOperations(opWords, inv.operations, error)) {
            return usage("do: " + error);
        }
    } else if (inv.command == "move") {
        inv.direction = directionFor(directionWord);
        if (inv.direction > direction::kEast) {
            return usage("move: the direction must be north, south, east or west, not " +
                         shown(directionWord));
        }
    } else if (inv.command == "track") {
        inv.trackOn = trackWord == "on";
    } else if (inv.command == "set") {
        if (latitudeOption->count() > 0) {
            siteOptions.latitude = latitude;
        }
        if (longitudeOption->count() > 0) {
            siteOptions.longitude = longitude;
        }
        if (mountTypeOption->count() > 0) {
            siteOptions.mountType = mountType;
        }
        if (hysteresisOption->count() > 0) {
            siteOptions.hysteresis = hysteresis;
        }
        std::string error;
        if (!parseSetRequest(setWords, siteOptions, inv.set, error)) {
            return usage(error);
        }
    } else if (inv.command == "sync") {
        const auto code = positionCodeFor(positionWord);
        if (!code) {
            std::string names;
            for (const char* name : kPositionNames) {
                names += "\n  " + normalise(name);
            }
            return usage("sync: unknown position " + shown(positionWord) +
                         "; give a code 4..13 or one of:" + names);
        }
        inv.positionCode = *code;
    }
    return result;
}

}  // namespace vornic::cli
