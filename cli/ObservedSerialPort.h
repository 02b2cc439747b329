#pragma once
// A SerialPort decorator that watches the real port for the command line.
//
// It passes every call through unchanged, so TelescopeControl drives the platform port exactly as
// it would without it. On the side it
//  - tells the tool when the line fails (an adapter pulled out, the far end hung up): the link
//    itself reports nothing for that until a reply is overdue, and a person waiting deserves the
//    real reason at once;
//  - with tracing on, prints every request frame and every reply frame on stderr in hex with a time
//    stamp, and any bytes that arrived outside a frame as noise.
// write() runs on the worker thread, read() on the serial reader thread; each keeps its own state.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/ForwardingSerialPort.h"

namespace vornic::cli {

class LineWatcher {
  public:
    virtual void lineFailed() = 0;
    virtual ~LineWatcher() = default;
};

class ObservedSerialPort final : public platform::ForwardingSerialPort {
  public:
    ObservedSerialPort(std::unique_ptr<platform::SerialPort> inner, LineWatcher& watcher,
                       bool trace);

    [[nodiscard]] platform::OpenResult open(const char* devicePath, uint32_t baudRate) override;
    bool write(const uint8_t* bytes, size_t count, unsigned timeoutMs) override;
    [[nodiscard]] platform::ReadResult read(uint8_t* buffer, size_t max) override;
    void close() override;

    // Formats one trace line: "[   1.234] -> AA 01 01". Cut to fit `size` (at least 1).
    static void formatTraceLine(char* out, size_t size, double seconds, const char* arrow,
                                const uint8_t* bytes, size_t count);

  private:
    void traceLine(const char* arrow, const uint8_t* bytes, size_t count);
    void traceText(const char* text);
    void traceReceived(const uint8_t* bytes, size_t count);
    void flushNoise();

    LineWatcher& watcher_;
    const bool trace_;
    const std::chrono::steady_clock::time_point start_;

    // Reply frame cutter for the trace, reader thread only. Frames are at most 2 + 255 bytes.
    enum class CutState { Hunting, Length, Payload };
    CutState cutState_ = CutState::Hunting;
    uint8_t frame_[257] = {};
    size_t frameLength_ = 0;
    size_t frameExpected_ = 0;
    uint8_t noise_[32] = {};
    size_t noiseLength_ = 0;
};

}  // namespace vornic::cli
