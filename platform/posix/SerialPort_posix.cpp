// The serial port on POSIX systems: a termios device in raw mode.
//
// The device is opened non-blocking and all waiting is done in poll(), so the reader can wait for
// the line and for its stop signal at once. The stop signal is an eventfd used as a manual-reset
// event: a non-zero counter means "set" and keeps it readable until resetStop() drains it.
//
// The port is held exclusively twice over: TIOCEXCL makes the kernel refuse further opens of the
// tty by ordinary users, and an flock() on the open file also keeps out a second open by root or
// by this very process (flock is per open file, so a second open() here conflicts too).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "platform/SerialPort.h"
#include "platform/posix/BusyOwner.h"

namespace vornic::platform {
namespace {

// How long the line must be quiet after a byte before a read hands over what it has.
constexpr int kQuietGapMs = 1;
// Closing waits for pending output at most this long (a stop frame needs about 5 ms at 9600 baud).
constexpr int64_t kMaxDrainMs = 250;
constexpr int64_t kDrainSlackMs = 20;
constexpr uint32_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit

bool baudConstant(uint32_t rate, speed_t& out) {
    struct Entry {
        uint32_t rate;
        speed_t constant;
    };
    static constexpr Entry kRates[] = {
        {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
        {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
        {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const auto& entry : kRates) {
        if (entry.rate == rate) {
            out = entry.constant;
            return true;
        }
    }
    return false;
}

void setDetail(OpenResult& result, const char* format, const char* a, const char* b = "") {
    std::snprintf(result.detail, sizeof result.detail, format, a, b);
}

OpenResult failure(OpenError error, int systemError, const char* path) {
    OpenResult result;
    result.error = error;
    result.systemError = systemError;
    setDetail(result, "%s: %s", path, std::strerror(systemError));
    return result;
}

}  // namespace

namespace {

class PosixSerialPort final : public SerialPort {
  public:
    PosixSerialPort() : stopFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

    ~PosixSerialPort() override {
        close();
        if (stopFd_ >= 0) {
            ::close(stopFd_);
        }
    }

    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    OpenResult open(const char* devicePath, uint32_t baudRate) override {
        if (fd_.load() >= 0) {
            OpenResult result = failure(OpenError::Other, EBUSY, "");
            setDetail(result, "a port is already open", "");
            return result;
        }
        if (devicePath == nullptr || devicePath[0] == '\0') {
            OpenResult result = failure(OpenError::NoSuchDevice, ENOENT, "");
            setDetail(result, "no device path given", "");
            return result;
        }
        speed_t speed = B0;
        if (!baudConstant(baudRate, speed)) {
            OpenResult result = failure(OpenError::BadBaudRate, EINVAL, devicePath);
            char rate[16];
            std::snprintf(rate, sizeof rate, "%u", static_cast<unsigned>(baudRate));
            setDetail(result, "%s: %s baud is not supported", devicePath, rate);
            return result;
        }
        if (stopFd_ < 0) {
            return failure(OpenError::Other, EMFILE, devicePath);
        }

        const int fd = ::open(devicePath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            return openFailure(error, devicePath);
        }
        if (!::isatty(fd)) {
            ::close(fd);
            OpenResult result = failure(OpenError::NotATerminal, ENOTTY, devicePath);
            setDetail(result, "%s is not a serial device", devicePath);
            return result;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            return openFailure(error, devicePath);
        }
        if (::ioctl(fd, TIOCEXCL) != 0) {
            const int error = errno;
            ::close(fd);  // also drops the flock
            return openFailure(error, devicePath);
        }
        // Neither the lock nor exclusive mode keeps out a program that opened the device before
        // us without taking a lock (a terminal program, `cat`): it would take the controller's
        // replies. It is named, as a lock holder is.
        if (struct stat device{}; ::fstat(fd, &device) == 0) {
            char others[128];
            listOpeners(device.st_rdev, others, sizeof others);
            if (others[0] != '\0') {
                release(fd);
                OpenResult result = failure(OpenError::Busy, EBUSY, devicePath);
                std::snprintf(result.detail, sizeof result.detail,
                              "%s: already open in %s, which would take the controller's replies",
                              devicePath, others);
                return result;
            }
        }

        termios tio{};
        if (::tcgetattr(fd, &tio) != 0) {
            const int error = errno;
            release(fd);
            return failure(OpenError::NotATerminal, error, devicePath);
        }
        // Raw bytes both ways: no echo, no line editing, no CR/LF translation, no software or
        // hardware flow control; 0x11 and 0x13 are ordinary data on this line.
        ::cfmakeraw(&tio);
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) {
            const int error = errno;
            release(fd);
            return failure(OpenError::BadBaudRate, error, devicePath);
        }
        if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
            const int error = errno;
            release(fd);
            return failure(OpenError::Other, error, devicePath);
        }
        // What came in before belongs to an earlier session; what an earlier session wrote is
        // left to go out (a pseudo-terminal still holds it for a moment after its close).
        ::tcflush(fd, TCIFLUSH);
        baud_.store(baudRate, std::memory_order_relaxed);
        fd_.store(fd);
        return {};
    }

    bool isOpen() const override { return fd_.load() >= 0; }

    bool write(const uint8_t* bytes, size_t count, unsigned timeoutMs) override {
        const int fd = fd_.load();
        if (fd < 0 || (bytes == nullptr && count > 0)) {
            return false;
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        size_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(fd, bytes + done, count - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                return false;
            }
            // The driver's queue is full: wait for room, but never past the deadline.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd out{fd, POLLOUT, 0};
            const int ready =
                ::poll(&out, 1, static_cast<int>(std::min<int64_t>(left.count(), INT_MAX)));
            if (ready < 0 && errno != EINTR) {
                return false;
            }
            if (ready > 0 && (out.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                return false;
            }
        }
        return true;
    }

    ReadResult read(uint8_t* buffer, size_t max) override {
        const int fd = fd_.load();
        if (fd < 0 || buffer == nullptr || max == 0) {
            return {stopIsSet() ? ReadStatus::Stopped : ReadStatus::Failed, 0};
        }
        // Wait for the first byte or the stop signal, whichever comes first.
        for (;;) {
            pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd, POLLIN, 0}};
            const int ready = ::poll(fds, 2, -1);
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return {ReadStatus::Failed, 0};
            }
            if ((fds[0].revents & POLLIN) != 0) {
                return {ReadStatus::Stopped, 0};
            }
            if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                return {ReadStatus::Failed, 0};
            }
            if ((fds[1].revents & POLLIN) == 0) {
                continue;
            }
            const ssize_t n = ::read(fd, buffer, max);
            if (n > 0) {
                return gatherMore(fd, buffer, max, static_cast<size_t>(n));
            }
            if (n == 0) {
                return {ReadStatus::Failed, 0};  // end of file: the device has gone
            }
            if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
                return {ReadStatus::Failed, 0};
            }
            // A readiness report without data: poll again, which blocks.
        }
    }

    void waitForStop() override {
        if (stopFd_ < 0) {
            return;
        }
        pollfd stop{stopFd_, POLLIN, 0};
        while (::poll(&stop, 1, -1) < 0 && errno == EINTR) {
        }
    }

    void signalStop() override {
        const uint64_t one = 1;
        // Fails only when the counter is already huge, that is when the stop is already set.
        [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
    }

    void resetStop() override {
        uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = ::read(stopFd_, &value, sizeof value);
    }

    void close() override {
        const int fd = fd_.exchange(-1);
        if (fd < 0) {
            return;
        }
        // The last request is often a stop: it must leave before the port goes, or the mount keeps
        // moving. Input is stale either way. Output that a stalled line still holds after the
        // bounded wait is dropped too, since the driver's own close would otherwise wait for it
        // for up to half a minute.
        const bool drained = drainOutput(fd);
        ::tcflush(fd, drained ? TCIFLUSH : TCIOFLUSH);
        release(fd);
    }

  private:
    // Waits until the driver's output queue is empty, at most as long as its bytes need on the
    // line at the port's rate plus a little slack for USB adapters, and never beyond
    // kMaxDrainMs. Returns whether the queue emptied.
    bool drainOutput(int fd) const {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0) {
            return false;
        }
        if (queued <= 0) {
            return true;
        }
        const uint32_t baud = std::max<uint32_t>(baud_.load(std::memory_order_relaxed), 1);
        const int64_t lineMs = static_cast<int64_t>(queued) * kBitsPerByte * 1000 / baud;
        const auto budget =
            std::chrono::milliseconds(std::min<int64_t>(lineMs + kDrainSlackMs, kMaxDrainMs));
        const auto deadline = std::chrono::steady_clock::now() + budget;
        // One byte's time on the line, at least a millisecond, between looks at the queue.
        const auto step = std::chrono::microseconds(
            std::max<int64_t>(1000, int64_t{kBitsPerByte} * 1000000 / baud));
        while (queued > 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(step);
            if (::ioctl(fd, TIOCOUTQ, &queued) != 0) {
                return false;
            }
        }
        return queued <= 0;
    }

    // After the first byte: keep taking bytes until the line has been quiet for the gap or the
    // buffer is full. Bytes already taken are handed over even when the line fails now; the
    // failure shows again at the next read.
    ReadResult gatherMore(int fd, uint8_t* buffer, size_t max, size_t count) {
        while (count < max) {
            pollfd line{fd, POLLIN, 0};
            const int ready = ::poll(&line, 1, kQuietGapMs);
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0 || (line.revents & POLLIN) == 0) {
                break;
            }
            const ssize_t n = ::read(fd, buffer + count, max - count);
            if (n > 0) {
                count += static_cast<size_t>(n);
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
                break;
            }
        }
        return {ReadStatus::Data, count};
    }

    bool stopIsSet() const {
        if (stopFd_ < 0) {
            return false;
        }
        pollfd stop{stopFd_, POLLIN, 0};
        return ::poll(&stop, 1, 0) > 0 && (stop.revents & POLLIN) != 0;
    }

    OpenResult openFailure(int error, const char* path) {
        switch (error) {
            case ENOENT:
            case ENODEV:
            case ENXIO:
            case ENOTDIR:
                return failure(OpenError::NoSuchDevice, error, path);
            case EACCES:
            case EPERM:
            case EROFS: {
                OpenResult result = failure(OpenError::PermissionDenied, error, path);
                setDetail(result, "%s: %s (the user must be in the \"dialout\" group)", path,
                          std::strerror(error));
                return result;
            }
            case EBUSY:
#if EWOULDBLOCK != EBUSY
            case EWOULDBLOCK:
#endif
            {
                OpenResult result = failure(OpenError::Busy, error, path);
                char holder[128];
                findHolder(path, holder, sizeof holder);
                std::snprintf(result.detail, sizeof result.detail, "%s: %s; in use by %s", path,
                              std::strerror(error), holder[0] != '\0' ? holder : "another program");
                return result;
            }
            default:
                return failure(OpenError::Other, error, path);
        }
    }

    static void release(int fd) {
        ::ioctl(fd, TIOCNXCL);
        ::flock(fd, LOCK_UN);
        ::close(fd);
    }

    const int stopFd_;
    std::atomic<int> fd_{-1};
    std::atomic<uint32_t> baud_{9600};
};

}  // namespace

std::unique_ptr<SerialPort> makeSerialPort() {
    return std::make_unique<PosixSerialPort>();
}

}  // namespace vornic::platform
