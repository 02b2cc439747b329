#pragma once
// A serial port that hands every call to another one. Ports that watch or record the line on the
// way through derive from it and override only the calls they look at, so that the line itself is
// driven exactly as it would be without them.

#include <memory>
#include <utility>

#include "platform/SerialPort.h"

namespace vornic::platform {

class ForwardingSerialPort : public SerialPort {
  public:
    explicit ForwardingSerialPort(std::unique_ptr<SerialPort> inner) : inner_(std::move(inner)) {}

    [[nodiscard]] OpenResult open(const char* devicePath, uint32_t baudRate) override {
        return inner_->open(devicePath, baudRate);
    }
    [[nodiscard]] bool isOpen() const override { return inner_->isOpen(); }
    bool write(const uint8_t* bytes, size_t count, unsigned timeoutMs) override {
        return inner_->write(bytes, count, timeoutMs);
    }
    [[nodiscard]] ReadResult read(uint8_t* buffer, size_t max) override {
        return inner_->read(buffer, max);
    }
    void waitForStop() override { inner_->waitForStop(); }
    void signalStop() override { inner_->signalStop(); }
    void resetStop() override { inner_->resetStop(); }
    void close() override { inner_->close(); }

  private:
    std::unique_ptr<SerialPort> inner_;
};

}  // namespace vornic::platform
