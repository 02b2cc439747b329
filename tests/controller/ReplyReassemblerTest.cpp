#include "controller/ReplyReassembler.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/LinkTestSupport.h"

namespace vornic {
namespace {

using test::Bytes;

struct Frame {
    Bytes bytes;  // frame() up to frameLength()
    size_t length = 0;
};

// Feeds chunks and collects every completed frame, copied at the moment it completed.
std::vector<Frame> feedAll(ReplyReassembler& r, const std::vector<Bytes>& chunks) {
    std::vector<Frame> frames;
    for (const Bytes& chunk : chunks) {
        for (uint8_t b : chunk) {
            if (r.feed(b)) {
                const size_t len = r.frameLength();
                EXPECT_LE(len, ReplyReassembler::kBufferSize);
                frames.push_back({Bytes(r.frame(), r.frame() + len), len});
            }
        }
    }
    return frames;
}

TEST(ReplyReassembler, FramesAreCutFromNoiseAndAcrossChunks) {
    {
        ReplyReassembler r;
        auto frames = feedAll(r, {{0x12, 0x34, 0x55, 0x03, 0x01, 0x02, 0x03}});
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].length, 5u);
        EXPECT_EQ(frames[0].bytes, (Bytes{0x55, 0x03, 0x01, 0x02, 0x03}));
    }
    {
        ReplyReassembler r;
        auto frames = feedAll(r, {{0x55}, {0x04, 0x01}, {0x02, 0x03}});
        EXPECT_TRUE(frames.empty()) << "one payload byte still missing";
        frames = feedAll(r, {{0x04}});
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].bytes, (Bytes{0x55, 0x04, 0x01, 0x02, 0x03, 0x04}));
    }
    {
        ReplyReassembler r;
        auto frames = feedAll(r, {{0x55, 0x01, 0x07, 0x55, 0x02, 0x08, 0x09}});
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_EQ(frames[0].bytes, (Bytes{0x55, 0x01, 0x07}));
        EXPECT_EQ(frames[1].bytes, (Bytes{0x55, 0x02, 0x08, 0x09}));
    }
}

TEST(ReplyReassembler, EmptyFrameCompletesAtItsLengthByte) {
    ReplyReassembler r;
    EXPECT_FALSE(r.feed(0x55));
    EXPECT_TRUE(r.feed(0x00));
    EXPECT_EQ(r.frameLength(), 2u);
    EXPECT_EQ(r.state(), ReplyReassembler::State::Hunting);
    // The next byte is hunted for again, not taken as payload.
    EXPECT_FALSE(r.feed(0x07));
    EXPECT_EQ(r.state(), ReplyReassembler::State::Hunting);
}

TEST(ReplyReassembler, NoResynchronisationInsideAFrame) {
    ReplyReassembler r;
    // 0x55 right after a start byte is a length; 0x55 and 0xAA in the payload are payload.
    auto frames = feedAll(r, {{0x55, 0x55}});
    EXPECT_TRUE(frames.empty());
    Bytes payload(0x55, 0x55);
    payload[3] = 0xAA;
    frames = feedAll(r, {payload});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].length, 0x55u + 2);
    EXPECT_EQ(frames[0].bytes[5], 0xAA);

    ReplyReassembler s;
    frames = feedAll(s, {{0x55, 0x03, 0x55, 0x01, 0x02}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, (Bytes{0x55, 0x03, 0x55, 0x01, 0x02}));
}

TEST(ReplyReassembler, OverlongFrameIsTruncatedButStaysInStep) {
    ReplyReassembler r;
    Bytes stream{0x55, 200};
    for (int i = 0; i < 200; ++i) {
        stream.push_back(static_cast<uint8_t>(i == 150 ? 0x55 : i));
    }
    const Bytes next{0x55, 0x02, 0xE1, 0xE2};
    stream.insert(stream.end(), next.begin(), next.end());
    auto frames = feedAll(r, {stream});
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].length, 100u);
    EXPECT_EQ(frames[0].bytes[1], 200);
    for (size_t k = 0; k < 98; ++k) {
        EXPECT_EQ(frames[0].bytes[k + 2], static_cast<uint8_t>(k)) << "payload byte " << k;
    }
    EXPECT_EQ(frames[1].bytes, next);

    // The largest N, 255, also ends exactly after its payload.
    ReplyReassembler s;
    Bytes big{0x55, 0xFF};
    big.resize(2 + 255, 0x55);
    big.push_back(0x55);
    big.push_back(0x00);
    frames = feedAll(s, {big});
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].length, 100u);
    EXPECT_EQ(frames[1].length, 2u);
}

TEST(ReplyReassembler, ResetForgetsAPartialFrame) {
    ReplyReassembler r;
    feedAll(r, {{0x55, 0x05, 0x01}});
    r.reset();
    auto frames = feedAll(r, {{0x02, 0x55, 0x01, 0x09}});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, (Bytes{0x55, 0x01, 0x09}));
}

}  // namespace
}  // namespace vornic
