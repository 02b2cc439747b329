#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "text/Quote.h"

namespace vornic::platform {

namespace {

// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxLinkHops = 40;

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string cannot(const char* what, const std::string& path, int error) {
    return std::string("cannot ") + what + " " + shown(path, 200) + ": " + std::strerror(error);
}

bool writeAll(int fd, const std::string& text) {
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

// A new, empty file next to `target`, created exclusively and never through a link, so that
// nothing planted in a shared directory can redirect the write.
int createTemporary(const std::string& target, std::string& temporary) {
    static unsigned counter = 0;
    const std::string directory = directoryOf(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = directory + "/.vornic-" + std::to_string(::getpid()) + "-" +
                    std::to_string(counter++) + ".tmp";
        const int fd =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// "a directory", "a FIFO", "a character device", ... for a file mode.
const char* fileKind(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISLNK(mode)) {
        return "a symbolic link";
    }
    return S_ISREG(mode) ? "a regular file" : "not a regular file";
}

// Where a write to `path` lands: the path itself when nothing or a regular file is there, the end
// of the chain when it is a symbolic link. False, naming what is there, for anything else.
bool resolveWriteTarget(const std::string& path, std::string& target, std::string& error) {
    if (path.empty()) {
        error = "no file name given";
        return false;
    }
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        struct stat status {};
        if (::lstat(current.c_str(), &status) != 0) {
            if (errno == ENOENT) {
                target = current;  // a new file; a missing directory shows up when writing
                return true;
            }
            error = cannot("write", path, errno);
            return false;
        }
        if (S_ISREG(status.st_mode)) {
            target = current;
            return true;
        }
        if (!S_ISLNK(status.st_mode)) {
            error = "cannot write " + shown(path, 200) + ": it is " + fileKind(status.st_mode) +
                    ", not a regular file";
            return false;
        }
        char link[4096];
        const ssize_t n = ::readlink(current.c_str(), link, sizeof link - 1);
        if (n < 0) {
            error = cannot("write", path, errno);
            return false;
        }
        const std::string next(link, static_cast<size_t>(n));
        current = next[0] == '/' ? next : directoryOf(current) + "/" + next;
    }
    error = cannot("write", path, ELOOP);
    return false;
}

// Resolves where `path` is written and creates the temporary file beside it. Returns the open
// descriptor, or -1 with `error` set.
int openTemporaryFor(const std::string& path, std::string& target, std::string& temporary,
                     std::string& error) {
    if (!resolveWriteTarget(path, target, error)) {
        return -1;
    }
    const int fd = createTemporary(target, temporary);
    if (fd < 0) {
        error = cannot("write", path, errno);
    }
    return fd;
}

}  // namespace

FileRead readRegularFile(const std::string& path, size_t maxBytes, std::string& text,
                         std::string& error) {
    if (path.empty()) {
        error = "no file name given";
        return FileRead::failed;
    }
    // Non-blocking, so that a FIFO or a device at the path cannot hang us in the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return FileRead::missing;
        }
        error = cannot("read", path, errno);
        return FileRead::failed;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        error = cannot("read", path, errno);
        ::close(fd);
        return FileRead::failed;
    }
    if (!S_ISREG(status.st_mode)) {
        error = shown(path, 200) + " is " + fileKind(status.st_mode) + ", not a regular file";
        ::close(fd);
        return FileRead::failed;
    }
    text.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = cannot("read", path, errno);
            ::close(fd);
            return FileRead::failed;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > maxBytes) {
            error = shown(path, 200) + " is too large (more than " + std::to_string(maxBytes) +
                    " bytes)";
            ::close(fd);
            return FileRead::failed;
        }
    }
    ::close(fd);
    return FileRead::ok;
}

bool checkWritable(const std::string& path, std::string& error) {
    std::string target;
    std::string temporary;
    const int fd = openTemporaryFor(path, target, temporary, error);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    ::unlink(temporary.c_str());
    return true;
}

bool replaceFile(const std::string& path, const std::string& text, std::string& error) {
    std::string target;
    std::string temporary;
    const int fd = openTemporaryFor(path, target, temporary, error);
    if (fd < 0) {
        return false;
    }
    // A file that exists keeps at most the permissions it had: a private file stays private.
    struct stat old {};
    struct stat created {};
    if (::stat(target.c_str(), &old) == 0 && ::fstat(fd, &created) == 0) {
        (void)::fchmod(fd, created.st_mode & old.st_mode & 0777);
    }
    if (!writeAll(fd, text) || ::fsync(fd) != 0) {
        error = cannot("write", path, errno);
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::close(fd) != 0) {
        error = cannot("write", path, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        error = cannot("write", path, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool listFiles(const std::string& folder, size_t maxNames, std::vector<std::string>& names,
               std::string& error) {
    names.clear();
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = cannot("open the folder", folder, errno);
        return false;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        error = cannot("read the folder", folder, errno);
        ::close(fd);
        return false;
    }
    while (names.size() < maxNames) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            break;
        }
        struct stat info {};
        // Looked at without following links: a link is not one of our files.
        if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode)) {
            names.emplace_back(entry->d_name);
        }
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        error = cannot("read the folder", folder, readError);
        return false;
    }
    return true;
}

bool makeFolders(const std::string& folder, std::string& error) {
    if (folder.empty()) {
        error = "no folder given";
        return false;
    }
    for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string part = folder.substr(0, end);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = cannot("make the folder", part, errno);
            return false;
        }
        if (end == std::string::npos) {
            break;
        }
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = "cannot use " + shown(folder, 200) + " as a folder: something else is there";
        return false;
    }
    return true;
}

bool removeFile(const std::string& path, std::string& error) {
    if (::unlink(path.c_str()) != 0) {
        error = cannot("remove", path, errno);
        return false;
    }
    return true;
}

std::string userDataFolder() {
    // Only an absolute XDG_DATA_HOME counts; a relative one would depend on where we were started.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return std::string(xdg) + "/vornic";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/share/vornic";
    }
    return {};
}

}  // namespace vornic::platform
