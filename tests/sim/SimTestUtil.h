// Helpers shared by the simulator tests: a recording device sink, little-endian field access
// written out by hand, and blocking reads with a deadline on file descriptors.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/Kz2Device.h"

namespace vornic::sim::test {

using Bytes = std::vector<uint8_t>;

class Recorder : public DeviceSink {
  public:
    void onRequest(const uint8_t* frame, size_t size) override {
        requests.emplace_back(frame, frame + size);
    }
    void onReply(uint8_t code, const uint8_t* frame, size_t size) override {
        replyCodes.push_back(code);
        replies.emplace_back(frame, frame + size);
    }
    bool onStore(const ConfigImage& image) override {
        stores.push_back(image);
        return true;
    }
    void onIgnored(uint8_t code) override { ignored.push_back(code); }

    std::vector<Bytes> requests;
    std::vector<Bytes> replies;
    std::vector<uint8_t> replyCodes;
    std::vector<ConfigImage> stores;
    std::vector<uint8_t> ignored;
};

// Sends one request and returns every reply byte it caused (empty: no reply).
inline Bytes ask(Kz2Device& device, const Bytes& request) {
    Recorder r;
    device.feed(request.data(), request.size(), r);
    Bytes out;
    for (const Bytes& reply : r.replies) {
        out.insert(out.end(), reply.begin(), reply.end());
    }
    return out;
}

// Payload byte k of a reply frame is frame byte k + 2.
inline uint32_t payload32(const Bytes& frame, size_t at) {
    return static_cast<uint32_t>(frame.at(at + 2)) | static_cast<uint32_t>(frame.at(at + 3)) << 8 |
           static_cast<uint32_t>(frame.at(at + 4)) << 16 |
           static_cast<uint32_t>(frame.at(at + 5)) << 24;
}
inline uint16_t payload16(const Bytes& frame, size_t at) {
    return static_cast<uint16_t>(frame.at(at + 2) | frame.at(at + 3) << 8);
}
inline uint8_t payload8(const Bytes& frame, size_t at) {
    return frame.at(at + 2);
}

// Appends little-endian fields to a request under construction.
inline void add16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void add32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
}

inline Kz2Device deviceAtLevel(int level) {
    DeviceIdentity id;
    (void)identityForLevel(level, id);
    return Kz2Device(id, factoryImage(), factoryImage());
}

inline int64_t millisSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// Opens a terminal device the way a serial program does: raw, no controlling terminal.
inline int openRaw(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

inline bool writeAll(int fd, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Reads until `count` bytes have come or `timeoutMs` has passed; `reads` counts the read calls
// that returned data, `hungUp` tells whether the line reported a hang-up.
struct ReadResult {
    Bytes bytes;
    int reads = 0;
    bool hungUp = false;
    std::vector<int64_t> arrivalMs;  // per read, since the call started
};

inline ReadResult readFor(int fd, size_t count, int timeoutMs) {
    ReadResult r;
    const auto start = std::chrono::steady_clock::now();
    while (r.bytes.size() < count) {
        const int64_t left = timeoutMs - millisSince(start);
        if (left <= 0) {
            break;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        if ((p.revents & POLLIN) != 0) {
            uint8_t buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                r.bytes.insert(r.bytes.end(), buf, buf + n);
                ++r.reads;
                r.arrivalMs.push_back(millisSince(start));
                continue;
            }
        }
        if ((p.revents & (POLLHUP | POLLERR)) != 0 || (p.revents & POLLIN) != 0) {
            r.hungUp = true;
            break;
        }
    }
    return r;
}

}  // namespace vornic::sim::test
