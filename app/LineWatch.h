#pragma once
// A serial port that tells when its line is lost (an adapter pulled out, a simulator gone).
//
// The controller link treats a failed line as silence; the desktop program wants to say so at
// once. WatchedSerialPort passes everything to the real port and calls `lost` on the reader
// thread the first time a read fails after an open. The callback must not block (the front end
// posts to its UI thread).

#include <functional>
#include <memory>

#include "platform/SerialPort.h"

namespace vornic {

class WatchedSerialPort final : public platform::SerialPort {
  public:
    WatchedSerialPort(std::unique_ptr<platform::SerialPort> inner, std::function<void()> lost)
        : inner_(std::move(inner)), lost_(std::move(lost)) {}

    platform::OpenResult open(const char* path, uint32_t baud) override;
    bool isOpen() const override { return inner_->isOpen(); }
    bool write(const uint8_t* bytes, size_t count, unsigned timeoutMs) override {
        return inner_->write(bytes, count, timeoutMs);
    }
    platform::ReadResult read(uint8_t* buffer, size_t max) override;
    void waitForStop() override { inner_->waitForStop(); }
    void signalStop() override { inner_->signalStop(); }
    void resetStop() override { inner_->resetStop(); }
    void close() override { inner_->close(); }

  private:
    std::unique_ptr<platform::SerialPort> inner_;
    std::function<void()> lost_;
    bool reported_ = false;  // reader thread only, reset by open() before the reader starts
};

}  // namespace vornic
