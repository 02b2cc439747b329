#pragma once
// The real line, recorded: a Wire keeps both directions as the program saw them, a RecordingPort
// puts it between the program and the platform's port, and Frame builds the request frames a test
// expects to find there.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ForwardingSerialPort.h"

namespace vornic::test {

using Bytes = std::vector<uint8_t>;

// Cuts a byte stream into frames that start with `startByte` followed by a length byte and that
// many bytes. Bytes that do not form a frame are kept as one last piece, so a stray or broken
// write shows up in a comparison.
std::vector<Bytes> cutFrames(const Bytes& stream, uint8_t startByte);

// Both directions of the line, kept beyond the port's life (shutdown destroys the port).
class Wire {
  public:
    // How far both directions had got at one moment.
    struct Mark {
        size_t requests = 0;
        size_t replies = 0;
    };

    void written(const uint8_t* bytes, size_t count);
    void received(const Bytes& bytes);
    void opened();
    void closed();

    [[nodiscard]] std::vector<Bytes> requests() const;
    [[nodiscard]] size_t count() const { return requests().size(); }
    [[nodiscard]] std::vector<Bytes> requestsFrom(size_t first) const;
    [[nodiscard]] Mark mark() const;

    // Waits until at least `requests` request frames have been written and `replies` reply frames
    // have been read and handed on by the serial reader.
    bool waitFor(size_t requests, size_t replies,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

    [[nodiscard]] int opens() const;
    [[nodiscard]] int closes() const;
    [[nodiscard]] std::thread::id closedOn() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Bytes sent_;
    Bytes received_;
    int opens_ = 0;
    int closes_ = 0;
    std::thread::id closedOn_;
};

// A port that notes every open, write, read and close on the Wire.
class RecordingPort final : public platform::ForwardingSerialPort {
  public:
    RecordingPort(std::unique_ptr<platform::SerialPort> inner, std::shared_ptr<Wire> wire)
        : ForwardingSerialPort(std::move(inner)), wire_(std::move(wire)) {}

    platform::OpenResult open(const char* devicePath, uint32_t baudRate) override;
    bool write(const uint8_t* bytes, size_t count, unsigned timeoutMs) override;
    platform::ReadResult read(uint8_t* buffer, size_t max) override;
    void close() override;

  private:
    std::shared_ptr<Wire> wire_;
    Bytes lastRead_;  // reader thread only
};

// A request frame: AA, the payload length, the payload.
class Frame {
  public:
    Frame& u8(uint32_t v) {
        bytes_.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Frame& u16(uint32_t v) { return u8(v).u8(v >> 8); }
    Frame& u32(uint32_t v) { return u16(v).u16(v >> 16); }
    operator Bytes() const;

  private:
    Bytes bytes_;
};

// A request without parameters.
inline Bytes ask(uint8_t code) {
    return Frame().u8(code);
}

}  // namespace vornic::test
