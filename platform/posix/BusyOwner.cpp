// Who else has a serial device: the lock table's holder of its flock, and the processes that have
// it open. See BusyOwner.h.

#include "platform/posix/BusyOwner.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vornic::platform {
namespace {

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

// The number of the pseudo-terminal whose slave side `device` is, or -1 for another device (the
// slaves have majors 136 to 143, 256 numbers each).
long ptyIndexOf(dev_t device) {
    const unsigned deviceMajor = major(device);
    if (deviceMajor < 136 || deviceMajor > 143) {
        return -1;
    }
    return static_cast<long>((deviceMajor - 136) * 256 + minor(device));
}

// Whether descriptor `name` in the fd directory of `pid` is the master side of pseudo-terminal
// `index`: the kernel says which in the descriptor's fdinfo ("tty-index:").
bool isPtyMaster(long pid, const char* name, long index) {
    char path[320];
    const int length = std::snprintf(path, sizeof path, "/proc/%ld/fdinfo/%s", pid, name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path) {
        return false;
    }
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    char text[512];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) {
        return false;
    }
    text[n] = '\0';
    const char* field = std::strstr(text, "tty-index:");
    if (field == nullptr) {
        return false;
    }
    char* end = nullptr;
    const long value = std::strtol(field + 10, &end, 10);
    return end != field + 10 && value == index;
}

}  // namespace

void listOpeners(dev_t device, char* out, size_t size) {
    if (out == nullptr || size == 0) {
        return;
    }
    out[0] = '\0';
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return;
    }
    const long self = static_cast<long>(::getpid());
    const long ptyIndex = ptyIndexOf(device);
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
        bool farEnd = false;
        while (!farEnd && descriptorsLeft > 0) {
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
            if (::fstatat(::dirfd(fds), fd->d_name, &target, 0) != 0 || !S_ISCHR(target.st_mode)) {
                continue;
            }
            if (target.st_rdev == device) {
                found = true;
            } else if (ptyIndex >= 0 && major(target.st_rdev) == 5 && minor(target.st_rdev) == 2) {
                // The pty multiplexer (5:2): the master side of some pseudo-terminal.
                farEnd = isPtyMaster(pid, fd->d_name, ptyIndex);
            }
        }
        ::closedir(fds);
        // A process that holds the line's other end (a simulator) is the controller, not a
        // second reader of ours.
        if (found && !farEnd) {
            appendHolder(out, size, pid);
            ++listed;
        }
    }
    ::closedir(proc);
}

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

}  // namespace vornic::platform
