// The port list kept current while the program runs: devices come and go, the selected entry and
// the simulator stay, and every entry's number leads to the device the entry shows.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/PortList.h"

namespace vornic {
namespace {

using Devices = std::vector<platform::PortInfo>;

const platform::PortInfo kAdapter{"/dev/serial/by-id/usb-FTDI_A1-if00-port0", "/dev/ttyUSB0"};
const platform::PortInfo kAdapterMoved{"/dev/serial/by-id/usb-FTDI_A1-if00-port0", "/dev/ttyUSB1"};
const platform::PortInfo kOnboard{"/dev/ttyS0", ""};
const platform::PortInfo kAcm{"/dev/ttyACM0", ""};
constexpr const char* kSim = "/dev/pts/7";

struct Shown {
    std::string label;
    std::string path;  // what the entry's number must lead to
    bool operator==(const Shown&) const = default;
};

std::vector<Shown> shown(const PortList& list, const platform::PortTable& table) {
    std::vector<Shown> out;
    for (const PortRow& row : list.rows()) {
        char path[128];
        EXPECT_TRUE(table.pathFor(row.number, path, sizeof path));
        EXPECT_EQ(path, list.pathOf(row.number));
        out.push_back({row.label, path});
    }
    return out;
}

TEST(PortList, DevicesComeAndGo) {
    Devices present = {kAdapter, kOnboard};
    platform::PortTable table;
    PortList list([&] { return present; }, table, "", kSim, false);
    ASSERT_EQ(list.initialNumber(), 1u);

    const Shown adapter{"ttyUSB0: usb-FTDI_A1-if00-port0", kAdapter.path};
    const Shown onboard{"ttyS0", kOnboard.path};
    const Shown acm{"ttyACM0", kAcm.path};
    const Shown sim{"Simulator", kSim};
    const Shown gone{"ttyUSB0 (gone): usb-FTDI_A1-if00-port0", kAdapter.path};
    const Shown moved{"ttyUSB1: usb-FTDI_A1-if00-port0", kAdapter.path};
    const Shown movedGone{"ttyUSB1 (gone): usb-FTDI_A1-if00-port0", kAdapter.path};
    // Each step: what the scan finds, the number selected, the number connected to (0: none),
    // and the list after it.
    const struct {
        const char* what;
        Devices present;
        uint32_t selected;
        uint32_t connected;
        bool changed;
        std::vector<Shown> after;
    } steps[] = {
        {"device added", {kAdapter, kOnboard, kAcm}, 1, 0, true, {adapter, onboard, acm, sim}},
        {"nothing new", {kAdapter, kOnboard, kAcm}, 1, 0, false, {adapter, onboard, acm, sim}},
        {"unselected one removed", {kAdapter, kAcm}, 1, 0, true, {adapter, acm, sim}},
        {"selected one removed", {kAcm}, 1, 0, true, {acm, gone, sim}},
        {"still gone: marked once", {kAcm}, 1, 0, false, {acm, gone, sim}},
        {"back on another tty", {kAdapterMoved, kAcm}, 1, 0, true, {moved, acm, sim}},
        {"connected one removed", {kAcm}, 4, 1, true, {acm, movedGone, sim}},
        {"connection ended", {kAcm}, 4, 0, true, {acm, sim}},
        {"the simulator is never doubled", {{kSim, ""}, kOnboard}, 2, 0, true, {onboard, sim}},
    };
    for (const auto& step : steps) {
        present = step.present;
        if (step.connected != 0) {
            list.connecting(step.connected);
        } else {
            list.connectionEnded();
        }
        EXPECT_EQ(list.rescan(step.selected), step.changed) << step.what;
        EXPECT_EQ(shown(list, table), step.after) << step.what;
    }
    // A device that comes back gets its old number; a new one the lowest never given out.
    EXPECT_EQ(list.rows().front().number, 2u);
    present = {{"/dev/ttyUSB9", ""}};
    list.rescan(0);
    EXPECT_EQ(list.rows().front().number, 5u);
    // A port the system has a name for is shown by that name.
    present = {{"COM5", "\\Device\\Serial0", "USB Serial Port (COM5)"}};
    list.rescan(0);
    EXPECT_EQ(list.rows().front().label, "USB Serial Port (COM5)");
}

// The simulator's thread and device exist only once it is chosen: at the start with --simulate,
// else on the first connect to it; a start that failed is tried again on the next connect.
TEST(PortList, SimulatorStartsOnlyOnceChosen) {
    const Devices present = {kOnboard};
    platform::PortTable table;
    int starts = 0;
    std::string device = kSim;  // what a start gives, "" for a failed one
    const PortList::StartSimulator start = [&] {
        ++starts;
        return device;
    };
    const PortList chosen([&] { return present; }, table, "", start, true);
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(shown(chosen, table),
              (std::vector<Shown>{{"ttyS0", kOnboard.path}, {"Simulator", kSim}}));
    EXPECT_EQ(chosen.initialNumber(), 2u);

    starts = 0;
    PortList later([&] { return present; }, table, "", start, false);
    const struct {
        uint32_t connect;
        const char* device;
        int startsAfter;
        const char* simulatorPath;
    } steps[] = {
        {0, kSim, 0, ""},            // offered, not running
        {1, kSim, 0, ""},            // another port chosen
        {2, "", 1, ""},              // chosen, but it cannot start
        {2, kSim, 2, kSim},          // tried again
        {2, "/dev/pts/8", 2, kSim},  // running: not started twice
    };
    for (const auto& step : steps) {
        device = step.device;
        if (step.connect != 0) {
            later.connecting(step.connect);
        }
        later.rescan(1);
        EXPECT_EQ(starts, step.startsAfter) << step.connect;
        EXPECT_EQ(shown(later, table), (std::vector<Shown>{{"ttyS0", kOnboard.path},
                                                           {"Simulator", step.simulatorPath}}));
    }
}

TEST(PortList, NamedPortStaysAndNumbersRunOut) {
    Devices present;
    platform::PortTable table;
    PortList named([&] { return present; }, table, "/dev/kz2", "", false);
    present = {kAcm};
    EXPECT_TRUE(named.rescan(0));
    EXPECT_EQ(shown(named, table),
              (std::vector<Shown>{{"ttyACM0", kAcm.path}, {"/dev/kz2", "/dev/kz2"}}));

    // More devices than numbers, at the start and later: none gets a number twice, none beyond
    // the last, and the simulator is still offered, last.
    present.clear();
    for (int i = 0; i < 300; ++i) {
        present.push_back({"/dev/ttyUSB" + std::to_string(i), ""});
    }
    platform::PortTable full;
    PortList many([&] { return present; }, full, "", kSim, true);
    for (int i = 300; i < 600; ++i) {
        present.push_back({"/dev/ttyUSB" + std::to_string(i), ""});
    }
    many.rescan(many.initialNumber());
    std::vector<bool> used(platform::PortTable::kMaxPort + 1);
    for (const PortRow& row : many.rows()) {
        ASSERT_GE(row.number, 1u);
        ASSERT_LE(row.number, platform::PortTable::kMaxPort);
        EXPECT_FALSE(used[row.number]) << row.number;
        used[row.number] = true;
    }
    EXPECT_EQ(many.rows().size(), platform::PortTable::kMaxPort);
    EXPECT_EQ(many.rows().back().label, "Simulator");
    EXPECT_EQ(many.rows().back().number, many.initialNumber());
}

}  // namespace
}  // namespace vornic
