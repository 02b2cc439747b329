#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/Threads.h"

namespace vornic::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(Threads, EventTimesOutUntilSetAndStaysSetUntilReset) {
    Event event;
    const auto before = Clock::now();
    EXPECT_FALSE(event.wait(50));
    EXPECT_GE(Clock::now() - before, 45ms);
    auto waiter = std::async(std::launch::async, [&] { return event.wait(10000); });
    EXPECT_EQ(waiter.wait_for(30ms), std::future_status::timeout);
    event.set();
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(waiter.get());
    EXPECT_TRUE(event.wait(0));  // manual reset: still set
    event.reset();
    EXPECT_FALSE(event.wait(0));
}

TEST(Threads, LockIsRecursiveForItsHolderAndExcludesOthers) {
    Lock lock;
    lock.lock();
    lock.lock();
    std::atomic<bool> entered{false};
    auto other = std::async(std::launch::async, [&] {
        lock.lock();
        entered = true;
        lock.unlock();
    });
    lock.unlock();
    EXPECT_EQ(other.wait_for(50ms), std::future_status::timeout);
    EXPECT_FALSE(entered);
    lock.unlock();
    ASSERT_EQ(other.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(entered);
}

TEST(Threads, JoinIsBoundedAndALeftThreadEndsOnItsOwn) {
    auto release = std::make_shared<Event>();
    auto inside = std::make_shared<std::atomic<int>>(0);  // 1 inside and current, 2 done
    Thread thread;
    EXPECT_TRUE(thread.join(0));  // none yet
    Event go;                     // the body asks only once start() has returned
    ASSERT_TRUE(thread.start([release, inside, &thread, &go] {
        static_cast<void>(go.wait(10000));
        *inside = thread.isCurrent() ? 1 : -1;
        static_cast<void>(release->wait(10000));
        *inside = 2;
    }));
    EXPECT_FALSE(thread.start([] {}));  // one at a time
    go.set();
    EXPECT_FALSE(thread.join(50));
    EXPECT_EQ(inside->load(), 1);
    EXPECT_FALSE(thread.isCurrent());
    release->set();
    EXPECT_TRUE(thread.join(5000));
    EXPECT_EQ(inside->load(), 2);
    EXPECT_FALSE(thread.held());

    // Detached while still running: it ends later on what it owns.
    release->reset();
    ASSERT_TRUE(thread.start([release, inside] {
        static_cast<void>(release->wait(10000));
        *inside = 3;
    }));
    thread.detach();
    EXPECT_FALSE(thread.held());
    release->set();
    const auto deadline = Clock::now() + 5s;
    while (inside->load() != 3 && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(inside->load(), 3);
}

TEST(Threads, ConditionReleasesTheLockWhileWaitingAndWakesOnNotify) {
    Lock lock;
    Condition condition;
    bool ready = false;  // under lock
    auto waiter = std::async(std::launch::async, [&] {
        std::lock_guard guard(lock);
        while (!ready) {
            condition.wait(lock, kWaitForever);
        }
        return true;
    });
    std::this_thread::sleep_for(30ms);
    {
        std::lock_guard guard(lock);  // free while the waiter waits
        ready = true;
    }
    condition.notifyAll();
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(waiter.get());

    // Nobody notifies: the wait ends by its time-out, with the lock held again.
    lock.lock();
    condition.wait(lock, 50);
    std::atomic<bool> entered{false};
    auto other = std::async(std::launch::async, [&] {
        std::lock_guard guard(lock);
        entered = true;
    });
    EXPECT_EQ(other.wait_for(30ms), std::future_status::timeout);
    EXPECT_FALSE(entered);
    lock.unlock();
    ASSERT_EQ(other.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(entered);
}

}  // namespace
}  // namespace vornic::platform
