// The command line's POSIX pieces: the wake pipe, Ctrl-C, the clock, and the built-in simulator
// on a pseudo-terminal.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "cli/Backup.h"
#include "cli/Reports.h"
#include "cli/Session.h"
#include "cli/System.h"
#include "sim/PtySimulator.h"

namespace vornic::cli {

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

std::atomic<bool> gInterrupted{false};
std::atomic<int> gWakeFd{-1};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the interrupt handler may only touch lock-free atomics");

extern "C" void onInterruptSignal(int) {
    const int savedErrno = errno;
    gInterrupted.store(true);
    const int fd = gWakeFd.load();
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

WakePipe::WakePipe() {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        ends_[0] = fds[0];
        ends_[1] = fds[1];
    }
}

WakePipe::~WakePipe() {
    for (const intptr_t fd : ends_) {
        if (fd >= 0) {
            ::close(static_cast<int>(fd));
        }
    }
}

void WakePipe::wake() const {
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe means a wake-up is pending already; nothing is lost by dropping this one.
    [[maybe_unused]] const ssize_t n = ::write(static_cast<int>(ends_[1]), &byte, 1);
    errno = savedErrno;
}

void WakePipe::drain() const {
    char buffer[256];
    while (::read(static_cast<int>(ends_[0]), buffer, sizeof buffer) > 0) {
    }
}

void WakePipe::wait(int timeoutMs) const {
    pollfd entry{static_cast<int>(ends_[0]), POLLIN, 0};
    const int result = ::poll(&entry, 1, timeoutMs);
    (void)result;  // EINTR and time-outs both just return to the caller's loop
}

void installInterruptHandler(const WakePipe& wake) {
    gWakeFd.store(static_cast<int>(wake.writeEnd()));
    struct sigaction action {};
    action.sa_handler = onInterruptSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A closed terminal (SIGHUP) or Ctrl-\ (SIGQUIT) ends a run like Ctrl-C does: a moving mount
    // must get its stop before we go, not be left running by a default action.
    for (const int signal : kEndingSignals) {
        sigaction(signal, &action, nullptr);
    }
}

void removeInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : kEndingSignals) {
        sigaction(signal, &action, nullptr);
    }
    gWakeFd.store(-1);
}

bool interrupted() {
    return gInterrupted.load();
}

void clearInterrupted() {
    gInterrupted.store(false);
}

void prepareProcess() {
    // A reader that goes away (vornic-cli ... | head) must not kill us before the controller is
    // left in order, e.g. before a move has been stopped.
    signal(SIGPIPE, SIG_IGN);
}

namespace {

class PtyBuiltInSimulator final : public BuiltInSimulator {
  public:
    explicit PtyBuiltInSimulator(sim::SimSetup setup) : simulator_(std::move(setup)) {}
    bool start(std::string& error) { return simulator_.start(error); }
    [[nodiscard]] std::string devicePath() const override { return simulator_.slavePath(); }
    void stop() override { simulator_.stop(); }

  private:
    sim::PtySimulator simulator_;
};

}  // namespace

std::unique_ptr<BuiltInSimulator> startBuiltInSimulator(uint32_t level, std::string& error) {
    sim::SimSetup setup;
    if (!sim::identityForLevel(static_cast<int>(level), setup.identity)) {
        error = "the simulator has no feature level " + std::to_string(level);
        return nullptr;
    }
    auto simulator = std::make_unique<PtyBuiltInSimulator>(std::move(setup));
    if (!simulator->start(error)) {
        error = "cannot start the simulator: " + error;
        return nullptr;
    }
    return simulator;
}

}  // namespace vornic::cli
