// The message builders and the message reassembler of the command pipe.
//
// Every builder writes a whole message into a fixed buffer on the caller's stack: a header byte
// 0x80 + n (kind 0, n = operation code plus argument bytes), the operation code, then the
// arguments least significant byte first, each cut to the width its field has on the pipe. The
// largest operation message is 10 bytes and a serial-data message at most 32, so the 32-byte
// buffer always holds what is built.

#include "controller/WorkerMessage.h"

#include <cstring>

#include "controller/Contract.h"

namespace vornic {
namespace {

constexpr uint8_t kHeaderStart = 0x80;
constexpr uint8_t kHeartbeatHeader = 0xA0;
constexpr uint8_t kSerialDataHeader = 0xC0;
constexpr uint8_t kLengthMask = 0x1F;

// Appends the fields of one operation message; the header is filled in last, from the size.
class OperationWriter {
  public:
    explicit OperationWriter(uint8_t code) {
        message_.bytes[0] = kHeaderStart;
        message_.bytes[1] = code;
        message_.size = 2;
    }

    OperationWriter& byte(uint32_t value) {
        message_.bytes[message_.size++] = static_cast<uint8_t>(value & 0xFF);
        return *this;
    }

    OperationWriter& word(uint32_t value) {
        byte(value);
        return byte(value >> 8);
    }

    OperationWriter& longWord(uint32_t value) {
        word(value);
        return word(value >> 16);
    }

    WorkerMessageBuffer done() {
        message_.bytes[0] = static_cast<uint8_t>(kHeaderStart + (message_.size - 1));
        return message_;
    }

  private:
    WorkerMessageBuffer message_;
};

WorkerMessageBuffer codeOnly(uint8_t code) {
    return OperationWriter(code).done();
}

}  // namespace

namespace message {

WorkerMessageBuffer heartbeat() {
    WorkerMessageBuffer message;
    message.bytes[0] = kHeartbeatHeader;
    message.bytes[1] = 0x00;  // the filler that completes a message without payload
    message.size = 2;
    return message;
}

// The port number travels as its low byte; port 256 therefore arrives as 0, which the worker
// reads back as 256.
WorkerMessageBuffer connect(uint32_t portNumber, uint32_t baudRate) {
    return OperationWriter(op::kConnect).byte(portNumber).longWord(baudRate).done();
}

WorkerMessageBuffer disconnect() {
    return codeOnly(op::kDisconnect);
}

WorkerMessageBuffer startMove(uint32_t direction, uint32_t speedIndex) {
    return OperationWriter(op::kStartMove).byte(direction).byte(speedIndex).done();
}

WorkerMessageBuffer stopMove(uint32_t direction) {
    return OperationWriter(op::kStopMove).byte(direction).done();
}

WorkerMessageBuffer setTracking(uint32_t on) {
    return OperationWriter(op::kSetTracking).byte(on).done();
}

WorkerMessageBuffer setExp(uint32_t on) {
    return OperationWriter(op::kSetExp).byte(on).done();
}

WorkerMessageBuffer sendCode20() {
    return codeOnly(op::kSendCode20);
}

WorkerMessageBuffer storeSettings() {
    return codeOnly(op::kStoreSettings);
}

WorkerMessageBuffer sendCode22() {
    return codeOnly(op::kSendCode22);
}

WorkerMessageBuffer reloadDefaults() {
    return codeOnly(op::kReloadDefaults);
}

WorkerMessageBuffer setGearRatios(uint32_t ra, uint32_t de) {
    return OperationWriter(op::kSetGearRatios).longWord(ra).longWord(de).done();
}

WorkerMessageBuffer setReverseFlags(uint32_t rotation, uint32_t autoguiding,
                                    uint32_t limitSwitches) {
    return OperationWriter(op::kSetReverseFlags)
        .byte(rotation)
        .byte(autoguiding)
        .byte(limitSwitches)
        .done();
}

WorkerMessageBuffer setMotorCurrent(uint32_t selector, uint32_t milliAmps) {
    return OperationWriter(op::kSetMotorCurrent).byte(selector).word(milliAmps).done();
}

// The decay is an 8-bit value carried in a 16-bit field: the high byte is always 0.
WorkerMessageBuffer setDecay(uint32_t selector, uint32_t decay) {
    return OperationWriter(op::kSetDecay).byte(selector).word(decay & 0xFF).done();
}

WorkerMessageBuffer setMaxSpeeds(uint32_t ra, uint32_t de) {
    return OperationWriter(op::kSetMaxSpeeds).word(ra).word(de).done();
}

WorkerMessageBuffer setAccelerations(uint32_t ra, uint32_t de) {
    return OperationWriter(op::kSetAccelerations).byte(ra).byte(de).done();
}

WorkerMessageBuffer setDecelerations(uint32_t ra, uint32_t de) {
    return OperationWriter(op::kSetDecelerations).byte(ra).byte(de).done();
}

WorkerMessageBuffer setOvertone(uint32_t axisMask, int32_t value) {
    return OperationWriter(op::kSetOvertone)
        .byte(axisMask)
        .byte(static_cast<uint32_t>(value))
        .done();
}

WorkerMessageBuffer setCurrentBoost(uint32_t axisMask, uint32_t first, uint32_t second) {
    return OperationWriter(op::kSetCurrentBoost).byte(axisMask).word(first).word(second).done();
}

WorkerMessageBuffer setGuidingRates(uint32_t ra, uint32_t de) {
    return OperationWriter(op::kSetGuidingRates).byte(ra).byte(de).done();
}

WorkerMessageBuffer setPositionPair(uint32_t first, uint32_t second) {
    return OperationWriter(op::kSetPositionPair).longWord(first).longWord(second).done();
}

// The site record itself does not travel on the pipe; the worker reads the pending copy.
WorkerMessageBuffer applySiteSettings() {
    return codeOnly(op::kApplySiteSettings);
}

WorkerMessageBuffer measureVoltage() {
    return codeOnly(op::kMeasureVoltage);
}

WorkerMessageBuffer initScope(uint32_t positionCode) {
    return OperationWriter(op::kInitScope).byte(positionCode).done();
}

WorkerMessageBuffer defineParkPosition() {
    return codeOnly(op::kDefineParkPosition);
}

// An empty run gives an empty message (size 0): a serial-data header with n = 0 would swallow the
// next byte in the pipe as its filler, so there is nothing sensible to send.
WorkerMessageBuffer serialData(const uint8_t* bytes, size_t count) {
    WorkerMessageBuffer message;
    if (bytes == nullptr || count == 0) {
        return message;
    }
    const size_t n = count < kMaxSerialChunk ? count : kMaxSerialChunk;
    message.bytes[0] = static_cast<uint8_t>(kSerialDataHeader + n);
    std::memcpy(message.bytes + 1, bytes, n);
    message.size = n + 1;
    return message;
}

WorkerMessageBuffer lineLost(uint8_t connection) {
    WorkerMessageBuffer message;
    message.bytes[0] = static_cast<uint8_t>(0x80u | (kMessageLineLost << 5) | 1u);
    message.bytes[1] = connection;
    message.size = 2;
    return message;
}

}  // namespace message

bool MessageReassembler::feed(uint8_t byte) {
    if (state_ == 0) {
        if ((byte & 0x80) == 0) {
            return false;  // between messages: not a header, dropped
        }
        buffer_[0] = byte;
        position_ = 1;
        expected_ = static_cast<int32_t>(byte & kLengthMask) + 1;
        state_ = 1;
        return false;
    }
    // Collecting: whatever its bit 7, the byte belongs to this message. position_ never exceeds
    // expected_ (at most 32) here, so the store stays inside the 32-byte buffer.
    if (position_ <= expected_ && position_ < static_cast<int32_t>(kMaxMessageSize)) {
        buffer_[position_] = byte;
        ++position_;
    }
    if (position_ < expected_) {
        return false;
    }
    // Complete. For n = 0 the filler byte was stored but is not part of the message proper.
    length_ = static_cast<size_t>(expected_);
    state_ = 0;
    return true;
}

}  // namespace vornic
