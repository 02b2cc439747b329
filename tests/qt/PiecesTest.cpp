// The desktop program's smaller parts: accessible names, the port list, dialog units, and the
// program's start without a display.

#include <sys/wait.h>

#include <QFont>
#include <cstdio>
#include <set>

#include "QtHarness.h"
#include "app/PortList.h"
#include "ui/AccessibleNames.h"
#include "ui/Layout.h"

namespace vornic::qttest {
namespace {

TEST(AccessibleNames, EveryInteractiveControlHasItsOwnName) {
    for (const ui::DialogLayout& d : ui::dialogLayouts()) {
        std::set<std::string> seen;
        for (const ui::ControlLayout& c : d.controls) {
            const std::string name = ui::accessibleName(d, c);
            if (!ui::isInteractive(c)) {
                EXPECT_TRUE(name.empty()) << d.id << "/" << c.id;
                continue;
            }
            EXPECT_FALSE(name.empty()) << d.id << "/" << c.id;
            EXPECT_TRUE(seen.insert(name).second) << d.id << ": \"" << name << "\" twice";
        }
    }
    const struct {
        int dialog;
        ui::ControlId id;
        const char* name;
    } cases[] = {{100, 210, "RA Max speed"},
                 {100, 335, "Dec Run current"},
                 {100, 201, "RA Reverse rotation"},
                 {100, 111, "Move north"},
                 {100, 153, "About"},
                 {100, 171, "RA gear ratio"},
                 {101, 100, "Gear ratio for RA axis"},
                 {102, 101, "Longitude"},
                 {103, 100, "Position"}};
    for (const auto& c : cases) {
        const ui::DialogLayout* d = ui::findDialogLayout(c.dialog);
        ASSERT_NE(d, nullptr);
        const ui::ControlLayout* control = ui::findControl(*d, c.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(ui::accessibleName(*d, *control), c.name);
    }
}

TEST(PortChoices, ListOrderSelectionAndTable) {
    const std::vector<platform::PortInfo> present = {
        {"/dev/serial/by-id/usb-FTDI_A1-if00-port0", "/dev/ttyUSB0"}, {"/dev/ttyS0", ""}};
    const struct {
        std::string requested;
        std::string simulator;
        bool simulate;
        std::vector<std::string> labels;
        int selected;
    } cases[] = {
        {"", "/dev/pts/7", false, {"ttyUSB0: usb-FTDI_A1-if00-port0", "ttyS0", "Simulator"}, 0},
        {"", "/dev/pts/7", true, {"ttyUSB0: usb-FTDI_A1-if00-port0", "ttyS0", "Simulator"}, 2},
        {"/dev/ttyS0",
         "/dev/pts/7",
         false,
         {"ttyUSB0: usb-FTDI_A1-if00-port0", "ttyS0", "Simulator"},
         1},
        {"/dev/ttyACM3",
         "",
         false,
         {"ttyUSB0: usb-FTDI_A1-if00-port0", "ttyS0", "/dev/ttyACM3"},
         2},
    };
    for (const auto& c : cases) {
        const PortChoices choices = buildPortChoices(present, c.requested, c.simulator, c.simulate);
        std::vector<std::string> labels;
        for (const PortChoice& item : choices.items) {
            labels.push_back(item.label);
        }
        EXPECT_EQ(labels, c.labels) << c.requested;
        EXPECT_EQ(choices.selected, c.selected) << c.requested;
        platform::PortTable table;
        fillPortTable(choices, table);
        char path[64];
        ASSERT_TRUE(table.pathFor(static_cast<uint32_t>(c.selected) + 1, path, sizeof path));
        EXPECT_EQ(path, choices.items[static_cast<size_t>(c.selected)].path);
    }
    // No port at all still offers the simulator.
    const PortChoices alone = buildPortChoices({}, "", "/dev/pts/9", false);
    ASSERT_EQ(alone.items.size(), 1u);
    EXPECT_EQ(alone.items[0].path, "/dev/pts/9");
}

TEST(OpenErrorText, SaysWhatToDo) {
    platform::OpenResult busy{platform::OpenError::Busy, 16, {}};
    std::snprintf(busy.detail, sizeof busy.detail,
                  "/dev/ttyUSB0: busy; in use by mini\x1b (pid 42)");
    EXPECT_NE(describeOpenError("/dev/ttyUSB0", busy).find("; in use by mini? (pid 42)."),
              std::string::npos);
    EXPECT_NE(describeOpenError("/dev/ttyUSB0", {platform::OpenError::PermissionDenied, 13, {}})
                  .find("dialout"),
              std::string::npos);
    // A detail that fills its whole buffer without a terminator is cut, not overrun.
    platform::OpenResult full{platform::OpenError::Other, 5, {}};
    std::fill(std::begin(full.detail), std::end(full.detail), 'x');
    EXPECT_LT(describeOpenError("p", full).size(), sizeof full.detail + 80);
}

TEST(DialogUnits, FollowTheFont) {
    ensureApplication();
    QFont small = QApplication::font();
    small.setPixelSize(11);
    QFont large = small;
    large.setPixelSize(22);
    const ui::qt::DialogUnits a = ui::qt::DialogUnits::forFont(small);
    const ui::qt::DialogUnits b = ui::qt::DialogUnits::forFont(large);
    EXPECT_NEAR(b.baseX, 2 * a.baseX, 1);
    EXPECT_NEAR(b.baseY, 2 * a.baseY, 2);
    // The main dialog keeps its proportions: 456 x 296 units.
    const double ratioA = double(a.x(456)) / a.y(296);
    const double ratioB = double(b.x(456)) / b.y(296);
    EXPECT_NEAR(ratioA, ratioB, 0.1);  // whole pixels per unit at the small size
}

struct ProgramRun {
    int status = -1;
    std::string out;  // stdout and stderr
};

ProgramRun runVornic(const std::string& env, const std::string& args) {
    const std::string command = env + " " VORNIC_BINARY " " + args + " 2>&1";
    ProgramRun run;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) {
        return run;
    }
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p) != nullptr) {
        run.out += buffer;
    }
    const int status = pclose(p);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

constexpr const char* kNoDisplayEnv = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM";

// Without a display the program says so in one line and exits 1, never aborting in the toolkit.
TEST(NoDisplay, ClearMessageAndExitOne) {
    const struct {
        const char* env;
        const char* reason;
    } cases[] = {{kNoDisplayEnv, "neither DISPLAY"},
                 {"env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:97", "cannot be opened"}};
    for (const auto& c : cases) {
        const ProgramRun run = runVornic(c.env, "");
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_NE(run.out.find(c.reason), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("vornic-cli"), std::string::npos) << run.out;
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    }
}

// --version and --help need no display; the toolkit's own options are taken by the toolkit, so
// that only what is left reaches the program's parser (an unknown option of ours ends the run
// before any window opens).
TEST(ProgramOptions, VersionHelpAndTheToolkitsOwn) {
    const struct {
        const char* args;
        int status;
        const char* says;
    } cases[] = {
        {"--version", 0, "vornic " VORNIC_VERSION "\n"},
        {"--help", 0, "--simulate"},
        {"--port --version", 1, "no display"},  // a device named like an option is not one
        {"-platform offscreen -style Fusion --bogus", 2, "unknown option --bogus"},
        {"-platform offscreen --simulate --port /dev/null", 2, "not both"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = runVornic(kNoDisplayEnv, c.args);
        EXPECT_EQ(run.status, c.status) << c.args << ": " << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << c.args << ": " << run.out;
    }
}

}  // namespace
}  // namespace vornic::qttest
