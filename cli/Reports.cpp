#include "cli/Reports.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace vornic::cli {

WakePipe::WakePipe() {
    if (::pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) {
        fds_[0] = fds_[1] = -1;
    }
}

WakePipe::~WakePipe() {
    for (const int fd : fds_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void WakePipe::wake() const {
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe means a wake-up is pending already; nothing is lost by dropping this one.
    [[maybe_unused]] const ssize_t n = ::write(fds_[1], &byte, 1);
    errno = savedErrno;
}

void WakePipe::drain() const {
    char buffer[256];
    while (::read(fds_[0], buffer, sizeof buffer) > 0) {
    }
}

void WakePipe::wait(int timeoutMs) const {
    pollfd entry{fds_[0], POLLIN, 0};
    const int result = ::poll(&entry, 1, timeoutMs);
    (void)result;  // EINTR and time-outs both just return to the caller's loop
}

template <typename Fill>
void ReportQueue::push(Fill&& fill) {
    {
        std::lock_guard lock(mutex_);
        if (count_ == kCapacity) {
            lost_.fetch_add(1);
            return;
        }
        fill(ring_[(head_ + count_) % kCapacity]);
        ++count_;
    }
    wake_.wake();
}

void ReportQueue::onStatus(StatusCode code) {
    push([code](Report& r) {
        r.type = Report::Type::Status;
        r.code = code;
    });
}

void ReportQueue::onSettings(const MountSettings& settings, ReportKind kind) {
    push([&settings, kind](Report& r) {
        r.type = Report::Type::Settings;
        r.kind = kind;
        r.settings = settings;
    });
}

void ReportQueue::onVoltage(uint32_t hundredthsOfVolt) {
    push([hundredthsOfVolt](Report& r) {
        r.type = Report::Type::Voltage;
        r.hundredths = hundredthsOfVolt;
    });
}

void ReportQueue::lineLost() {
    push([](Report& r) { r.type = Report::Type::LineLost; });
}

bool ReportQueue::pop(Report& out) {
    std::lock_guard lock(mutex_);
    if (count_ == 0) {
        return false;
    }
    out = ring_[head_];
    head_ = (head_ + 1) % kCapacity;
    --count_;
    return true;
}

}  // namespace vornic::cli
