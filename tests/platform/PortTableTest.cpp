#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/PortTable.h"
#include "platform/posix/PortScan.h"

namespace vornic::platform {
namespace {

namespace fs = std::filesystem;

std::string pathOf(const PortTable& table, uint32_t number, size_t size = 64) {
    std::vector<char> out(size, 'x');
    if (!table.pathFor(number, out.data(), out.size())) {
        return "<none>";
    }
    return out.data();
}

TEST(PortTable, NamedEntriesWinAndOtherNumbersFallBackToTheDefault) {
    PortTable table;
    EXPECT_EQ(pathOf(table, 1), "/dev/ttyS0");
    EXPECT_EQ(pathOf(table, 256), "/dev/ttyS255");
    EXPECT_EQ(pathOf(table, 0), "<none>");
    EXPECT_EQ(pathOf(table, 257), "<none>");

    table.set(1, "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
    table.set(3, "/dev/ttyACM0");
    table.set(3, "/dev/ttyACM1");  // replaces, does not add a second entry
    table.set(0, "/dev/ignored");
    table.set(257, "/dev/ignored");
    EXPECT_EQ(pathOf(table, 1), "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
    EXPECT_EQ(pathOf(table, 3), "/dev/ttyACM1");
    EXPECT_EQ(pathOf(table, 2), "/dev/ttyS1");
    EXPECT_EQ(pathOf(table, 0), "<none>");

    // Cut to the buffer, always terminated.
    EXPECT_EQ(pathOf(table, 3, 6), "/dev/");
    EXPECT_EQ(pathOf(table, 12, 8), "/dev/tt");
    char none[1] = {'x'};
    EXPECT_FALSE(table.pathFor(1, none, 0));
    EXPECT_EQ(none[0], 'x');

    table.clear();
    EXPECT_EQ(pathOf(table, 1), "/dev/ttyS0");
}

class PortScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vornic-ports-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directories(root_ / "dev" / "serial" / "by-id");
        fs::create_directories(root_ / "sys");
    }
    void TearDown() override { fs::remove_all(root_); }

    void node(const std::string& name) { std::ofstream(root_ / "dev" / name).put('\0'); }
    void uartType(const std::string& name, const char* type) {
        fs::create_directories(root_ / "sys" / name);
        std::ofstream(root_ / "sys" / name / "type") << type << '\n';
    }
    void byId(const std::string& name, const std::string& target) {
        fs::create_symlink("../../" + target, root_ / "dev" / "serial" / "by-id" / name);
    }
    std::string dev(const std::string& name) const { return (root_ / "dev" / name).string(); }

    fs::path root_;
};

TEST_F(PortScanTest, ByIdNamesFirstThenRealTtysInNumericOrderWithoutDuplicates) {
    for (const char* name : {"ttyUSB10", "ttyUSB3", "ttyUSB0", "ttyUSB2", "ttyACM0", "ttyS0",
                             "ttyS1", "ttyS12", "ttySAC0", "tty5", "ttyUSB", "ttyUSB1.lock"}) {
        node(name);
    }
    uartType("ttyS0", "4");  // a 16550A
    uartType("ttyS1", "0");  // a placeholder without a UART
    // ttyS12 has no attributes and is no terminal: not offered.
    byId("usb-Kestrova_KZ2-if00", "ttyUSB2");
    byId("usb-gone-if00", "ttyUSB99");  // dangling: the adapter was pulled

    const auto ports = listSerialPortsIn((root_ / "dev").string(), (root_ / "sys").string());
    std::vector<std::string> paths;
    for (const auto& port : ports) {
        paths.push_back(port.path);
    }
    const std::vector<std::string> expected = {
        dev("serial/by-id/usb-Kestrova_KZ2-if00"),
        dev("ttyUSB0"),
        dev("ttyUSB3"),
        dev("ttyUSB10"),
        dev("ttyACM0"),
        dev("ttyS0"),
    };
    EXPECT_EQ(paths, expected);
    ASSERT_FALSE(ports.empty());
    EXPECT_EQ(fs::path(ports[0].target), fs::canonical(dev("ttyUSB2")));
    EXPECT_TRUE(ports[1].target.empty());
}

TEST_F(PortScanTest, MissingFoldersGiveAnEmptyList) {
    EXPECT_TRUE(listSerialPortsIn((root_ / "nothing").string(), (root_ / "none").string()).empty());
    // On this machine: whatever is offered exists.
    for (const auto& port : listSerialPorts()) {
        EXPECT_TRUE(fs::exists(port.path)) << port.path;
    }
}

}  // namespace
}  // namespace vornic::platform
