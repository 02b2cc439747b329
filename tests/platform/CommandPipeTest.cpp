#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <thread>
#include <vector>

#include "platform/CommandPipe.h"
#include "platform/Watchdog.h"
#include "support/IdleWatchPipe.h"

namespace vornic::platform {
namespace {

using namespace std::chrono_literals;

constexpr auto kGenerous = 5s;

// Reads exactly `count` bytes (fewer only if the pipe ends), never more, in reads of at most
// `max`. If they do not come, the watchdog stops the pipe so that the test fails instead of
// hanging.
std::vector<uint8_t> readAll(CommandPipe& pipe, size_t count, size_t max) {
    testing::Watchdog watchdog(kGenerous, [&pipe] { pipe.signalStop(); });
    std::vector<uint8_t> out;
    std::vector<uint8_t> buffer(max);
    while (out.size() < count) {
        const size_t n = pipe.read(buffer.data(), std::min(max, count - out.size()));
        if (n == 0) {
            break;
        }
        EXPECT_LE(n, max);
        out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(n));
    }
    EXPECT_FALSE(watchdog.fired()) << "only " << out.size() << " of " << count << " bytes came";
    return out;
}

TEST(CommandPipe, KeepsOrderAcrossTheRingEdgeAndHandsOutAtMostMax) {
    auto pipe = makeCommandPipe("test", 16);
    std::vector<uint8_t> expected;
    uint8_t next = 0;
    // Writes and reads of odd sizes walk the ring's edge through every position.
    for (int round = 0; round < 40; ++round) {
        std::array<uint8_t, 7> message{};
        for (auto& byte : message) {
            byte = next++;
        }
        ASSERT_TRUE(pipe->write(message.data(), message.size()));
        expected.insert(expected.end(), message.begin(), message.end());
        const auto got = readAll(*pipe, message.size(), 3);
        ASSERT_EQ(got, std::vector<uint8_t>(message.begin(), message.end()));
    }
    // A read takes what is queued, even when less than asked for.
    const uint8_t two[] = {0xA0, 0x00};
    ASSERT_TRUE(pipe->write(two, 2));
    uint8_t buffer[20];
    EXPECT_EQ(pipe->read(buffer, sizeof buffer), 2u);
    EXPECT_EQ(buffer[0], 0xA0);
}

TEST(CommandPipe, MessagesFromManyWritersStayWholeAndInOrderPerWriter) {
    // A small ring so that writers block often and wake in every order.
    auto pipe = makeCommandPipe("test", 40);
    constexpr int kWriters = 4;
    constexpr int kMessages = 400;
    std::vector<std::thread> writers;
    for (int id = 0; id < kWriters; ++id) {
        writers.emplace_back([&pipe, id] {
            for (int seq = 0; seq < kMessages; ++seq) {
                // Frame: 0x80 | id, sequence (low byte), length, then `length` copies of id.
                const uint8_t length = static_cast<uint8_t>(1 + (seq * 7 + id) % 30);
                std::array<uint8_t, 40> message{};
                message[0] = static_cast<uint8_t>(0x80 | id);
                message[1] = static_cast<uint8_t>(seq);
                message[2] = length;
                for (int i = 0; i < length; ++i) {
                    message[3 + i] = static_cast<uint8_t>(id);
                }
                ASSERT_TRUE(pipe->write(message.data(), 3u + length));
            }
        });
    }

    // A failed check below leaves the test early: the writers are stopped and joined first, so
    // that the failure is reported instead of ending the program with threads still running.
    struct JoinWriters {
        CommandPipe& pipe;
        std::vector<std::thread>& writers;
        ~JoinWriters() {
            pipe.signalStop();
            for (auto& writer : writers) {
                if (writer.joinable()) {
                    writer.join();
                }
            }
        }
    } joinWriters{*pipe, writers};

    std::array<int, kWriters> nextSeq{};
    std::vector<uint8_t> pending;
    int complete = 0;
    uint8_t buffer[13];
    size_t turn = 0;
    // Only a guard against a hang: 1600 messages through a 40-byte ring under an emulator on a
    // busy machine may take longer than the other tests' bound.
    testing::Watchdog watchdog(6 * kGenerous, [&pipe] { pipe->signalStop(); });
    while (complete < kWriters * kMessages) {
        const size_t n = pipe->read(buffer, 1 + turn++ % sizeof buffer);
        ASSERT_GT(n, 0u);
        pending.insert(pending.end(), buffer, buffer + n);
        while (pending.size() >= 3 && pending.size() >= 3u + pending[2]) {
            const int id = pending[0] & 0x7F;
            ASSERT_EQ(pending[0] & 0x80, 0x80) << "message " << complete << " does not start whole";
            ASSERT_LT(id, kWriters);
            ASSERT_EQ(pending[1], static_cast<uint8_t>(nextSeq[id])) << "writer " << id;
            for (int i = 0; i < pending[2]; ++i) {
                ASSERT_EQ(pending[3 + i], id) << "bytes of another message inside writer " << id;
            }
            ++nextSeq[id];
            ++complete;
            pending.erase(pending.begin(), pending.begin() + 3 + pending[2]);
        }
    }
    EXPECT_TRUE(pending.empty());
    for (int seq : nextSeq) {
        EXPECT_EQ(seq, kMessages);
    }
}

TEST(CommandPipe, WriterBlocksUntilItsWholeMessageFits) {
    auto pipe = makeCommandPipe("test", 8);
    const uint8_t six[] = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(pipe->write(six, sizeof six));

    std::atomic<bool> done{false};
    auto writer = std::async(std::launch::async, [&] {
        const uint8_t four[] = {7, 8, 9, 10};
        const bool ok = pipe->write(four, sizeof four);
        done = true;
        return ok;
    });
    // Only two bytes free: the four-byte message must wait, and must not go in partly.
    EXPECT_EQ(writer.wait_for(50ms), std::future_status::timeout);
    uint8_t buffer[8];
    ASSERT_EQ(pipe->read(buffer, 1), 1u);  // three free: still not enough
    EXPECT_EQ(writer.wait_for(30ms), std::future_status::timeout);
    EXPECT_FALSE(done);
    // Nothing of the waiting message is in yet.
    ASSERT_EQ(pipe->read(buffer, sizeof buffer), 5u);
    EXPECT_EQ(buffer[4], 6);
    ASSERT_EQ(writer.wait_for(kGenerous), std::future_status::ready);
    EXPECT_TRUE(writer.get());
    EXPECT_EQ(readAll(*pipe, 4, 8), (std::vector<uint8_t>{7, 8, 9, 10}));
}

TEST(CommandPipe, MessageLargerThanTheRingGoesThroughWhole) {
    auto pipe = makeCommandPipe("test", 8);
    std::vector<uint8_t> big(50);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(i);
    }
    auto writer =
        std::async(std::launch::async, [&] { return pipe->write(big.data(), big.size()); });
    // Once its first byte is out the big writer has its turn; a writer that comes after it must
    // not slip into the middle.
    uint8_t first = 0xFF;
    ASSERT_EQ(pipe->read(&first, 1), 1u);
    auto second = std::async(std::launch::async, [&] {
        const uint8_t tail[] = {0xEE, 0xEE};
        return pipe->write(tail, 2);
    });
    auto got = readAll(*pipe, big.size() - 1, 5);
    got.insert(got.begin(), first);
    ASSERT_EQ(writer.wait_for(kGenerous), std::future_status::ready);
    EXPECT_TRUE(writer.get());
    EXPECT_EQ(got, big);
    ASSERT_EQ(second.wait_for(kGenerous), std::future_status::ready);
    EXPECT_TRUE(second.get());
    EXPECT_EQ(readAll(*pipe, 2, 5), (std::vector<uint8_t>{0xEE, 0xEE}));
}

TEST(CommandPipe, StopEndsTheReadOnlyOnceTheQueueIsEmpty) {
    auto pipe = makeCommandPipe("test");
    const uint8_t bytes[] = {0x81, 0x04, 0xA0, 0x00};
    ASSERT_TRUE(pipe->write(bytes, sizeof bytes));
    pipe->signalStop();
    uint8_t buffer[3];
    EXPECT_EQ(pipe->read(buffer, 3), 3u);
    EXPECT_EQ(pipe->read(buffer, 3), 1u);
    EXPECT_EQ(buffer[0], 0x00);
    EXPECT_EQ(pipe->read(buffer, 3), 0u);

    // A reader already waiting is woken by the stop.
    auto idle = std::make_unique<test::IdleWatchPipe>(makeCommandPipe("test"));
    auto reader = std::async(std::launch::async, [&] {
        uint8_t b[4];
        return idle->read(b, sizeof b);
    });
    ASSERT_TRUE(idle->waitReaderIdle(5000));
    idle->signalStop();
    ASSERT_EQ(reader.wait_for(kGenerous), std::future_status::ready);
    EXPECT_EQ(reader.get(), 0u);
}

TEST(CommandPipe, CloseReleasesABlockedWriterAndRefusesLaterWrites) {
    auto pipe = makeCommandPipe("test", 4);
    const uint8_t four[] = {1, 2, 3, 4};
    ASSERT_TRUE(pipe->write(four, 4));
    auto blocked = std::async(std::launch::async, [&] { return pipe->write(four, 2); });
    auto queued = std::async(std::launch::async, [&] { return pipe->write(four, 1); });
    EXPECT_EQ(blocked.wait_for(30ms), std::future_status::timeout);
    pipe->close();
    ASSERT_EQ(blocked.wait_for(kGenerous), std::future_status::ready);
    EXPECT_FALSE(blocked.get());
    ASSERT_EQ(queued.wait_for(kGenerous), std::future_status::ready);
    EXPECT_FALSE(queued.get());
    EXPECT_FALSE(pipe->write(four, 1));
    // What was in before the close can still be read; after that a closed pipe ends the read.
    EXPECT_EQ(readAll(*pipe, 4, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    uint8_t buffer[4];
    EXPECT_EQ(pipe->read(buffer, 4), 0u);
}

TEST(CommandPipe, AbandonedWriterGivesUpWithoutWritingAndPassesItsTurn) {
    auto pipe = makeCommandPipe("test", 4);
    const uint8_t four[] = {1, 2, 3, 4};
    ASSERT_TRUE(pipe->write(four, 4));
    std::atomic<bool> abandon{false};
    const uint8_t two[] = {9, 9};
    auto blocked = std::async(std::launch::async, [&] { return pipe->write(two, 2, abandon); });
    EXPECT_EQ(blocked.wait_for(30ms), std::future_status::timeout);
    abandon = true;
    pipe->wakeWriters();
    ASSERT_EQ(blocked.wait_for(kGenerous), std::future_status::ready);
    EXPECT_FALSE(blocked.get());
    // Nothing of the abandoned message went in, and the next writer is served.
    EXPECT_EQ(readAll(*pipe, 4, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    const uint8_t next[] = {7};
    ASSERT_TRUE(pipe->write(next, 1));
    EXPECT_EQ(readAll(*pipe, 1, 4), (std::vector<uint8_t>{7}));
    // With room, the flag does not stop a write.
    EXPECT_TRUE(pipe->write(two, 2, abandon));
}

TEST(IdleWatchPipe, ReaderIdleOnlyWhenEverythingWrittenHasBeenHandled) {
    auto pipe = std::make_unique<test::IdleWatchPipe>(makeCommandPipe("test"));
    // Nobody reading: never idle, and the wait gives up.
    const uint8_t heartbeat[] = {0xA0, 0x00};
    ASSERT_TRUE(pipe->write(heartbeat, 2));
    EXPECT_FALSE(pipe->waitReaderIdle(20));

    std::atomic<int> handled{0};
    std::thread reader([&] {
        uint8_t buffer[20];
        while (size_t n = pipe->read(buffer, sizeof buffer)) {
            std::this_thread::sleep_for(1ms);  // handling takes a while
            handled += static_cast<int>(n);
        }
    });
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(pipe->write(heartbeat, 2));
    }
    ASSERT_TRUE(pipe->waitReaderIdle(5000));
    EXPECT_EQ(handled.load(), 102);
    pipe->signalStop();
    reader.join();
}

}  // namespace
}  // namespace vornic::platform
