// The command line's POSIX pieces: the wake pipe, Ctrl-C, the clock, and --simulate's kz2-sim
// child process.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "cli/Backup.h"
#include "cli/Reports.h"
#include "cli/Session.h"
#include "cli/System.h"
#include "text/Quote.h"

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

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    return {argv, argv + argc};
}

bool writeText(std::FILE* stream, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

namespace {

// kz2-sim prints its device path as soon as its pseudo-terminal is open; a program that has said
// nothing by then is not going to.
constexpr int kSimulatorStartMs = 10000;
// How long kz2-sim gets to close its device after SIGTERM before it is killed outright.
constexpr int kSimulatorStopMs = 3000;
// More than any device path or start-up complaint; what goes beyond is not kept.
constexpr size_t kMaxStartText = 4096;

constexpr const char* kSimulatorName = "kz2-sim";

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The folder this program was started from: the package installs vornic-cli and kz2-sim side by
// side, and the build tree links kz2-sim beside vornic-cli, so the pair stays matched.
std::string ownFolder() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) {
        return {};
    }
    const std::string path(buffer, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string{} : path.substr(0, slash);
}

// Beside this program first, then on PATH. Empty PATH entries (the current folder) are skipped:
// whatever lies in the folder a user happens to be in is not run.
std::string findSimulator(std::string& looked) {
    const std::string own = ownFolder();
    if (!own.empty()) {
        const std::string candidate = own + "/" + kSimulatorName;
        if (isExecutableFile(candidate)) {
            return candidate;
        }
        looked = "beside vornic-cli (" + shown(own, 200) + ")";
    }
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "";
    size_t begin = 0;
    while (begin <= folders.size()) {
        size_t end = folders.find(':', begin);
        if (end == std::string::npos) {
            end = folders.size();
        }
        const std::string folder = folders.substr(begin, end - begin);
        if (!folder.empty() && folder[0] == '/') {
            const std::string candidate = folder + "/" + kSimulatorName;
            if (isExecutableFile(candidate)) {
                return candidate;
            }
        }
        begin = end + 1;
    }
    looked += looked.empty() ? "on PATH" : " or on PATH";
    return {};
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// The last line kz2-sim wrote to stderr, without its own name in front: the reason it gave up.
std::string lastComplaint(const std::string& text) {
    const size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos) {
        return {};
    }
    const size_t newline = text.rfind('\n', end);
    const size_t begin = newline == std::string::npos ? 0 : newline + 1;
    std::string line = text.substr(begin, end + 1 - begin);
    const std::string prefix = std::string(kSimulatorName) + ": ";
    if (line.compare(0, prefix.size(), prefix) == 0) {
        line.erase(0, prefix.size());
    }
    return shown(line, 200);
}

// A device path as kz2-sim prints it: absolute, printable, nothing else on the line.
bool plausibleDevicePath(const std::string& path) {
    if (path.empty() || path[0] != '/' || path.size() > 1024) {
        return false;
    }
    for (const char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

// kz2-sim as a child process. It runs in a process group of its own, so that a Ctrl-C at the
// terminal reaches only us: the simulated mount must still be there to receive the stop we send
// on the way out, and is ended by its PID after that. Should we die without a chance to end it,
// the kernel ends it for us.
class SimulatorProcess final : public BuiltInSimulator {
  public:
    SimulatorProcess() = default;
    ~SimulatorProcess() override { stop(); }
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    bool start(const std::string& program, uint32_t level, std::string& error) {
        int out[2] = {-1, -1};
        int err[2] = {-1, -1};
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            error = std::string("no pipe for kz2-sim: ") + std::strerror(errno);
            closeFd(out[0]);
            closeFd(out[1]);
            return false;
        }
        const std::string levelText = std::to_string(level);
        const char* argv[] = {kSimulatorName, "--level", levelText.c_str(), nullptr};
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Only async-signal-safe calls between fork and exec.
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) {
                ::_exit(127);
            }
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            const int in = ::open("/dev/null", O_RDONLY);
            if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(err[1], 2) < 0) {
                ::_exit(127);
            }
            ::execv(program.c_str(), const_cast<char* const*>(argv));
            static const char kExecFailed[] = "kz2-sim: the program could not be run\n";
            [[maybe_unused]] const ssize_t n = ::write(2, kExecFailed, sizeof kExecFailed - 1);
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        if (pid < 0) {
            error = std::string("cannot start kz2-sim: ") + std::strerror(errno);
            ::close(out[0]);
            ::close(err[0]);
            return false;
        }
        pid_ = pid;
        const bool ok = readDevicePath(out[0], err[0], error);
        ::close(out[0]);
        ::close(err[0]);
        if (!ok) {
            stop();
        }
        return ok;
    }

    [[nodiscard]] std::string devicePath() const override { return path_; }

    void stop() override {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int waited = 0; waited < kSimulatorStopMs; waited += 10) {
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_ || (done < 0 && errno != EINTR)) {
                pid_ = -1;
                return;
            }
            ::usleep(10 * 1000);
        }
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

  private:
    // Waits for the first line on the child's stdout, collecting its stderr for the reason should
    // it end without one. Bounded in time and in what it keeps.
    bool readDevicePath(int outFd, int errFd, std::string& error) {
        std::string out;
        std::string err;
        int fds[2] = {outFd, errFd};
        std::string* into[2] = {&out, &err};
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kSimulatorStartMs);
        while (fds[0] >= 0 || fds[1] >= 0) {
            const size_t newline = out.find('\n');
            if (newline != std::string::npos) {
                path_ = out.substr(0, newline);
                if (!plausibleDevicePath(path_)) {
                    error = "kz2-sim printed \"" + shown(path_, 60) + "\" instead of its device";
                    path_.clear();
                    return false;
                }
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                error = "kz2-sim gave no device within " +
                        std::to_string(kSimulatorStartMs / 1000) + " s";
                return false;
            }
            pollfd entries[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
            const int ready = ::poll(entries, 2, static_cast<int>(left.count()));
            if (ready < 0 && errno != EINTR) {
                error = std::string("cannot wait for kz2-sim: ") + std::strerror(errno);
                return false;
            }
            for (size_t i = 0; i < 2; ++i) {
                if (fds[i] < 0 || (entries[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                    continue;
                }
                char buffer[512];
                const ssize_t n = ::read(fds[i], buffer, sizeof buffer);
                if (n > 0) {
                    const size_t room = kMaxStartText - std::min(kMaxStartText, into[i]->size());
                    into[i]->append(buffer, std::min(room, static_cast<size_t>(n)));
                } else if (n == 0 || errno != EINTR) {
                    fds[i] = -1;  // the caller closes it
                }
            }
        }
        const std::string why = lastComplaint(err);
        error = "kz2-sim ended without giving its device" + (why.empty() ? "" : ": " + why);
        return false;
    }

    pid_t pid_ = -1;
    std::string path_;
};

}  // namespace

std::unique_ptr<BuiltInSimulator> startBuiltInSimulator(uint32_t level, std::string& error) {
    std::string looked;
    const std::string program = findSimulator(looked);
    if (program.empty()) {
        error = "cannot start the simulator: kz2-sim was not found " + looked;
        return nullptr;
    }
    auto simulator = std::make_unique<SimulatorProcess>();
    if (!simulator->start(program, level, error)) {
        error = "cannot start the simulator: " + error;
        return nullptr;
    }
    return simulator;
}

}  // namespace vornic::cli
