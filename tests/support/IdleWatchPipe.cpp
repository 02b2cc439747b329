#include "support/IdleWatchPipe.h"

#include <chrono>

namespace vornic::test {

IdleWatchPipe::IdleWatchPipe(size_t capacity)
    : IdleWatchPipe(platform::makeCommandPipe("", capacity)) {}

IdleWatchPipe::IdleWatchPipe(std::unique_ptr<platform::CommandPipe> inner)
    : inner_(std::move(inner)) {}

template <typename Write>
bool IdleWatchPipe::counted(size_t count, Write&& write) {
    {
        std::lock_guard lock(mutex_);
        written_ += count;
    }
    if (write()) {
        return true;
    }
    {
        std::lock_guard lock(mutex_);
        written_ -= count;
    }
    idle_.notify_all();
    return false;
}

bool IdleWatchPipe::write(const uint8_t* bytes, size_t count) {
    return counted(count, [&] { return inner_->write(bytes, count); });
}

bool IdleWatchPipe::write(const uint8_t* bytes, size_t count, const std::atomic<bool>& abandon) {
    return counted(count, [&] { return inner_->write(bytes, count, abandon); });
}

size_t IdleWatchPipe::read(uint8_t* buffer, size_t max) {
    {
        std::lock_guard lock(mutex_);
        reading_ = true;
    }
    idle_.notify_all();
    const size_t got = inner_->read(buffer, max);
    std::lock_guard lock(mutex_);
    reading_ = false;
    read_ += got;
    return got;
}

bool IdleWatchPipe::waitReaderIdle(unsigned timeoutMs) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return reading_ && read_ == written_; });
}

}  // namespace vornic::test
