#pragma once
// Runs vornic-cli and kz2-sim as real processes for the end-to-end tests: stdout and stderr are
// collected through pipes, a test can wait for a text to appear, send a signal, and collect the
// exit status with the child's own CPU time (to prove that a waiting program does not spin).
//
// Each test starts its own simulator, so the tests may run in parallel.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace vornic::testing {

inline const char* cliBinary() {
    return VORNIC_CLI_BINARY;
}
inline const char* simBinary() {
    return KZ2_SIM_BINARY;
}

struct RunResult {
    int exitCode = -1;  // -1: killed by a signal or still running at the time limit
    std::string out;
    std::string err;
    double seconds = 0;     // wall-clock time from start to exit
    double cpuSeconds = 0;  // user + system time of the child
};

class ChildProcess {
  public:
    using Clock = std::chrono::steady_clock;

    ChildProcess(const std::string& program, const std::vector<std::string>& args) {
        int outPipe[2];
        int errPipe[2];
        if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        start_ = Clock::now();
        const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        outFd_ = outPipe[0];
        errFd_ = errPipe[0];
        if (rc != 0) {
            pid_ = -1;
            throw std::runtime_error(std::string("cannot start ") + program + ": " +
                                     std::strerror(rc));
        }
    }

    ~ChildProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        closeFd(outFd_);
        closeFd(errFd_);
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads whatever is available for up to `ms` milliseconds.
    void pump(int ms) {
        pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
        const int n = ::poll(fds, 2, ms);
        if (n <= 0) {
            return;
        }
        readInto(fds[0], outFd_, result_.out);
        readInto(fds[1], errFd_, result_.err);
    }

    // Waits until stdout holds `text`; false after `seconds` or once both streams have ended.
    bool waitForOutput(const std::string& text, double seconds) {
        const auto deadline = Clock::now() + toDuration(seconds);
        while (result_.out.find(text) == std::string::npos) {
            if (Clock::now() >= deadline || (outFd_ < 0 && errFd_ < 0)) {
                return false;
            }
            pump(50);
        }
        return true;
    }

    // The first line of stdout (e.g. the simulator's device path), waiting up to `seconds`.
    std::string firstLine(double seconds) {
        if (!waitForOutput("\n", seconds)) {
            return "";
        }
        return result_.out.substr(0, result_.out.find('\n'));
    }

    void signal(int sig) { ::kill(pid_, sig); }

    // Collects everything until the child exits, killing it after `seconds`.
    RunResult finish(double seconds = 60) {
        const auto deadline = Clock::now() + toDuration(seconds);
        while (outFd_ >= 0 || errFd_ >= 0) {
            if (Clock::now() >= deadline) {
                ::kill(pid_, SIGKILL);
                break;
            }
            pump(50);
        }
        int status = 0;
        rusage usage{};
        while (::wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        exited_ = true;
        result_.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
        result_.cpuSeconds =
            static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result_;
    }

    [[nodiscard]] const std::string& out() const { return result_.out; }

  private:
    static Clock::duration toDuration(double seconds) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }

    static void closeFd(int& fd) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }

    static void readInto(const pollfd& p, int& fd, std::string& into) {
        if (fd < 0 || (p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            return;
        }
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            closeFd(fd);
        }
    }

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    bool exited_ = false;
    Clock::time_point start_;
    RunResult result_;
};

// Runs vornic-cli to the end.
inline RunResult runCli(const std::vector<std::string>& args, double seconds = 60) {
    ChildProcess child(cliBinary(), args);
    return child.finish(seconds);
}

// A kz2-sim process serving one pseudo-terminal; stopped with SIGTERM when the test ends.
class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args = {})
        : child_(simBinary(), args), path_(child_.firstLine(20)) {
        if (path_.empty()) {
            throw std::runtime_error("kz2-sim did not print its device path");
        }
    }
    ~SimProcess() {
        child_.signal(SIGTERM);
        child_.finish(10);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    [[nodiscard]] const std::string& path() const { return path_; }

  private:
    ChildProcess child_;
    std::string path_;
};

}  // namespace vornic::testing
