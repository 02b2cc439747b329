#pragma once
// The command pipe: one ordered byte queue into the worker thread of TelescopeControl.
//
// Many writers (UI, heartbeat and serial reader threads), one reader (the worker). Writers hold
// TelescopeControl's pipe-write lock around each write, so one message stays contiguous; the pipe
// itself also writes a message atomically. The buffer is bounded: a writer blocks while it is full
// until the reader has drained enough. The reader waits for data or for the stop signal; data
// already queued is always handed out before the stop is seen.
//
// Shutdown: signalStop() ends the reader's wait once the queue is empty; close() makes every
// current and later write return false at once, so no writer can stay blocked on a pipe whose
// reader has gone.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vornic::platform {

class CommandPipe {
  public:
    static constexpr size_t kDefaultCapacity = 512;

    virtual ~CommandPipe() = default;

    // Writes all `count` bytes as one unit (count <= capacity). Blocks while there is no room.
    // Returns false when the pipe is closed (nothing written).
    [[nodiscard]] virtual bool write(const uint8_t* bytes, size_t count) = 0;

    // As write(), but gives up, writing nothing, once `abandon` is true while the call waits for
    // room. Whoever sets the flag calls wakeWriters() afterwards so that a waiting writer looks at
    // it again. Used by the serial reader, whose bytes are worthless once its port is closing.
    [[nodiscard]] virtual bool write(const uint8_t* bytes, size_t count,
                                     const std::atomic<bool>& abandon) = 0;
    virtual void wakeWriters() = 0;

    // Waits until bytes are queued or the stop signal is set. Returns the number of bytes copied
    // into `buffer` (1..max), or 0 when the queue is empty and the stop signal is set.
    [[nodiscard]] virtual size_t read(uint8_t* buffer, size_t max) = 0;

    virtual void signalStop() = 0;
    virtual void close() = 0;

    // True if, right now, the queue is empty and the reader is blocked in read() waiting for more.
    // A caller holding the lock that every writer takes knows it stays so until it writes. A pipe
    // that cannot tell answers false.
    [[nodiscard]] virtual bool readerWaitingOnEmpty() { return false; }
};

// The platform's pipe: an in-process bounded queue off Windows, a named pipe on Windows.
// `name` is the pipe's name where the platform uses one.
std::unique_ptr<CommandPipe> makeCommandPipe(const char* name,
                                             size_t capacity = CommandPipe::kDefaultCapacity);

}  // namespace vornic::platform
