// The Windows port names and the named command pipe's own concerns; the pipe's behaviour as a
// queue is covered by CommandPipeTest, which runs against it too.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller/TelescopeControl.h"
#include "platform/CommandPipe.h"
#include "platform/PortTable.h"
#include "platform/Process.h"

namespace vornic::platform {
namespace {

TEST(Win32PortNames, UserNamesBecomeDevicePathsOnlyWhenTheyAreComPorts) {
    const struct {
        const char* given;
        const char* path;
    } cases[] = {
        {"COM5", "\\\\.\\COM5"},
        {"com12", "\\\\.\\COM12"},
        {"5", "\\\\.\\COM5"},
        {"256", "\\\\.\\COM256"},
        {"COM0", "COM0"},
        {"COM257", "COM257"},
        {"0", "0"},
        {"COM5x", "COM5x"},
        {"COM", "COM"},
        {"\\\\.\\COM3", "\\\\.\\COM3"},
        {"", ""},
        {"COM0012", "COM0012"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(devicePathForName(c.given), c.path) << c.given;
    }
    char path[16];
    defaultPortPath(12, path, sizeof path);
    EXPECT_STREQ(path, "\\\\.\\COM12");
    defaultPortPath(1, path, sizeof path);
    EXPECT_STREQ(path, "\\\\.\\COM1");
    defaultPortPath(256, path, 6);  // cut, never overrun
    EXPECT_STREQ(path, "\\\\.\\C");
}

// Where the device manager knows no port (Wine), the serial drivers' own list still names them:
// each once, in the order of their numbers.
TEST(Win32PortNames, PortsOnlyTheDriversListAreListedInNumberOrder) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t* const values[][2] = {{L"\\Device\\VornicTest210", L"COM210"},
                                        {L"\\Device\\VornicTest202", L"COM202"}};
    for (const auto& value : values) {
        RegSetValueExW(key, value[0], 0, REG_SZ, reinterpret_cast<const BYTE*>(value[1]),
                       static_cast<DWORD>((wcslen(value[1]) + 1) * sizeof(wchar_t)));
    }
    const std::vector<PortInfo> ports = listSerialPorts();
    for (const auto& value : values) {
        RegDeleteValueW(key, value[0]);
    }
    RegCloseKey(key);

    std::vector<std::string> ours;
    for (const PortInfo& port : ports) {
        if (port.target.rfind("\\Device\\VornicTest", 0) == 0) {
            ours.push_back(port.path);
        }
    }
    EXPECT_EQ(ours, (std::vector<std::string>{"COM202", "COM210"}));
}

TEST(Win32CommandPipe, PipesOfTheSameNameCoexistAndKeepTheirOwnBytes) {
    char name[256];
    buildPipeName(name, sizeof name, currentProcessId());
    auto first = makeCommandPipe(name);
    auto second = makeCommandPipe(name);  // the name is taken: the pipe must still work
    const uint8_t a[] = {0x81, 0x04};
    const uint8_t b[] = {0xA0, 0x00, 0x81, 0x15};
    ASSERT_TRUE(first->write(a, sizeof a));
    ASSERT_TRUE(second->write(b, sizeof b));
    uint8_t buffer[20];
    ASSERT_EQ(second->read(buffer, sizeof buffer), sizeof b);
    EXPECT_EQ(buffer[3], 0x15);
    ASSERT_EQ(first->read(buffer, sizeof buffer), sizeof a);
    EXPECT_EQ(buffer[1], 0x04);
}

}  // namespace
}  // namespace vornic::platform
