// Call -> wire latency: the time from an iTelescopeControl call on the calling thread to the
// first byte of its request frame at the far end of a pseudo-terminal, through the real command
// pipe, worker and serial port. The floor is measured in the same run, interleaved sample by
// sample: a raw write() of the same nine bytes into a second pseudo-terminal, read at its far end
// the same way. The ratio says what the program adds on top of the kernel's own path.
//
// Counters: floor_p50_us, call_p50_us, call_p99_us (microseconds) and ratio = call_p50 / floor_p50.
//
// BM_PipeMessages: three-byte operation messages from one writer thread through the command pipe
// to a reader taking 20 bytes at a time, as the worker does (items_per_second = messages/s).
//
// BM_IdleWhileConnected: a connected link with the real 250 ms heartbeat and nothing else to do,
// for five seconds, measured once the connection's last time-out has run out. Counters:
// wakeups_per_s (context switches of every thread but the bench's own, which only sleeps) and
// cpu_percent of one core.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <dirent.h>
#include <sys/syscall.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "app/HeartBeat.h"
#include "controller/Contract.h"
#include "controller/TelescopeControl.h"
#include "platform/CommandPipe.h"
#include "platform/PortTable.h"
#include "platform/SerialPort.h"

namespace vornic {
namespace {

using Clock = std::chrono::steady_clock;

class QuietListener final : public TelescopeListener {
  public:
    void onStatus(StatusCode) override {}
    void onSettings(const MountSettings&, ReportKind) override { settings.fetch_add(1); }
    void onVoltage(uint32_t) override {}
    std::atomic<int> settings{0};
};

struct Pty {
    int master = -1;
    char slave[128] = {};
    bool open() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
            ::ptsname_r(master, slave, sizeof slave) != 0) {
            return false;
        }
        termios tio{};
        ::tcgetattr(master, &tio);
        ::cfmakeraw(&tio);
        return ::tcsetattr(master, TCSANOW, &tio) == 0;
    }
    ~Pty() {
        if (master >= 0) {
            ::close(master);
        }
    }
};

// Reads exactly `count` bytes from `fd`, waiting at most `timeoutMs` for each piece.
bool readExactly(int fd, uint8_t* buffer, size_t count, int timeoutMs) {
    size_t have = 0;
    while (have < count) {
        pollfd in{fd, POLLIN, 0};
        if (::poll(&in, 1, timeoutMs) <= 0) {
            return false;
        }
        const ssize_t n = ::read(fd, buffer + have, count - have);
        if (n <= 0) {
            return false;
        }
        have += static_cast<size_t>(n);
    }
    return true;
}

// Plays a level-4 controller through the handshake on the bench thread.
bool handshake(TelescopeControl& control, QuietListener& listener, int master) {
    control.connect(1, 115200);
    for (int round = 0; round < 400 && listener.settings.load() == 0; ++round) {
        uint8_t request[3];
        pollfd in{master, POLLIN, 0};
        if (::poll(&in, 1, 5) > 0 && readExactly(master, request, 3, 100)) {
            uint8_t reply[2 + 58] = {0x55, 0x01, request[2]};
            size_t payload = 1;
            switch (request[2]) {
                case 0x01:
                    payload = 5;
                    reply[5] = 0x01;  // hardware type 1
                    break;
                case 0x02:
                    payload = 5;
                    reply[3] = 0x04;  // firmware 0x01000004: level 4
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
                default:
                    break;
            }
            reply[1] = static_cast<uint8_t>(payload);
            if (::write(master, reply, payload + 2) != static_cast<ssize_t>(payload + 2)) {
                return false;
            }
        }
        control.onHeartBeat();
    }
    return listener.settings.load() > 0;
}

double percentile(std::vector<double>& samples, double p) {
    const size_t index = std::min(samples.size() - 1, static_cast<size_t>(p * samples.size()));
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(index),
                     samples.end());
    return samples[index];
}

void BM_CallToWireLatency(benchmark::State& state) {
    Pty line;
    Pty floorLine;
    if (!line.open() || !floorLine.open()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const int floorSlave = ::open(floorLine.slave, O_RDWR | O_NOCTTY);
    termios tio{};
    ::tcgetattr(floorSlave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(floorSlave, TCSANOW, &tio);

    QuietListener listener;
    platform::PortTable ports;
    ports.set(1, line.slave);
    TelescopeControl::Options options;
    options.connectPauseMs = 0;
    TelescopeControl control(listener, platform::makeSerialPort(), ports, std::move(options));
    if (!handshake(control, listener, line.master)) {
        state.SkipWithError("handshake failed");
        ::close(floorSlave);
        return;
    }

    // startMove west at speed index 0: AA 07 23 00 80 and four speed bytes.
    const uint8_t frame[9] = {0xAA, 0x07, 0x23, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00};
    uint8_t buffer[9];
    std::vector<double> floorUs;
    std::vector<double> callUs;
    floorUs.reserve(20000);
    callUs.reserve(20000);
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (::write(floorSlave, frame, sizeof frame) != sizeof frame ||
            !readExactly(floorLine.master, buffer, sizeof buffer, 1000)) {
            state.SkipWithError("raw write lost");
            break;
        }
        auto t1 = Clock::now();
        floorUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());

        t0 = Clock::now();
        control.startMove(direction::kWest, 0);
        if (!readExactly(line.master, buffer, sizeof buffer, 1000)) {
            state.SkipWithError("request lost");
            break;
        }
        t1 = Clock::now();
        callUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    if (!callUs.empty()) {
        const double floor50 = percentile(floorUs, 0.50);
        const double call50 = percentile(callUs, 0.50);
        state.counters["floor_p50_us"] = floor50;
        state.counters["call_p50_us"] = call50;
        state.counters["call_p99_us"] = percentile(callUs, 0.99);
        state.counters["ratio"] = call50 / floor50;
    }
    control.shutdown();
    ::close(floorSlave);
}
BENCHMARK(BM_CallToWireLatency)->Iterations(10000)->Unit(benchmark::kMicrosecond);

// Context switches, voluntary and not, of every thread of this process except `skip`.
uint64_t contextSwitches(long skip) {
    uint64_t total = 0;
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) {
        return 0;
    }
    while (const dirent* entry = ::readdir(tasks)) {
        const long tid = std::strtol(entry->d_name, nullptr, 10);
        if (tid <= 0 || tid == skip) {
            continue;
        }
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/task/%ld/status", tid);
        if (FILE* f = std::fopen(path, "r")) {
            char line[128];
            unsigned long long n = 0;
            while (std::fgets(line, sizeof line, f) != nullptr) {
                if (std::sscanf(line, "voluntary_ctxt_switches: %llu", &n) == 1 ||
                    std::sscanf(line, "nonvoluntary_ctxt_switches: %llu", &n) == 1) {
                    total += n;
                }
            }
            std::fclose(f);
        }
    }
    ::closedir(tasks);
    return total;
}

double processCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void BM_IdleWhileConnected(benchmark::State& state) {
    Pty line;
    if (!line.open()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    QuietListener listener;
    platform::PortTable ports;
    ports.set(1, line.slave);
    TelescopeControl::Options options;
    options.connectPauseMs = 0;
    TelescopeControl control(listener, platform::makeSerialPort(), ports, std::move(options));
    if (!handshake(control, listener, line.master)) {
        state.SkipWithError("handshake failed");
        return;
    }
    HeartBeat heartBeat;
    heartBeat.attachListener(&control);
    heartBeat.start();
    // The last handshake request's time-out keeps counting for 8 s after the connection; only
    // then is the link truly idle.
    std::this_thread::sleep_for(std::chrono::milliseconds(8500));
    const long self = ::syscall(SYS_gettid);
    constexpr double kSeconds = 5.0;
    for (auto _ : state) {
        const uint64_t switchesBefore = contextSwitches(self);
        const double cpuBefore = processCpuSeconds();
        std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
        state.counters["wakeups_per_s"] =
            static_cast<double>(contextSwitches(self) - switchesBefore) / kSeconds;
        state.counters["cpu_percent"] = 100.0 * (processCpuSeconds() - cpuBefore) / kSeconds;
    }
    heartBeat.detachListener();
    (void)heartBeat.stop();
    control.shutdown();
}
BENCHMARK(BM_IdleWhileConnected)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PipeMessages(benchmark::State& state) {
    constexpr size_t kMessages = 1000000;
    const uint8_t message[3] = {0x82, 0x07, 0x01};  // setTracking on
    for (auto _ : state) {
        auto pipe = platform::makeCommandPipe("bench");
        std::thread writer([&] {
            for (size_t i = 0; i < kMessages; ++i) {
                if (!pipe->write(message, sizeof message)) {
                    return;
                }
            }
        });
        uint8_t buffer[20];
        size_t bytes = 0;
        while (bytes < kMessages * sizeof message) {
            bytes += pipe->read(buffer, sizeof buffer);
        }
        writer.join();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kMessages));
}
BENCHMARK(BM_PipeMessages)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vornic
