// The Windows port names and the named command pipe's own concerns; the pipe's behaviour as a
// queue is covered by CommandPipeTest, which runs against it too.

#include <gtest/gtest.h>

#include <string>

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
