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

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "controller/Contract.h"
#include "controller/TelescopeControl.h"
#include "platform/PortTable.h"
#include "platform/SerialPort.h"

namespace {
std::atomic<bool> gCounting{false};
std::atomic<uint64_t> gAllocations{0};

void* countedAllocation(std::size_t size, std::size_t alignment) {
    if (gCounting.load(std::memory_order_relaxed)) {
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    const std::size_t bytes = size == 0 ? 1 : size;
    void* p = alignment <= alignof(std::max_align_t)
                  ? std::malloc(bytes)
                  : std::aligned_alloc(alignment, (bytes + alignment - 1) / alignment * alignment);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
}  // namespace

void* operator new(std::size_t size) {
    return countedAllocation(size, 0);
}
void* operator new[](std::size_t size) {
    return countedAllocation(size, 0);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return countedAllocation(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return countedAllocation(size, static_cast<std::size_t>(alignment));
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

// A level-4 controller on the pty's master side: identity, port type, firmware and both blocks
// for the connection, the supply voltage, and a one-byte acknowledgement for everything else.
class FarEnd {
  public:
    explicit FarEnd(int fd) : fd_(fd), thread_([this] { run(); }) {}
    ~FarEnd() {
        stop_ = true;
        thread_.join();
    }

  private:
    void run() {
        uint8_t frame[16] = {};
        size_t have = 0;
        while (!stop_) {
            pollfd in{fd_, POLLIN, 0};
            if (::poll(&in, 1, 20) <= 0) {
                continue;
            }
            uint8_t byte = 0;
            while (::read(fd_, &byte, 1) == 1) {
                if (have == 0 && byte != 0xAA) {
                    continue;
                }
                frame[have++] = byte;
                if (have >= 3 && have == static_cast<size_t>(frame[1]) + 2) {
                    answer(frame[2]);
                    have = 0;
                } else if (have == sizeof frame) {
                    have = 0;
                }
            }
        }
    }

    void answer(uint8_t code) {
        uint8_t reply[2 + 58] = {0x55, 0x01, code};
        size_t payload = 1;
        switch (code) {
            case 0x01:  // hardware type 1
                payload = 5;
                reply[5] = 0x01;
                break;
            case 0x02:  // firmware 0x01000004
                payload = 5;
                reply[3] = 0x04;
                reply[6] = 0x01;
                break;
            case 0x03:
                payload = 2;
                break;
            case 0x14:
                payload = 29;
                break;
            case 0x15:
                payload = 58;
                break;
            case 0x2B:  // 12.34 V
                payload = 5;
                reply[5] = 0xD2;
                reply[6] = 0x04;
                break;
            default:
                break;
        }
        reply[1] = static_cast<uint8_t>(payload);
        [[maybe_unused]] const ssize_t n = ::write(fd_, reply, payload + 2);
    }

    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(NoAllocation, TenThousandOperationsAndTheirRepliesAllocateNothing) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
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
    {
        FarEnd farEnd(master);
        control->connect(1, 115200);
        for (int t = 0; t < 200 && !listener.waitFor(listener.settings_, 1, 10); ++t) {
            control->onHeartBeat();
        }
        ASSERT_TRUE(listener.waitFor(listener.settings_, 1)) << "no connection";

        constexpr uint64_t kRounds = 2500;  // four operations each, the last one answered
        gAllocations = 0;
        gCounting = true;
        bool answered = true;
        for (uint64_t i = 1; i <= kRounds && answered; ++i) {
            control->startMove(direction::kWest, static_cast<uint32_t>(i % 32));
            control->stopMove(direction::kBoth);
            control->setTracking(static_cast<uint32_t>(i & 1));
            if (i % 2 == 0) {
                control->measureVoltage();
                answered = listener.waitFor(listener.voltages_, i / 2);
            } else {
                control->storeSettings();
                answered = listener.waitFor(listener.stored_, (i + 1) / 2);
            }
        }
        gCounting = false;
        EXPECT_TRUE(answered) << "a reply did not come";
        EXPECT_EQ(gAllocations.load(), 0u) << "heap allocations on the command and reply path";
    }
    control.reset();
    ::close(master);
}

}  // namespace
}  // namespace vornic
