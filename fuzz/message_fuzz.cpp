// The command pipe's message reassembler against arbitrary byte streams, and the message builders
// against arbitrary arguments: whatever comes in, every message handed out is whole and within the
// 32-byte buffer, and every built message fits the size its header announces.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "controller/WorkerMessage.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

uint32_t takeWord(const uint8_t* data, size_t size, size_t& at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value = (value << 8) | (at < size ? data[at] : 0);
        ++at;
    }
    return value;
}

void checkBuilt(const vornic::WorkerMessageBuffer& message) {
    check(message.size >= 2 && message.size <= vornic::kMaxMessageSize);
    const uint8_t header = message.bytes[0];
    check((header & 0x80) != 0);
    const size_t n = header & 0x1F;
    // Messages with a payload are exactly header + n; the heartbeat is header + filler.
    check(n == 0 ? message.size == 2 : message.size == n + 1);
    // Fed back through the reassembler it comes out as one message.
    vornic::MessageReassembler reassembler;
    size_t completed = 0;
    for (size_t i = 0; i < message.size; ++i) {
        if (reassembler.feed(message.bytes[i])) {
            ++completed;
            check(i == message.size - 1);
            check(reassembler.messageLength() == n + 1);
            check(std::memcmp(reassembler.message(), message.bytes, n + 1) == 0);
        }
    }
    check(completed == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vornic;

    MessageReassembler reassembler;
    for (size_t i = 0; i < size; ++i) {
        if (reassembler.feed(data[i])) {
            const size_t length = reassembler.messageLength();
            const uint8_t header = reassembler.message()[0];
            check(length >= 1 && length <= kMaxMessageSize);
            check((header & 0x80) != 0);
            check(length == static_cast<size_t>(header & 0x1F) + 1);
        }
    }

    size_t at = 0;
    const uint32_t a = takeWord(data, size, at);
    const uint32_t b = takeWord(data, size, at);
    const uint32_t c = takeWord(data, size, at);
    checkBuilt(message::heartbeat());
    checkBuilt(message::connect(a, b));
    checkBuilt(message::startMove(a, b));
    checkBuilt(message::stopMove(a));
    checkBuilt(message::setGearRatios(a, b));
    checkBuilt(message::setReverseFlags(a, b, c));
    checkBuilt(message::setMotorCurrent(a, b));
    checkBuilt(message::setDecay(a, b));
    checkBuilt(message::setMaxSpeeds(a, b));
    checkBuilt(message::setOvertone(a, static_cast<int32_t>(b)));
    checkBuilt(message::setCurrentBoost(a, b, c));
    checkBuilt(message::setPositionPair(a, b));
    checkBuilt(message::initScope(c));
    if (size > 0) {
        const auto serial = message::serialData(data, size);
        const size_t n = size < kMaxSerialChunk ? size : kMaxSerialChunk;
        check(serial.size == n + 1);
        check(std::memcmp(serial.bytes + 1, data, n) == 0);
        checkBuilt(serial);
    }
    return 0;
}
