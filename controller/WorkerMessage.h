#pragma once
// WorkerMessage: one message on the command pipe.
//
//   byte 0   header: bit 7 set; bits 6..5 kind (0 operation, 1 heartbeat, 2 serial data,
//            3 line lost);
//            bits 4..0 payload length n (0..31)
//   1..n     payload (for operations: the operation code, then its arguments, little-endian)
// A message with n = 0 is followed by one filler byte that belongs to it (the heartbeat is always
// A0 00).

#include <cstddef>
#include <cstdint>

namespace vornic {

inline constexpr uint8_t kMessageOperation = 0;
inline constexpr uint8_t kMessageHeartbeat = 1;
inline constexpr uint8_t kMessageSerialData = 2;
inline constexpr uint8_t kMessageLineLost = 3;
inline constexpr size_t kMaxMessageSize = 32;
inline constexpr size_t kMaxSerialChunk = 31;

struct WorkerMessageBuffer {
    uint8_t bytes[kMaxMessageSize] = {};
    size_t size = 0;
};

// Builders for every message, arguments cut to the width each field has on the pipe.
namespace message {
WorkerMessageBuffer heartbeat();
WorkerMessageBuffer connect(uint32_t portNumber, uint32_t baudRate);
WorkerMessageBuffer disconnect();
WorkerMessageBuffer startMove(uint32_t direction, uint32_t speedIndex);
WorkerMessageBuffer stopMove(uint32_t direction);
WorkerMessageBuffer setTracking(uint32_t on);
WorkerMessageBuffer setExp(uint32_t on);
WorkerMessageBuffer sendCode20();
WorkerMessageBuffer storeSettings();
WorkerMessageBuffer sendCode22();
WorkerMessageBuffer reloadDefaults();
WorkerMessageBuffer setGearRatios(uint32_t ra, uint32_t de);
WorkerMessageBuffer setReverseFlags(uint32_t rotation, uint32_t autoguiding,
                                    uint32_t limitSwitches);
WorkerMessageBuffer setMotorCurrent(uint32_t selector, uint32_t milliAmps);
WorkerMessageBuffer setDecay(uint32_t selector, uint32_t decay);
WorkerMessageBuffer setMaxSpeeds(uint32_t ra, uint32_t de);
WorkerMessageBuffer setAccelerations(uint32_t ra, uint32_t de);
WorkerMessageBuffer setDecelerations(uint32_t ra, uint32_t de);
WorkerMessageBuffer setOvertone(uint32_t axisMask, int32_t value);
WorkerMessageBuffer setCurrentBoost(uint32_t axisMask, uint32_t first, uint32_t second);
WorkerMessageBuffer setGuidingRates(uint32_t ra, uint32_t de);
WorkerMessageBuffer setPositionPair(uint32_t first, uint32_t second);
WorkerMessageBuffer applySiteSettings();
WorkerMessageBuffer measureVoltage();
WorkerMessageBuffer initScope(uint32_t positionCode);
WorkerMessageBuffer defineParkPosition();
// One serial-data message of 1..31 bytes (count is cut to 31).
WorkerMessageBuffer serialData(const uint8_t* bytes, size_t count);
// The serial reader's word that the line of connection number `connection` failed.
WorkerMessageBuffer lineLost(uint8_t connection);
}  // namespace message

// Cuts the pipe's byte stream back into messages, one byte at a time.
//
// Pure. Idle: bytes with bit 7 clear are dropped; a byte with bit 7 set starts a message. Then the
// payload (or the single filler byte when n = 0) is collected whatever its bit 7: there is no
// resynchronisation inside a message. The buffer is fixed (32 bytes) and cannot overflow.
class MessageReassembler {
  public:
    // Returns true when the byte completed a message; message()/messageLength() then describe it
    // (header included; for n = 0 the filler is not counted) until the next byte.
    bool feed(uint8_t byte);

    [[nodiscard]] const uint8_t* message() const { return buffer_; }
    [[nodiscard]] size_t messageLength() const { return length_; }

  private:
    int state_ = 0;  // 0 idle, 1 collecting
    int32_t position_ = 0;
    int32_t expected_ = 0;
    size_t length_ = 0;
    uint8_t buffer_[kMaxMessageSize] = {};
};

}  // namespace vornic
