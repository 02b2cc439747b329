// The command pipe off Windows: an in-process bounded ring buffer.
//
// One mutex guards the ring; writers wait on `writable_`, the reader on `readable_`.
//
// Writers take a ticket and write strictly in ticket order. The writer whose turn it is keeps the
// turn until its whole message is in, so a message never interleaves with another even when it
// has to wait for room. A message that fits the ring goes in as one unit once there is room for all
// of it. A message larger than the ring cannot ever fit at once, so it goes in piece by piece as
// the reader drains; it still stays contiguous because the writer keeps its turn. If close() comes
// in the middle, such a message is left half written; by then its reader is going away.
//
// The ring is allocated once in the constructor; write() and read() never allocate.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/CommandPipe.h"

namespace vornic::platform {
namespace {

class RingCommandPipe final : public CommandPipe {
  public:
    explicit RingCommandPipe(size_t capacity)
        : capacity_(std::max<size_t>(capacity, 1)), ring_(new uint8_t[capacity_]) {}

    bool write(const uint8_t* bytes, size_t count) override {
        return writeUnless(bytes, count, nullptr);
    }

    bool write(const uint8_t* bytes, size_t count, const std::atomic<bool>& abandon) override {
        return writeUnless(bytes, count, &abandon);
    }

    void wakeWriters() override {
        { std::lock_guard lock(mutex_); }
        writable_.notify_all();
    }

    // `abandon` is looked at only before the first byte goes in, so an abandoned message leaves
    // nothing behind; the writer still takes and passes its turn.
    bool writeUnless(const uint8_t* bytes, size_t count, const std::atomic<bool>* abandon) {
        if (bytes == nullptr && count > 0) {
            return false;
        }
        std::unique_lock lock(mutex_);
        if (closed_) {
            return false;
        }
        const uint64_t ticket = nextTicket_++;
        writable_.wait(lock, [&] { return closed_ || serving_ == ticket; });
        if (closed_) {
            // Later tickets see closed_ too, so nobody waits for this turn.
            return false;
        }
        bool written = true;
        size_t done = 0;
        while (done < count) {
            const size_t left = count - done;
            // Fits: wait for room for all of it. Too large for the ring: take what room there is.
            const size_t need = std::min(left, capacity_);
            const auto abandoned = [&] {
                return done == 0 && abandon != nullptr && abandon->load();
            };
            writable_.wait(lock,
                           [&] { return closed_ || capacity_ - size_ >= need || abandoned(); });
            if (closed_ || capacity_ - size_ < need) {
                written = false;
                break;
            }
            const size_t chunk = std::min(left, capacity_ - size_);
            push(bytes + done, chunk);
            done += chunk;
            if (done < count) {
                // The rest waits for room that only the reader can make: wake it now.
                readable_.notify_one();
            }
        }
        ++serving_;
        lock.unlock();
        // Woken after the unlock, the reader finds the mutex free instead of blocking on it at
        // once, which would cost it a second wake-up.
        if (done > 0) {
            readable_.notify_one();
        }
        writable_.notify_all();
        return written;
    }

    size_t read(uint8_t* buffer, size_t max) override {
        if (buffer == nullptr || max == 0) {
            return 0;
        }
        std::unique_lock lock(mutex_);
        if (size_ == 0 && !stop_ && !closed_) {
            ++readersWaiting_;
            readable_.wait(lock, [&] { return size_ > 0 || stop_ || closed_; });
            --readersWaiting_;
        }
        // Queued bytes always come out before the stop is seen. A closed, empty pipe can never
        // get data again, so it ends the read like the stop does instead of blocking for good.
        if (size_ == 0) {
            return 0;
        }
        const size_t count = std::min(max, size_);
        pop(buffer, count);
        lock.unlock();
        writable_.notify_all();
        return count;
    }

    void signalStop() override {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        readable_.notify_all();
    }

    void close() override {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        writable_.notify_all();
        readable_.notify_all();
    }

    bool readerWaitingOnEmpty() override {
        std::lock_guard lock(mutex_);
        return size_ == 0 && readersWaiting_ > 0;
    }

  private:
    // Both run under mutex_; the caller has checked the room or the fill.
    void push(const uint8_t* bytes, size_t count) {
        const size_t tail = (head_ + size_) % capacity_;
        const size_t first = std::min(count, capacity_ - tail);
        std::memcpy(ring_.get() + tail, bytes, first);
        if (count > first) {
            std::memcpy(ring_.get(), bytes + first, count - first);
        }
        size_ += count;
    }

    void pop(uint8_t* out, size_t count) {
        const size_t first = std::min(count, capacity_ - head_);
        std::memcpy(out, ring_.get() + head_, first);
        if (count > first) {
            std::memcpy(out + first, ring_.get(), count - first);
        }
        head_ = (head_ + count) % capacity_;
        size_ -= count;
    }

    const size_t capacity_;
    std::unique_ptr<uint8_t[]> ring_;
    std::mutex mutex_;
    std::condition_variable writable_;
    std::condition_variable readable_;
    size_t head_ = 0;
    size_t size_ = 0;
    uint64_t nextTicket_ = 0;
    uint64_t serving_ = 0;
    unsigned readersWaiting_ = 0;
    bool stop_ = false;
    bool closed_ = false;
};

}  // namespace

std::unique_ptr<CommandPipe> makeCommandPipe(const char* /*name*/, size_t capacity) {
    return std::make_unique<RingCommandPipe>(capacity);
}

}  // namespace vornic::platform
