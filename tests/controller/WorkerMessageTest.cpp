// The command pipe's message format: argument cutting in the builders, serial-data messages, and
// the reassembler that cuts the pipe's byte stream back into messages.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "controller/WorkerMessage.h"

namespace vornic {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const WorkerMessageBuffer& message) {
    return Bytes(message.bytes, message.bytes + message.size);
}

// Feeds a stream and collects every completed message.
std::vector<Bytes> reassemble(MessageReassembler& reassembler, const Bytes& stream) {
    std::vector<Bytes> messages;
    for (uint8_t byte : stream) {
        if (reassembler.feed(byte)) {
            messages.emplace_back(reassembler.message(),
                                  reassembler.message() + reassembler.messageLength());
        }
    }
    return messages;
}

std::vector<Bytes> reassemble(const Bytes& stream) {
    MessageReassembler reassembler;
    return reassemble(reassembler, stream);
}

TEST(WorkerMessageBuilders, ArgumentsAreCutToTheirFieldWidths) {
    EXPECT_EQ(bytesOf(message::connect(5, 115200)),
              (Bytes{0x86, 0x03, 0x05, 0x00, 0xC2, 0x01, 0x00}));
    // COM256 travels as port byte 0; anything wider keeps only its low byte.
    EXPECT_EQ(bytesOf(message::connect(256, 9600)),
              (Bytes{0x86, 0x03, 0x00, 0x80, 0x25, 0x00, 0x00}));
    EXPECT_EQ(bytesOf(message::connect(0x1FF, 0x12345678)),
              (Bytes{0x86, 0x03, 0xFF, 0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(bytesOf(message::setMaxSpeeds(0x1234, 0x56)),
              (Bytes{0x85, 0x20, 0x34, 0x12, 0x56, 0x00}));
    EXPECT_EQ(bytesOf(message::setMaxSpeeds(0xABCDE, 0x10000)),
              (Bytes{0x85, 0x20, 0xDE, 0xBC, 0x00, 0x00}));
    EXPECT_EQ(bytesOf(message::setMotorCurrent(0x141, 0x12345)),
              (Bytes{0x84, 0x1B, 0x41, 0x45, 0x23}));
    // The decay is 8 bits wide inside its 16-bit field.
    EXPECT_EQ(bytesOf(message::setDecay(0x82, 0x1203)), (Bytes{0x84, 0x1C, 0x82, 0x03, 0x00}));
    EXPECT_EQ(bytesOf(message::setOvertone(0x80, -3)), (Bytes{0x83, 0x1D, 0x80, 0xFD}));
    EXPECT_EQ(bytesOf(message::setCurrentBoost(0xC0, 0x1FFFF, 0x0102)),
              (Bytes{0x86, 0x1E, 0xC0, 0xFF, 0xFF, 0x02, 0x01}));
    EXPECT_EQ(bytesOf(message::startMove(0x103, 0x21F)), (Bytes{0x83, 0x05, 0x03, 0x1F}));
    EXPECT_EQ(bytesOf(message::setPositionPair(0x80000001, 0xFFFFFFFE)),
              (Bytes{0x89, 0x24, 0x01, 0x00, 0x00, 0x80, 0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST(WorkerMessageBuilders, SerialDataCarriesOneToThirtyOneBytes) {
    const Bytes run = {0x55, 0x80, 0x00, 0xFF};
    EXPECT_EQ(bytesOf(message::serialData(run.data(), 1)), (Bytes{0xC1, 0x55}));
    EXPECT_EQ(bytesOf(message::serialData(run.data(), run.size())),
              (Bytes{0xC4, 0x55, 0x80, 0x00, 0xFF}));

    Bytes longRun(40);
    for (size_t i = 0; i < longRun.size(); ++i) {
        longRun[i] = static_cast<uint8_t>(i + 1);
    }
    const Bytes full = bytesOf(message::serialData(longRun.data(), longRun.size()));
    ASSERT_EQ(full.size(), 32u);
    EXPECT_EQ(full[0], 0xDF);
    EXPECT_EQ(Bytes(full.begin() + 1, full.end()), Bytes(longRun.begin(), longRun.begin() + 31));

    // Nothing to send: an empty message, not a header that would swallow the next byte.
    EXPECT_EQ(message::serialData(run.data(), 0).size, 0u);
    EXPECT_EQ(message::serialData(nullptr, 5).size, 0u);
}

TEST(MessageReassemblerTest, HeaderAfterHeartbeatFillerIsReadAsHeader) {
    EXPECT_EQ(reassemble({0xA0, 0x00, 0x81, 0x04}), (std::vector<Bytes>{{0xA0}, {0x81, 0x04}}));
}

TEST(MessageReassemblerTest, BytesBetweenMessagesAreDroppedUntilAHeader) {
    EXPECT_EQ(reassemble({0x05, 0x7F, 0x00, 0x81, 0x04, 0x04}), (std::vector<Bytes>{{0x81, 0x04}}));
}

TEST(MessageReassemblerTest, LengthZeroTakesExactlyOneFillerWhateverItIs) {
    // Filler 0x00: the byte after it starts the next message.
    EXPECT_EQ(reassemble({0x80, 0x00, 0x81, 0x04}), (std::vector<Bytes>{{0x80}, {0x81, 0x04}}));
    // A filler with bit 7 set is still only a filler: 0x81 is eaten, and the 0x04 after it is a
    // stray byte.
    EXPECT_EQ(reassemble({0x80, 0x81, 0x04}), (std::vector<Bytes>{{0x80}}));
}

TEST(MessageReassemblerTest, NoResynchronisationInsideAMessage) {
    EXPECT_EQ(reassemble({0x83, 0x05, 0x80, 0xFF, 0x81, 0x04}),
              (std::vector<Bytes>{{0x83, 0x05, 0x80, 0xFF}, {0x81, 0x04}}));
}

TEST(MessageReassemblerTest, CompletesOnTheLastPayloadByteOnly) {
    MessageReassembler reassembler;
    EXPECT_FALSE(reassembler.feed(0x82));
    EXPECT_FALSE(reassembler.feed(0x06));
    EXPECT_TRUE(reassembler.feed(0x04));
    EXPECT_EQ(reassembler.messageLength(), 3u);
    EXPECT_EQ(reassembler.message()[2], 0x04);
    // Back to idle: a stray byte completes nothing.
    EXPECT_FALSE(reassembler.feed(0x04));
}

TEST(MessageReassemblerTest, LongestMessageFillsTheBufferExactly) {
    Bytes stream = {0xDF};
    for (int i = 0; i < 31; ++i) {
        stream.push_back(static_cast<uint8_t>(0xE0 + (i % 32)));
    }
    stream.push_back(0xA0);
    stream.push_back(0x00);
    const auto messages = reassemble(stream);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], Bytes(stream.begin(), stream.begin() + 32));
    EXPECT_EQ(messages[1], (Bytes{0xA0}));
}

}  // namespace
}  // namespace vornic
