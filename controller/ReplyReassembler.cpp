#include "controller/ReplyReassembler.h"

namespace vornic {

bool ReplyReassembler::feed(uint8_t byte) {
    switch (state_) {
        case State::Hunting:
            // Anything but a start byte between frames is line noise.
            if (byte == 0x55) {
                buffer_[0] = byte;
                state_ = State::ExpectingLength;
            }
            return false;
        case State::ExpectingLength:
            // The byte after a start byte is the length, whatever its value: resynchronising here
            // would put the stream out of step with the controller.
            buffer_[1] = byte;
            expected_ = byte;
            received_ = 0;
            storePosition_ = 2;
            if (byte != 0) {
                state_ = State::Collecting;
                return false;
            }
            frameLength_ = 2;
            state_ = State::Hunting;
            return true;
        case State::Collecting:
            // Every payload byte is counted so that the frame ends where the controller meant it
            // to, but only the first 98 are kept.
            ++received_;
            if (storePosition_ < kBufferSize) {
                buffer_[storePosition_] = byte;
                ++storePosition_;
            }
            if (received_ >= expected_) {
                frameLength_ = storePosition_;
                state_ = State::Hunting;
                return true;
            }
            return false;
    }
    return false;
}

}  // namespace vornic
