#pragma once
// Cuts the byte stream from the controller into reply frames (0x55, N, N payload bytes).
//
// Pure: bytes in, whole frames out, no clock, no allocation. Guarantees:
//  - bytes outside a frame are dropped until the next 0x55;
//  - once 0x55 is seen the next byte is the length whatever its value, and the following N bytes
//    are payload (0x55 and 0xAA included): no resynchronisation inside a frame, so the stream stays
//    in step;
//  - a frame is stored in a fixed 100-byte buffer; payload beyond its first 98 bytes is counted but
//    not stored, and the frame is handed over with length 100;
//  - state survives between calls, so a frame may be split over any number of chunks.
// Nothing is ever written outside the buffer, whatever the input.

#include <cstddef>
#include <cstdint>

namespace vornic {

class ReplyReassembler {
  public:
    static constexpr size_t kBufferSize = 100;

    enum class State : uint8_t { Hunting, ExpectingLength, Collecting };

    // Feeds one byte. Returns true when it completed a frame: frame() / frameLength() then describe
    // it until the next byte is fed.
    bool feed(uint8_t byte);

    // Forget a partial frame (hunting for a start byte again).
    void reset() { state_ = State::Hunting; }

    [[nodiscard]] const uint8_t* frame() const { return buffer_; }
    [[nodiscard]] size_t frameLength() const { return frameLength_; }
    [[nodiscard]] State state() const { return state_; }

  private:
    State state_ = State::Hunting;
    uint32_t expected_ = 0;
    uint32_t received_ = 0;
    uint32_t storePosition_ = 2;
    size_t frameLength_ = 0;
    uint8_t buffer_[kBufferSize] = {};
};

}  // namespace vornic
