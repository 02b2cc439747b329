#pragma once
// IdleWatchPipe: a command pipe that can tell when its reader has caught up.
//
// It passes everything through to the pipe it wraps and counts the bytes written and read. The
// reader is idle once it is back in read() with every byte written so far taken out: the worker
// of a TelescopeControl reads only after it has handled what it read before, so at that point
// everything sent to it has been handled. Tests wait for that before they look at the wire.

#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/CommandPipe.h"

namespace vornic::test {

class IdleWatchPipe final : public platform::CommandPipe {
  public:
    explicit IdleWatchPipe(size_t capacity = kDefaultCapacity);
    explicit IdleWatchPipe(std::unique_ptr<platform::CommandPipe> inner);

    bool write(const uint8_t* bytes, size_t count) override;
    bool write(const uint8_t* bytes, size_t count, const std::atomic<bool>& abandon) override;
    void wakeWriters() override { inner_->wakeWriters(); }
    size_t read(uint8_t* buffer, size_t max) override;
    void signalStop() override { inner_->signalStop(); }
    void close() override { inner_->close(); }
    bool readerWaitingOnEmpty() override { return inner_->readerWaitingOnEmpty(); }

    // True once the reader is in read() and has taken out everything written before; waits at
    // most `timeoutMs`.
    [[nodiscard]] bool waitReaderIdle(unsigned timeoutMs);

  private:
    // Counts a write before it goes in, so that the reader never looks idle with it under way, and
    // takes it back if the write fails.
    template <typename Write>
    bool counted(size_t count, Write&& write);

    std::unique_ptr<platform::CommandPipe> inner_;
    std::mutex mutex_;
    std::condition_variable idle_;
    size_t written_ = 0;
    size_t read_ = 0;
    bool reading_ = false;
};

}  // namespace vornic::test
