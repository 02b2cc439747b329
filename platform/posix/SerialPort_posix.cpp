// The serial port on POSIX systems: a termios device in raw mode.
//
// The device is opened non-blocking and all waiting is done in poll(), so the reader can wait for
// the line and for its stop signal at once. The stop signal is an eventfd used as a manual-reset
// event: a non-zero counter means "set" and keeps it readable until resetStop() drains it.
//
// The port is held exclusively twice over: TIOCEXCL makes the kernel refuse further opens of the
// tty by ordinary users, and an flock() on the open file also keeps out a second open by root or
// by this very process (flock is per open file, so a second open() here conflicts too).

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// Bounds on the busy-owner look-up, so that a machine with a huge lock table or thousands of
// processes cannot make a failed open slow.
constexpr size_t kMaxLockTableBytes = size_t{4} << 20;
constexpr size_t kMaxLockLine = 160;  // the kernel's lines are about 60 characters
constexpr int kMaxProcessesScanned = 16384;
constexpr int kMaxDescriptorsScanned = 1 << 17;  // over the whole scan, not per process
constexpr int kMaxHoldersListed = 3;

// A decimal or hexadecimal number filling [begin, end) exactly, at most `max`.
bool parseNumber(const char* begin, const char* end, unsigned base, unsigned long long max,
                 unsigned long long& out) {
    if (begin == end) {
        return false;
    }
    unsigned long long value = 0;
    for (const char* p = begin; p != end; ++p) {
        unsigned digit = 0;
        if (*p >= '0' && *p <= '9') {
            digit = static_cast<unsigned>(*p - '0');
        } else if (base == 16 && *p >= 'a' && *p <= 'f') {
            digit = static_cast<unsigned>(*p - 'a') + 10;
        } else if (base == 16 && *p >= 'A' && *p <= 'F') {
            digit = static_cast<unsigned>(*p - 'A') + 10;
        } else {
            return false;
        }
        if (value > (max - digit) / base) {
            return false;
        }
        value = value * base + digit;
    }
    out = value;
    return true;
}

struct Token {
    const char* begin = nullptr;
    const char* end = nullptr;
    [[nodiscard]] bool is(const char* word) const {
        const size_t length = std::strlen(word);
        return static_cast<size_t>(end - begin) == length && std::memcmp(begin, word, length) == 0;
    }
};

// One line of the lock table, "3: FLOCK  ADVISORY  WRITE 1234 00:1a:3 0 EOF": the holder's pid
// when it is an exclusive flock on the given inode, else 0. The device numbers are in hex, the
// inode in decimal. A blocked waiter reads "3: -> FLOCK ..." and holds nothing.
long holderOnLine(const char* line, size_t length, unsigned devMajor, unsigned devMinor,
                  unsigned long long inode) {
    Token tokens[6];
    size_t count = 0;
    size_t i = 0;
    while (count < 6) {
        while (i < length && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        if (i == length) {
            break;
        }
        const size_t start = i;
        while (i < length && line[i] != ' ' && line[i] != '\t') {
            ++i;
        }
        tokens[count++] = {line + start, line + i};
    }
    if (count < 6 || !tokens[1].is("FLOCK") || !tokens[2].is("ADVISORY") ||
        !tokens[3].is("WRITE")) {
        return 0;
    }
    unsigned long long number = 0;
    if (tokens[0].end - tokens[0].begin < 2 || tokens[0].end[-1] != ':' ||
        !parseNumber(tokens[0].begin, tokens[0].end - 1, 10, ULLONG_MAX, number)) {
        return 0;
    }
    unsigned long long pid = 0;
    if (!parseNumber(tokens[4].begin, tokens[4].end, 10, INT_MAX, pid) || pid == 0) {
        return 0;
    }
    const char* firstColon = std::find(tokens[5].begin, tokens[5].end, ':');
    const char* secondColon =
        firstColon == tokens[5].end ? tokens[5].end : std::find(firstColon + 1, tokens[5].end, ':');
    if (secondColon == tokens[5].end) {
        return 0;
    }
    unsigned long long major = 0;
    unsigned long long minor = 0;
    unsigned long long node = 0;
    if (!parseNumber(tokens[5].begin, firstColon, 16, UINT_MAX, major) ||
        !parseNumber(firstColon + 1, secondColon, 16, UINT_MAX, minor) ||
        !parseNumber(secondColon + 1, tokens[5].end, 10, ULLONG_MAX, node)) {
        return 0;
    }
    if (major != devMajor || minor != devMinor || node != inode) {
        return 0;
    }
    return static_cast<long>(pid);
}

bool processExists(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// The program's name as the kernel keeps it (at most 15 characters, chosen by the program
// itself, so anything unprintable is masked). False when it cannot be read.
bool readProcessName(long pid, char* name, size_t size) {
    char commPath[64];
    std::snprintf(commPath, sizeof commPath, "/proc/%ld/comm", pid);
    const int fd = ::open(commPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ssize_t n = -1;
    do {
        n = ::read(fd, name, size - 1);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n <= 0) {
        return false;
    }
    size_t length = static_cast<size_t>(n);
    while (length > 0 && name[length - 1] == '\n') {
        --length;
    }
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c >= 0x7F) {
            name[i] = '?';
        }
    }
    name[length] = '\0';
    return length > 0;
}

// Appends "name (pid N)" after what `out` holds, separated by a comma from an earlier entry.
// Another port of this very program may be the holder, so that case says so.
void appendHolder(char* out, size_t size, long pid) {
    const size_t used = std::strlen(out);
    if (used + 1 >= size) {
        return;
    }
    const char* separator = used > 0 ? ", " : "";
    char name[32];
    if (pid == static_cast<long>(::getpid())) {
        std::snprintf(out + used, size - used, "%sthis program (pid %ld)", separator, pid);
    } else if (readProcessName(pid, name, sizeof name)) {
        std::snprintf(out + used, size - used, "%s%s (pid %ld)", separator, name, pid);
    } else {
        std::snprintf(out + used, size - used, "%spid %ld", separator, pid);
    }
}

// When nobody holds the lock (the other program only made the tty exclusive), every other
// process with the device open is a candidate; a few of them are named. Only links into /dev are
// looked at further, so sockets and files on slow file systems cost nothing.
void listOpeners(dev_t device, char* out, size_t size) {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return;
    }
    const long self = static_cast<long>(::getpid());
    int processesLeft = kMaxProcessesScanned;
    int descriptorsLeft = kMaxDescriptorsScanned;
    int listed = 0;
    while (listed < kMaxHoldersListed && processesLeft > 0 && descriptorsLeft > 0) {
        const dirent* process = ::readdir(proc);
        if (process == nullptr) {
            break;
        }
        char* end = nullptr;
        const long pid = std::strtol(process->d_name, &end, 10);
        if (pid <= 0 || end == process->d_name || *end != '\0' || pid == self) {
            continue;
        }
        --processesLeft;
        char fdDirPath[64];
        std::snprintf(fdDirPath, sizeof fdDirPath, "/proc/%ld/fd", pid);
        DIR* fds = ::opendir(fdDirPath);
        if (fds == nullptr) {
            continue;  // gone, or someone else's process we may not look into
        }
        bool found = false;
        while (!found && descriptorsLeft > 0) {
            const dirent* fd = ::readdir(fds);
            if (fd == nullptr) {
                break;
            }
            if (fd->d_name[0] == '.') {
                continue;
            }
            --descriptorsLeft;
            char link[16];
            const ssize_t n = ::readlinkat(::dirfd(fds), fd->d_name, link, sizeof link);
            if (n < 5 || std::memcmp(link, "/dev/", 5) != 0) {
                continue;
            }
            struct stat target {};
            found = ::fstatat(::dirfd(fds), fd->d_name, &target, 0) == 0 &&
                    S_ISCHR(target.st_mode) && target.st_rdev == device;
        }
        ::closedir(fds);
        if (found) {
            appendHolder(out, size, pid);
            ++listed;
        }
    }
    ::closedir(proc);
}

// Best effort: the program holding the device, or failing that those having it open. Writes
// nothing when none can be found; never fails in any other way.
void findHolder(const char* path, char* out, size_t size) {
    out[0] = '\0';
    struct stat device {};
    if (::stat(path, &device) != 0 || !S_ISCHR(device.st_mode)) {
        return;
    }
    // The lock is on the node's own inode, so the table lists the node's file system device and
    // inode number, not the serial device number the node stands for.
    const long locker = flockHolderIn("/proc/locks", major(device.st_dev), minor(device.st_dev),
                                      static_cast<unsigned long long>(device.st_ino));
    // flock remembers the process that took the lock; if that one has gone (the descriptor lives
    // on in a child) the table's pid names nobody, and the openers are the better answer.
    if (locker > 0 && processExists(locker)) {
        appendHolder(out, size, locker);
        return;
    }
    listOpeners(device.st_rdev, out, size);
}

}  // namespace

long flockHolderIn(const char* locksPath, unsigned devMajor, unsigned devMinor,
                   unsigned long long inode) {
    const int fd = ::open(locksPath, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return 0;
    }
    char chunk[4096];
    char line[kMaxLockLine];
    size_t length = 0;
    bool tooLong = false;  // an overlong line is skipped whole, not read as several
    size_t total = 0;
    long holder = 0;
    bool atEnd = false;
    while (holder == 0 && total < kMaxLockTableBytes) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            atEnd = n == 0;
            break;
        }
        total += static_cast<size_t>(n);
        for (ssize_t i = 0; i < n && holder == 0; ++i) {
            if (chunk[i] == '\n') {
                if (!tooLong) {
                    holder = holderOnLine(line, length, devMajor, devMinor, inode);
                }
                length = 0;
                tooLong = false;
            } else if (length < sizeof line) {
                line[length++] = chunk[i];
            } else {
                tooLong = true;
            }
        }
    }
    ::close(fd);
    // A last line without its newline counts only when the table really ended there; a line cut
    // by the size bound could name a shorter inode than it does.
    if (holder == 0 && atEnd && !tooLong && length > 0) {
        holder = holderOnLine(line, length, devMajor, devMinor, inode);
    }
    return holder;
}

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
        // Whatever was waiting in the driver belongs to an earlier session.
        ::tcflush(fd, TCIOFLUSH);
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
