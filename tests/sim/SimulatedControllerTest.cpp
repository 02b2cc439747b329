// Fault descriptions and what each fault does to the bytes on the line and their timing. Time is
// handed in, so nothing here waits.
#include <gtest/gtest.h>

#include <cstdio>

#include "SimTestUtil.h"
#include "sim/Faults.h"
#include "sim/SimulatedController.h"

namespace vornic::sim {
namespace {

using test::Bytes;
using test::deviceAtLevel;

const Bytes kIdentity = {0xAA, 0x01, 0x01};
const Bytes kIdentityReply = {0x55, 0x05, 0x01, 0x01, 0x00, 0x01, 0x00};
const Bytes kAxisBlock = {0xAA, 0x01, 0x14};
const Bytes kSettings = {0xAA, 0x01, 0x15};

FaultPlan plan(std::initializer_list<const char*> faults) {
    FaultPlan p;
    for (const char* f : faults) {
        std::string error;
        EXPECT_TRUE(addFault(f, p, error)) << f << ": " << error;
    }
    return p;
}

// Takes everything due at `now`, one write per `due()` span.
Bytes drain(SimulatedController& c, uint64_t now, std::vector<size_t>* writes = nullptr) {
    Bytes out;
    for (auto span = c.due(now); !span.empty(); span = c.due(now)) {
        out.insert(out.end(), span.begin(), span.end());
        if (writes != nullptr) {
            writes->push_back(span.size());
        }
        c.consumed(span.size(), now);
    }
    return out;
}

Bytes exchange(SimulatedController& c, const Bytes& request, uint64_t now) {
    c.receive(request.data(), request.size(), now);
    return drain(c, now);
}

Bytes cleanReply(const Bytes& request) {
    SimulatedController c(deviceAtLevel(6), FaultPlan{}, 1);
    return exchange(c, request, 0);
}

TEST(SimFaultParsing, AcceptsEachFaultAndRefusesNonsense) {
    FaultPlan p;
    std::string error;
    EXPECT_TRUE(addFault("silent", p, error));
    EXPECT_TRUE(addFault("garbage", p, error));
    EXPECT_TRUE(addFault("split", p, error));
    EXPECT_TRUE(addFault("no-reply=0x15", p, error));
    EXPECT_TRUE(addFault("no-reply=43", p, error));
    EXPECT_TRUE(addFault("truncate=0X3d", p, error));
    EXPECT_TRUE(addFault("hangup-after=3", p, error));
    EXPECT_TRUE(addFault("delay=250", p, error));
    EXPECT_TRUE(p.silent && p.garbage && p.split);
    EXPECT_TRUE(p.noReply[0x15] && p.noReply[0x2B] && !p.noReply[0x14]);
    EXPECT_TRUE(p.truncate[0x3D]);
    EXPECT_EQ(p.hangupAfter, 3);
    EXPECT_EQ(p.delayMs, 250u);

    const FaultPlan before = p;
    for (const char* bad : {"", "loud", "silent=1", "no-reply", "no-reply=", "no-reply=256",
                            "no-reply=0x100", "truncate=x", "delay=60001", "delay=-1",
                            "hangup-after=99999999999", "no-reply=0x", "delay=1e3"}) {
        error.clear();
        EXPECT_FALSE(addFault(bad, p, error)) << bad;
        EXPECT_NE(error.find("bad fault"), std::string::npos) << bad;
    }
    EXPECT_EQ(p.noReply, before.noReply);
    EXPECT_EQ(p.delayMs, before.delayMs);
}

TEST(SimFaults, SilentAnswersNothingButStillObeys) {
    SimulatedController c(deviceAtLevel(6), plan({"silent"}), 1);
    EXPECT_TRUE(exchange(c, kIdentity, 0).empty());
    EXPECT_TRUE(exchange(c, {0xAA, 0x03, 0x24, 0x00, 0x01}, 5).empty());
    uint64_t due = 0;
    EXPECT_FALSE(c.nextDue(due));
    EXPECT_TRUE(c.device().tracking());
    EXPECT_EQ(c.requestsSeen(), 2u);
}

TEST(SimFaults, NoReplyWithholdsOnlyThatCode) {
    SimulatedController c(deviceAtLevel(6), plan({"no-reply=0x15"}), 1);
    EXPECT_TRUE(exchange(c, kSettings, 0).empty());
    EXPECT_EQ(exchange(c, kIdentity, 1), kIdentityReply);
}

TEST(SimFaults, GarbageBeforeEachReplyNeverHoldsAStartByte) {
    SimulatedController c(deviceAtLevel(6), plan({"garbage"}), 12345);
    const Bytes clean = cleanReply(kAxisBlock);
    size_t shortest = kMaxGarbage;
    size_t longest = 0;
    for (int i = 0; i < 300; ++i) {
        const Bytes out = exchange(c, kAxisBlock, static_cast<uint64_t>(i));
        ASSERT_GT(out.size(), clean.size());
        const size_t noise = out.size() - clean.size();
        ASSERT_LE(noise, kMaxGarbage);
        shortest = std::min(shortest, noise);
        longest = std::max(longest, noise);
        for (size_t k = 0; k < noise; ++k) {
            ASSERT_NE(out[k], 0x55) << "round " << i;
        }
        ASSERT_EQ(Bytes(out.begin() + static_cast<long>(noise), out.end()), clean);
    }
    EXPECT_LT(shortest, longest);  // the amount of noise varies
}

TEST(SimFaults, SplitDribblesOneByteAtATimeWithGaps) {
    SimulatedController c(deviceAtLevel(6), plan({"split"}), 3);
    c.receive(kSettings.data(), kSettings.size(), 1000);
    Bytes got;
    uint64_t now = 1000;
    int writes = 0;
    while (true) {
        uint64_t due = 0;
        if (!c.nextDue(due)) {
            break;
        }
        ASSERT_GE(due, now);
        if (writes > 0) {
            EXPECT_GE(due - now, 1u);
            EXPECT_LE(due - now, 2u);
        }
        if (due > now) {
            EXPECT_TRUE(c.due(due - 1).empty());  // nothing before its time
        }
        now = due;
        const auto span = c.due(now);
        ASSERT_EQ(span.size(), 1u);
        got.push_back(span[0]);
        c.consumed(1, now);
        ++writes;
    }
    EXPECT_EQ(writes, 60);
    EXPECT_EQ(got, cleanReply(kSettings));
    EXPECT_GE(now - 1000, 59u);
}

TEST(SimFaults, TruncateSendsAShortFrameThatSaysItIsShort) {
    SimulatedController c(deviceAtLevel(6), plan({"truncate=0x14"}), 1);
    const Bytes full = cleanReply(kAxisBlock);
    const Bytes cut = exchange(c, kAxisBlock, 0);
    ASSERT_EQ(cut.size(), 16u);
    EXPECT_EQ(cut[0], 0x55);
    EXPECT_EQ(cut[1], 14);
    EXPECT_TRUE(std::equal(cut.begin() + 2, cut.end(), full.begin() + 2));
    EXPECT_EQ(exchange(c, kIdentity, 1), kIdentityReply);

    // An acknowledgement keeps at least its code.
    SimulatedController ack(deviceAtLevel(6), plan({"truncate=0x0D"}), 1);
    EXPECT_EQ(exchange(ack, {0xAA, 0x02, 0x0D, 0x01}, 0), (Bytes{0x55, 0x01, 0x0D}));
}

TEST(SimFaults, DelayHoldsEveryReplyBack) {
    SimulatedController c(deviceAtLevel(6), plan({"delay=50"}), 1);
    c.receive(kIdentity.data(), kIdentity.size(), 100);
    c.receive(kAxisBlock.data(), kAxisBlock.size(), 120);
    EXPECT_TRUE(drain(c, 149).empty());
    EXPECT_EQ(drain(c, 150), kIdentityReply);
    EXPECT_TRUE(drain(c, 169).empty());
    EXPECT_EQ(drain(c, 170).size(), 31u);
}

TEST(SimFaults, HangupComesAfterTheNthRequestsReplyHasGone) {
    SimulatedController c(deviceAtLevel(6), plan({"hangup-after=2", "delay=10"}), 1);
    // Both requests and a third in one burst: the third is never handled.
    const Bytes burst = {0xAA, 0x01, 0x01, 0xAA, 0x01, 0x03, 0xAA, 0x03, 0x24, 0x00, 0x01};
    c.receive(burst.data(), burst.size(), 0);
    EXPECT_EQ(c.requestsSeen(), 2u);
    EXPECT_FALSE(c.hangUpNow());  // replies still waiting
    EXPECT_EQ(drain(c, 10).size(), 7u + 4u);
    EXPECT_TRUE(c.hangUpNow());
    EXPECT_FALSE(c.device().tracking());
    EXPECT_TRUE(exchange(c, kIdentity, 20).empty());  // the line is dead

    SimulatedController at0(deviceAtLevel(6), plan({"hangup-after=0"}), 1);
    EXPECT_TRUE(at0.hangUpNow());
}

TEST(SimFaults, FaultsCombine) {
    SimulatedController c(deviceAtLevel(6), plan({"garbage", "split", "delay=5"}), 9);
    c.receive(kIdentity.data(), kIdentity.size(), 0);
    EXPECT_TRUE(c.due(4).empty());
    Bytes got;
    std::vector<size_t> writes;
    for (uint64_t now = 5; now < 200; ++now) {
        const Bytes part = drain(c, now, &writes);
        got.insert(got.end(), part.begin(), part.end());
    }
    ASSERT_GT(got.size(), kIdentityReply.size());
    EXPECT_EQ(Bytes(got.end() - static_cast<long>(kIdentityReply.size()), got.end()),
              kIdentityReply);
    for (size_t w : writes) {
        EXPECT_EQ(w, 1u);
    }
}

TEST(SimFaults, AFullLineDropsRepliesWithoutLosingTheOnesQueued) {
    SimulatedController c(deviceAtLevel(6), FaultPlan{}, 1);
    for (size_t i = 0; i < kReplySlots + 44; ++i) {
        c.receive(kIdentity.data(), kIdentity.size(), 0);
    }
    EXPECT_EQ(c.droppedReplies(), 44u);
    const Bytes out = drain(c, 0);
    ASSERT_EQ(out.size(), kReplySlots * kIdentityReply.size());
    for (size_t i = 0; i < kReplySlots; ++i) {
        ASSERT_TRUE(std::equal(kIdentityReply.begin(), kIdentityReply.end(),
                               out.begin() + static_cast<long>(i * kIdentityReply.size())));
    }
}

TEST(SimFaults, TraceShowsRequestsRepliesAndWhatWasWithheld) {
    char buffer[4096] = {};
    std::FILE* f = fmemopen(buffer, sizeof buffer - 1, "w");
    ASSERT_NE(f, nullptr);
    SimulatedController c(deviceAtLevel(6), plan({"no-reply=0x15"}), 1);
    c.setTrace(f);
    c.receive(kIdentity.data(), kIdentity.size(), 1000);
    c.receive(kSettings.data(), kSettings.size(), 2500);
    c.receive(Bytes{0xAA, 0x01, 0x77}.data(), 3, 2600);
    std::fclose(f);
    const std::string text = buffer;
    EXPECT_NE(text.find("[     0.000] host -> AA 01 01\n"), std::string::npos) << text;
    EXPECT_NE(text.find("kz2  <- 55 05 01 01 00 01 00\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[     1.500] host -> AA 01 15"), std::string::npos) << text;
    EXPECT_NE(text.find("(withheld)"), std::string::npos) << text;
    EXPECT_NE(text.find("77  (request not understood"), std::string::npos) << text;
}

}  // namespace
}  // namespace vornic::sim
