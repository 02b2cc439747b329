#pragma once
// A scripted serial port for tests of TelescopeControl and whatever sits on top of it.
//
// Thread-safe: the test thread scripts and inspects it while TelescopeControl's worker opens,
// writes and closes it and the serial reader thread reads it, as with a real port.
//
// Receiving: inject() queues one chunk; one read() hands out one chunk (or its first `max` bytes,
// leaving the rest for the next read), so the test decides how a reply is split. hangUp() makes
// the next read (once the queued chunks are taken) report Failed, as an adapter being pulled out
// does; later reads keep reporting Failed at once, so a reader that does not fall back to
// waitForStop() would spin, which readCalls() shows. setStreaming() makes every read return `max`
// bytes at once, a controller that never stops talking.
//
// Sending: every write() is recorded whole. A responder, if set, is called after each write on the
// writing thread (the worker) outside the port's lock, so it may inject() the controller's answer.
//
// Waiting: waitForWrites() and waitForWrite() wait for the worker's requests; waitIdle() waits
// until everything injected has been taken and the reader is blocked again (or the port is
// closed), so that a test knows the bytes are on their way through the command pipe.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/SerialPort.h"

namespace vornic::test {

class FakeSerialPort final : public platform::SerialPort {
  public:
    using Bytes = std::vector<uint8_t>;
    using Responder = std::function<void(const Bytes& written)>;

    // ---- Script ----

    // The next open() fails with `error` (once).
    void failNextOpen(platform::OpenError error, int systemError = 0);
    // One chunk of received bytes; ignored while the port is closed. An empty chunk makes one
    // read() complete with 0 bytes.
    void inject(const Bytes& chunk);
    void inject(const uint8_t* bytes, size_t count) { inject(Bytes(bytes, bytes + count)); }
    // The line fails once the queued chunks are taken.
    void hangUp();
    // While on, read() returns `max` bytes of `fill` at once (queued chunks first).
    void setStreaming(bool on, uint8_t fill = 0x00);
    void setResponder(Responder responder);

    // ---- Inspect ----

    [[nodiscard]] std::vector<Bytes> writes() const;
    [[nodiscard]] size_t writeCount() const;
    void clearWrites();
    // Waits until at least `count` writes have been recorded in all (since the last clearWrites).
    [[nodiscard]] bool waitForWrites(size_t count, unsigned timeoutMs) const;
    // Waits until a write equal to `frame` has been recorded.
    [[nodiscard]] bool waitForWrite(const Bytes& frame, unsigned timeoutMs) const;
    // Waits until no injected chunk is left and either a reader is blocked in read() or
    // waitForStop(), or the port is closed.
    [[nodiscard]] bool waitIdle(unsigned timeoutMs) const;
    // Waits until a reader is blocked in waitForStop().
    [[nodiscard]] bool waitReaderInWaitForStop(unsigned timeoutMs) const;

    [[nodiscard]] std::string lastOpenPath() const;
    [[nodiscard]] uint32_t lastBaudRate() const;
    [[nodiscard]] int openCount() const;   // successful opens
    [[nodiscard]] int closeCount() const;  // close() calls on an open port
    [[nodiscard]] size_t readCalls() const;
    // True if close() ever ran while a read() or waitForStop() was still in progress.
    [[nodiscard]] bool closedUnderReader() const;
    [[nodiscard]] std::thread::id lastCloseThread() const;
    [[nodiscard]] bool stopSignalled() const;

    // ---- platform::SerialPort ----

    [[nodiscard]] platform::OpenResult open(const char* devicePath, uint32_t baudRate) override;
    [[nodiscard]] bool isOpen() const override;
    bool write(const uint8_t* bytes, size_t count, unsigned timeoutMs) override;
    [[nodiscard]] platform::ReadResult read(uint8_t* buffer, size_t max) override;
    void waitForStop() override;
    void signalStop() override;
    void resetStop() override;
    void close() override;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;

    bool open_ = false;
    bool stop_ = false;
    bool failOpen_ = false;
    platform::OpenError openError_ = platform::OpenError::None;
    int openSystemError_ = 0;
    std::string lastPath_;
    uint32_t lastBaud_ = 0;
    int openCount_ = 0;
    int closeCount_ = 0;
    std::thread::id closeThread_;

    std::deque<Bytes> chunks_;
    bool hangUpPending_ = false;
    bool failed_ = false;
    bool streaming_ = false;
    uint8_t fill_ = 0;

    size_t readCalls_ = 0;
    int inRead_ = 0;
    int inWaitForStop_ = 0;
    bool closedUnderReader_ = false;

    std::vector<Bytes> writes_;
    Responder responder_;
};

}  // namespace vornic::test
