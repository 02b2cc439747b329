#include "desktop/qt/Program.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/Application.h"
#include "app/PortList.h"
#include "desktop/qt/QtFrontEnd.h"
#include "platform/PortTable.h"
#include "sim/Kz2Device.h"
#include "sim/PtySimulator.h"

namespace {

constexpr const char* kUsage =
    "Usage: vornic [--simulate[=LEVEL] | --port PATH] [Qt options]\n"
    "  --simulate[=LEVEL]  start with the built-in KZ2 simulator selected (feature level 0..6,\n"
    "                      default 6)\n"
    "  --port PATH         start with this serial device selected, e.g. /dev/ttyUSB0\n"
    "  --version           print the version and exit\n"
    "  -h, --help          print this help and exit\n"
    "Nothing connects until \"Connect\" is pressed. Without a display, use vornic-cli.\n"
    "Qt's own options are taken as well, e.g. -style Fusion or -platform offscreen.\n";

struct Options {
    bool simulate = false;
    int level = 6;
    std::string port;
};

// --help and --version answer without a display, before the toolkit starts; a value of --port is
// skipped, so that a device named like an option is not taken for one. Returns true when answered.
bool answeredWithText(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port") {
            ++i;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return true;
        } else if (arg == "--version") {
            std::fputs("vornic " VORNIC_VERSION "\n", stdout);
            return true;
        }
    }
    return false;
}

// Parses what the toolkit left of the arguments. Returns 0 when they are good, else the exit
// status.
int parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--simulate") {
            options.simulate = true;
        } else if (arg.rfind("--simulate=", 0) == 0) {
            const std::string level = arg.substr(11);
            if (level.size() != 1 || level[0] < '0' || level[0] > '6') {
                std::fprintf(stderr, "vornic: --simulate: the feature level must be 0..6, not %s\n",
                             level.c_str());
                return 2;
            }
            options.simulate = true;
            options.level = level[0] - '0';
        } else if (arg == "--port" && i + 1 < argc) {
            options.port = argv[++i];
        } else if (arg.rfind("--port=", 0) == 0 && arg.size() > 7) {
            options.port = arg.substr(7);
        } else {
            std::fprintf(stderr, "vornic: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    if (options.simulate && !options.port.empty()) {
        std::fprintf(stderr, "vornic: give either --port or --simulate, not both\n");
        return 2;
    }
    return 0;
}

constexpr const char* kNoDisplay =
    "vornic: no display to show the window on (%s). Run it in a desktop session, or use "
    "vornic-cli from a terminal (vornic-cli --help).\n";

bool startingToolkit = false;

// While the toolkit starts, a failure to open the display is fatal inside Qt and would abort
// with a core dump; it ends the program with the one-line explanation instead.
void toolkitMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg && startingToolkit) {
        std::fprintf(stderr, kNoDisplay, "the display cannot be opened");
        std::_Exit(1);
    }
    // While the toolkit starts, its own complaints only precede the fatal one explained above.
    if (!startingToolkit && type != QtDebugMsg && type != QtInfoMsg) {
        std::fprintf(stderr, "vornic: %s\n", message.toLocal8Bit().constData());
    }
}

bool hasDisplay(int argc, char** argv) {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && platform[0] != '\0') {
        return true;  // chosen explicitly (offscreen, vnc, ...)
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
            return true;  // the same, as the toolkit's own option
        }
    }
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return false;
}

}  // namespace

int vornic::ui::qt::runProgram(int argc, char** argv, const Prepare& prepare) {
    if (answeredWithText(argc, argv)) {
        return 0;
    }
    if (!hasDisplay(argc, argv)) {
        std::fprintf(stderr, kNoDisplay, "neither DISPLAY nor WAYLAND_DISPLAY is set");
        return 1;
    }

    qInstallMessageHandler(toolkitMessages);
    startingToolkit = true;
    // The toolkit takes its own options (-style, -platform, ...) out of argc/argv; ours are what
    // is left.
    QApplication app(argc, argv);
    startingToolkit = false;
    Options options;
    if (const int status = parseOptions(argc, argv, options); status != 0) {
        return status;
    }
    QApplication::setApplicationName(QStringLiteral("vornic"));
    QApplication::setDesktopFileName(QStringLiteral("vornic"));

    // The simulator is always offered, but its thread and pseudo-terminal exist only once it is
    // chosen: with --simulate at once, else when the user connects to it.
    std::unique_ptr<vornic::sim::PtySimulator> simulator;
    const auto startSimulator = [&simulator, level = options.level]() -> std::string {
        vornic::sim::SimSetup setup;
        if (!vornic::sim::identityForLevel(level, setup.identity)) {
            return {};
        }
        auto started = std::make_unique<vornic::sim::PtySimulator>(std::move(setup));
        std::string error;
        if (!started->start(error)) {
            std::fprintf(stderr, "vornic: the simulator cannot be started: %s\n", error.c_str());
            return {};
        }
        simulator = std::move(started);
        return simulator->slavePath();
    };

    vornic::platform::PortTable ports;
    vornic::PortList portList(vornic::platform::listSerialPorts, ports, options.port,
                              vornic::PortList::StartSimulator(startSimulator), options.simulate);

    vornic::ui::qt::QtFrontEnd frontEnd;
    frontEnd.setPortList(portList);
    frontEnd.closeOnTerminationSignals();
    // Finding the icon in the desktop's theme reads every theme index on the search path: the
    // window appears first and takes its icon a moment later.
    frontEnd.afterFirstPaint(
        [] { QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("vornic"))); });

    vornic::Application application(frontEnd, nullptr, ports);
    application.setSessionHooks(
        {[&portList] { portList.connectionEnded(); },
         [&frontEnd](const std::string& text) { frontEnd.setStatusToolTip(text); }});
    if (prepare) {
        prepare(frontEnd, application);
    }
    const int status = application.run();
    if (simulator) {
        simulator->stop();
    }
    return status;
}
