// The command and protocol path allocates nothing: after connecting, 10 000 operations and their
// replies cross the real command pipe, worker, serial port and reader without one heap allocation.
//
// Every operator new of this test program is counted while counting is on; the far end of the
// pseudo-terminal is a small controller working in fixed buffers, and the listener only counts.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>

#include "controller/Contract.h"
#include "controller/TelescopeControl.h"
#include "platform/PortTable.h"
#include "platform/SerialPort.h"

namespace {
std::atomic<bool> gCounting{false};
std::atomic<uint64_t> gAllocations{0};

void* counted(std::size_t size, std::size_t alignment = alignof(std::max_align_t)) {
    if (gCounting.load(std::memory_order_relaxed)) {
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    const std::size_t bytes =
        (std::max<std::size_t>(size, 1) + alignment - 1) / alignment * alignment;
    if (void* p = std::aligned_alloc(alignment, bytes)) {
        return p;
    }
    throw std::bad_alloc();
}
}  // namespace

// Every other form of new and delete that the standard library has ends in one of these.
void* operator new(std::size_t size) {
    return counted(size);
}
void* operator new[](std::size_t size) {
    return counted(size);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return counted(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return counted(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}

namespace vornic {
namespace {

// Counts reports; waiting for one needs no allocation either.
class CountingListener final : public TelescopeListener {
  public:
    void onStatus(StatusCode code) override {
        bump(code == status::kParametersStored ? stored_ : other_);
    }
    void onSettings(const MountSettings&, ReportKind) override { bump(settings_); }
    void onVoltage(uint32_t) override { bump(voltages_); }

    bool waitFor(const uint64_t& counter, uint64_t count, int timeoutMs = 5000) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return counter >= count; });
    }
    uint64_t stored_ = 0, other_ = 0, settings_ = 0, voltages_ = 0;  // under mutex_

  private:
    void bump(uint64_t& counter) {
        {
            std::lock_guard lock(mutex_);
            ++counter;
        }
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
};

// Plays a level-4 controller on the pty's master side for every request waiting there:
// identity, port type, firmware and both blocks for the connection, the supply voltage, and a
// one-byte acknowledgement for everything else. Returns how many requests it answered.
int answerRequests(int master) {
    int answered = 0;
    uint8_t request[13];
    while (::read(master, request, 2) == 2 && request[0] == 0xAA) {
        pollfd in{master, POLLIN, 0};
        if (request[1] == 0 || request[1] > 11 || ::poll(&in, 1, 1000) != 1 ||
            ::read(master, request + 2, request[1]) != request[1]) {
            return answered;
        }
        uint8_t reply[2 + 58] = {0x55, 0x01, request[2]};
        const uint8_t payload = request[2] == 0x01   ? (reply[5] = 0x01, 5)  // hardware type 1
                                : request[2] == 0x02 ? (reply[3] = 0x04, reply[6] = 0x01, 5)
                                : request[2] == 0x03 ? 2
                                : request[2] == 0x14 ? 29
                                : request[2] == 0x15 ? 58
                                : request[2] == 0x2B ? (reply[5] = 0xD2, reply[6] = 0x04, 5)
                                                     : 1;
        reply[1] = payload;
        answered += ::write(master, reply, payload + 2u) == payload + 2 ? 1 : 0;
    }
    return answered;
}

TEST(NoAllocation, TenThousandOperationsAndTheirRepliesAllocateNothing) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);  // reads never block
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(master, &tio), 0);
    ::cfmakeraw(&tio);
    ::tcsetattr(master, TCSANOW, &tio);
    char name[128];
    ASSERT_EQ(::ptsname_r(master, name, sizeof name), 0);

    CountingListener listener;
    platform::PortTable ports;
    ports.set(1, name);
    TelescopeControl::Options options;
    options.connectPauseMs = 0;
    auto control = std::make_unique<TelescopeControl>(listener, platform::makeSerialPort(), ports,
                                                      std::move(options));
    control->connect(1, 115200);
    for (int t = 0; t < 200 && !listener.waitFor(listener.settings_, 1, 10); ++t) {
        answerRequests(master);
        control->onHeartBeat();
    }
    ASSERT_TRUE(listener.waitFor(listener.settings_, 1)) << "no connection";

    // Rounds of four operations, the last one answered; every request is answered the moment it
    // arrives, so the link never refuses one as busy.
    constexpr uint64_t kRounds = 2500;
    gAllocations = 0;
    gCounting = true;
    bool answered = true;
    for (uint64_t i = 1; i <= kRounds && answered; ++i) {
        control->startMove(direction::kWest, static_cast<uint32_t>(i % 32));
        control->stopMove(direction::kBoth);
        control->setTracking(static_cast<uint32_t>(i & 1));
        if (i % 2 == 0) {
            control->measureVoltage();
        } else {
            control->storeSettings();
        }
        for (int n = 0; n < 4 && answered; n += answerRequests(master)) {
            pollfd in{master, POLLIN, 0};
            answered = ::poll(&in, 1, 5000) == 1;
        }
        answered = answered && listener.waitFor(i % 2 == 0 ? listener.voltages_ : listener.stored_,
                                                (i + 1) / 2);
    }
    gCounting = false;
    EXPECT_TRUE(answered) << "a request or its reply did not come";
    EXPECT_EQ(gAllocations.load(), 0u) << "heap allocations on the command and reply path";
    control.reset();
    ::close(master);
}

}  // namespace
}  // namespace vornic
