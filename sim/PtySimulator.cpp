#include "sim/PtySimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace vornic::sim {

namespace {

uint64_t nowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

bool setFlags(int fd, int add) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | add) == 0;
}

bool makeRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        return false;
    }
    ::cfmakeraw(&t);
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

// Before the hang-up fault closes the line: the least time given to the last replies, and the
// most time waited for the host to read them.
constexpr uint64_t kHangupSettleMs = 20;
constexpr uint64_t kHangupGraceMs = 1000;

std::string errnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

PtySimulator::PtySimulator(SimSetup setup) : setup_(std::move(setup)) {
    Kz2Device device(setup_.identity, setup_.factory, setup_.stored);
    device.setSupplyVoltage(setup_.supplyVoltage);
    controller_ = std::make_unique<SimulatedController>(device, setup_.faults, setup_.seed);
    controller_->setTrace(setup_.trace);
    controller_->setStoreHandler(setup_.onStore);
}

PtySimulator::~PtySimulator() {
    stop();
}

bool PtySimulator::start(std::string& error) {
    if (thread_.joinable() || master_ >= 0) {
        error = "the simulator is already running";
        return false;
    }
    const auto fail = [&](std::string why) {
        error = std::move(why);
        closeLine();
        closeFd(stopRead_);
        closeFd(stopWrite_);
        return false;
    };

    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        return fail(errnoText("cannot open a pseudo-terminal"));
    }
    if (::fcntl(master_, F_SETFD, FD_CLOEXEC) != 0 || ::grantpt(master_) != 0 ||
        ::unlockpt(master_) != 0) {
        return fail(errnoText("cannot unlock the pseudo-terminal"));
    }
    std::array<char, 128> name{};
    if (::ptsname_r(master_, name.data(), name.size()) != 0) {
        return fail(errnoText("cannot name the pseudo-terminal"));
    }
    slavePath_ = name.data();
    // Holding the slave open keeps the master from seeing a hang-up while no host is connected.
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        return fail(errnoText("cannot open the pseudo-terminal's slave side"));
    }
    if (!makeRaw(slave_) || !makeRaw(master_) || !setFlags(master_, O_NONBLOCK)) {
        return fail(errnoText("cannot put the pseudo-terminal in raw mode"));
    }

    int pipeFds[2] = {-1, -1};
    if (::pipe(pipeFds) != 0) {
        return fail(errnoText("cannot make the stop pipe"));
    }
    stopRead_ = pipeFds[0];
    stopWrite_ = pipeFds[1];
    if (::fcntl(stopRead_, F_SETFD, FD_CLOEXEC) != 0 ||
        ::fcntl(stopWrite_, F_SETFD, FD_CLOEXEC) != 0 || !setFlags(stopWrite_, O_NONBLOCK)) {
        return fail(errnoText("cannot set up the stop pipe"));
    }

    if (!setup_.linkPath.empty()) {
        struct stat st {};
        if (::lstat(setup_.linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            return fail("will not replace " + setup_.linkPath +
                        ": it exists and is not a symbolic link");
        }
        // Made under a temporary name and renamed, so the link never points nowhere.
        const std::string temp = setup_.linkPath + ".kz2-sim-" + std::to_string(::getpid());
        ::unlink(temp.c_str());
        if (::symlink(slavePath_.c_str(), temp.c_str()) != 0) {
            return fail(errnoText(("cannot make the link " + setup_.linkPath).c_str()));
        }
        if (::rename(temp.c_str(), setup_.linkPath.c_str()) != 0) {
            const std::string why = errnoText(("cannot make the link " + setup_.linkPath).c_str());
            ::unlink(temp.c_str());
            return fail(why);
        }
        linkMade_ = true;
    }

    thread_ = std::thread([this] { run(); });
    return true;
}

void PtySimulator::stop() {
    if (thread_.joinable()) {
        const char byte = 1;
        // A full pipe already holds a wake-up; nothing more is needed.
        (void)!::write(stopWrite_, &byte, 1);
        thread_.join();
    }
    closeLine();
    closeFd(stopRead_);
    closeFd(stopWrite_);
}

void PtySimulator::run() {
    std::array<uint8_t, 256> buffer{};
    bool blocked = false;
    uint64_t hangupSince = 0;
    while (true) {
        const uint64_t now = nowMs();
        int timeout = -1;
        if (master_ >= 0) {
            controller_->advanceTo(now);
            writeDue(now, blocked);
            if (controller_->hangUpNow()) {
                // Closing the master discards what the host has not read yet, so the last
                // replies are given a moment to be collected before the line goes.
                hangupSince = hangupSince == 0 ? now : hangupSince;
                int unread = 0;
                if (::ioctl(slave_, FIONREAD, &unread) != 0) {
                    unread = 0;
                }
                if ((now - hangupSince >= kHangupSettleMs && unread == 0) ||
                    now - hangupSince >= kHangupGraceMs) {
                    hangUp();
                } else {
                    timeout = 5;
                }
            }
        }

        uint64_t dueMs = 0;
        if (master_ >= 0 && !blocked && controller_->nextDue(dueMs)) {
            timeout = dueMs <= now ? 0 : static_cast<int>(std::min<uint64_t>(dueMs - now, 1000));
        }

        pollfd fds[2] = {{stopRead_, POLLIN, 0}, {master_, 0, 0}};
        nfds_t count = 1;
        if (master_ >= 0) {
            fds[1].events = static_cast<short>(POLLIN | (blocked ? POLLOUT : 0));
            count = 2;
        }
        const int ready = ::poll(fds, count, timeout);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            return;
        }
        if (count == 2 && fds[1].revents != 0) {
            if ((fds[1].revents & POLLOUT) != 0) {
                blocked = false;
            }
            bool troubled = (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
            if ((fds[1].revents & POLLIN) != 0) {
                const ssize_t got = ::read(master_, buffer.data(), buffer.size());
                if (got > 0) {
                    controller_->receive(buffer.data(), static_cast<size_t>(got), nowMs());
                    troubled = false;
                } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
                    troubled = true;
                }
            }
            if (troubled) {
                // Nobody holds the slave open (it should not happen while we hold it): wait a
                // little instead of spinning, but keep listening for stop.
                pollfd stopOnly = {stopRead_, POLLIN, 0};
                if (::poll(&stopOnly, 1, 20) > 0) {
                    return;
                }
            }
        }
    }
}

void PtySimulator::writeDue(uint64_t now, bool& blocked) {
    while (!blocked) {
        const std::span<const uint8_t> out = controller_->due(now);
        if (out.empty()) {
            return;
        }
        const ssize_t put = ::write(master_, out.data(), out.size());
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            // The host is not reading: wait until the line takes bytes again.
            blocked = true;
            return;
        }
        controller_->consumed(static_cast<size_t>(put), now);
    }
}

void PtySimulator::hangUp() {
    // Raised first, so that whoever sees the line drop also sees the flag.
    hungUp_.store(true, std::memory_order_release);
    closeLine();
}

void PtySimulator::closeLine() {
    // The name goes first: once the host sees the line drop, the device is gone for good.
    removeLink();
    closeFd(slave_);
    closeFd(master_);
}

void PtySimulator::removeLink() {
    if (!linkMade_) {
        return;
    }
    linkMade_ = false;
    // Only our own link goes; someone may have pointed the name elsewhere meanwhile.
    std::array<char, PATH_MAX> target{};
    const ssize_t len = ::readlink(setup_.linkPath.c_str(), target.data(), target.size() - 1);
    if (len > 0 && std::string(target.data(), static_cast<size_t>(len)) == slavePath_) {
        ::unlink(setup_.linkPath.c_str());
    }
}

}  // namespace vornic::sim
