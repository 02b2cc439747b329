#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "app/HeartBeat.h"

namespace vornic {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kGenerous = 10s;  // upper bound for anything we wait on

// Counts ticks and lets a test wait for a given count. Optionally holds each tick until released,
// to observe what happens while a tick is running.
class RecordingListener : public iHeartBeatListener {
  public:
    explicit RecordingListener(bool holdTicks = false) : holdTicks_(holdTicks) {}

    void onHeartBeat() override {
        std::unique_lock<std::mutex> lock(mutex_);
        ++ticks_;
        tickTimes_.push_back(Clock::now());
        inTick_ = true;
        changed_.notify_all();
        if (holdTicks_) {
            changed_.wait(lock, [&] { return released_; });
        }
        inTick_ = false;
        ++finishedTicks_;
        changed_.notify_all();
    }

    bool waitForTicks(int count, std::chrono::milliseconds timeout = kGenerous) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return ticks_ >= count; });
    }
    bool waitForFinishedTicks(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kGenerous, [&] { return finishedTicks_ >= count; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    int ticks() {
        std::lock_guard<std::mutex> lock(mutex_);
        return ticks_;
    }
    int finishedTicks() {
        std::lock_guard<std::mutex> lock(mutex_);
        return finishedTicks_;
    }
    bool inTick() {
        std::lock_guard<std::mutex> lock(mutex_);
        return inTick_;
    }
    std::vector<Clock::time_point> tickTimes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return tickTimes_;
    }

  private:
    const bool holdTicks_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int ticks_ = 0;
    int finishedTicks_ = 0;
    bool inTick_ = false;
    bool released_ = false;
    std::vector<Clock::time_point> tickTimes_;
};

TEST(HeartBeat, TicksReachTheAttachedListener) {
    HeartBeat heartBeat(2ms);
    RecordingListener listener;
    heartBeat.attachListener(&listener);
    heartBeat.start();
    EXPECT_TRUE(listener.waitForTicks(5));
    EXPECT_TRUE(heartBeat.stop());
    const int ticks = listener.ticks();
    std::this_thread::sleep_for(20ms);  // a stopped heartbeat must stay silent
    EXPECT_EQ(listener.ticks(), ticks);
}

TEST(HeartBeat, RunsWithoutListenerAndKeepsRunningAfterDetach) {
    HeartBeat heartBeat(2ms);
    heartBeat.start();  // nobody attached: ticks call nobody
    std::this_thread::sleep_for(20ms);

    RecordingListener first;
    heartBeat.attachListener(&first);  // the thread is still alive and now reaches a listener
    ASSERT_TRUE(first.waitForTicks(3));
    heartBeat.detachListener();
    const int ticksAtDetach = first.ticks();
    std::this_thread::sleep_for(30ms);  // about fifteen intervals
    EXPECT_EQ(first.ticks(), ticksAtDetach);

    RecordingListener second;
    heartBeat.attachListener(&second);
    EXPECT_TRUE(second.waitForTicks(3));
    heartBeat.detachListener();
    EXPECT_TRUE(heartBeat.stop());
    EXPECT_EQ(first.ticks(), ticksAtDetach);
}

TEST(HeartBeat, DetachWaitsForTheRunningTick) {
    HeartBeat heartBeat(1ms);
    RecordingListener listener(/*holdTicks=*/true);
    heartBeat.attachListener(&listener);
    heartBeat.start();
    ASSERT_TRUE(listener.waitForTicks(1));  // the tick is now held inside onHeartBeat

    std::atomic<bool> detached{false};
    std::atomic<int> startedWhenDetached{-1};
    std::atomic<int> finishedWhenDetached{-1};
    std::thread detacher([&] {
        heartBeat.detachListener();
        // Once detached, no tick can start on this listener, so these two cannot move any more.
        startedWhenDetached = listener.ticks();
        finishedWhenDetached = listener.finishedTicks();
        detached = true;
    });
    // Give detachListener every chance to return early if it did not wait.
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(detached.load());
    EXPECT_TRUE(listener.inTick());

    // Released, the heartbeat may win the lock again for a few more ticks before the detacher
    // gets it; what matters is that none is still running when detach returns.
    listener.release();
    detacher.join();
    EXPECT_TRUE(detached.load());
    EXPECT_GE(finishedWhenDetached.load(), 1);
    EXPECT_EQ(finishedWhenDetached.load(), startedWhenDetached.load());
    std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(heartBeat.stop());
    EXPECT_EQ(listener.ticks(), startedWhenDetached.load());  // no tick came after it
}

TEST(HeartBeat, StopWhileWaitingEndsAtOnceWithoutATick) {
    HeartBeat heartBeat(10s);
    RecordingListener listener;
    heartBeat.attachListener(&listener);
    heartBeat.start();
    const auto before = Clock::now();
    EXPECT_TRUE(heartBeat.stop());
    EXPECT_LT(Clock::now() - before, 2s);
    EXPECT_EQ(listener.ticks(), 0);
    EXPECT_FALSE(heartBeat.isRunning());
}

TEST(HeartBeat, TenTicksTakeAtLeastTenIntervals) {
    HeartBeat heartBeat;  // the real 250 ms
    RecordingListener listener;
    heartBeat.attachListener(&listener);
    const auto started = Clock::now();
    heartBeat.start();
    ASSERT_TRUE(listener.waitForTicks(10, 20s));
    const auto times = listener.tickTimes();
    EXPECT_TRUE(heartBeat.stop());
    ASSERT_GE(times.size(), 10u);
    EXPECT_GE(times[9] - started, 2500ms);
    for (size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], 250ms) << "tick " << i;
    }
}

TEST(HeartBeat, StopGivesUpOnAStuckTickAndReportsIt) {
    RecordingListener listener(/*holdTicks=*/true);
    {
        HeartBeat heartBeat(1ms, 100ms);
        heartBeat.attachListener(&listener);
        heartBeat.start();
        ASSERT_TRUE(listener.waitForTicks(1));
        const auto before = Clock::now();
        EXPECT_FALSE(heartBeat.stop());  // the tick never returns within the bound
        EXPECT_LT(Clock::now() - before, 5s);
        EXPECT_FALSE(heartBeat.isRunning());
    }
    // The HeartBeat is gone; the left-behind thread must finish its tick and end without touching
    // it (the sanitizer builds catch any use after the destruction).
    listener.release();
    EXPECT_TRUE(listener.waitForFinishedTicks(1));
    std::this_thread::sleep_for(20ms);  // the stop request is seen before any further tick
    EXPECT_EQ(listener.ticks(), 1);
}

TEST(HeartBeat, StartAndStopAreIdempotentAndRestartable) {
    HeartBeat heartBeat(1ms);
    EXPECT_TRUE(heartBeat.stop());  // never started
    RecordingListener listener;
    heartBeat.attachListener(&listener);
    heartBeat.start();
    heartBeat.start();  // already running: no second thread
    ASSERT_TRUE(listener.waitForTicks(2));
    EXPECT_TRUE(heartBeat.stop());
    EXPECT_TRUE(heartBeat.stop());
    const int ticks = listener.ticks();
    heartBeat.start();
    EXPECT_TRUE(listener.waitForTicks(ticks + 2));
    EXPECT_TRUE(heartBeat.stop());
}

TEST(HeartBeat, DestructionStopsTheThread) {
    RecordingListener listener;
    {
        HeartBeat heartBeat(1ms);
        heartBeat.attachListener(&listener);
        heartBeat.start();
        ASSERT_TRUE(listener.waitForTicks(2));
    }
    const int ticks = listener.ticks();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(listener.ticks(), ticks);
}

// A listener may detach itself from inside its own tick without dead-locking.
class SelfDetachingListener : public iHeartBeatListener {
  public:
    explicit SelfDetachingListener(HeartBeat& heartBeat) : heartBeat_(heartBeat) {}
    void onHeartBeat() override {
        heartBeat_.detachListener();
        ++ticks;
    }
    std::atomic<int> ticks{0};

  private:
    HeartBeat& heartBeat_;
};

TEST(HeartBeat, ListenerMayDetachItselfDuringATick) {
    HeartBeat heartBeat(1ms);
    SelfDetachingListener listener(heartBeat);
    heartBeat.attachListener(&listener);
    heartBeat.start();
    const auto deadline = Clock::now() + kGenerous;
    while (listener.ticks.load() == 0 && Clock::now() < deadline) {
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(heartBeat.stop());
    EXPECT_EQ(listener.ticks.load(), 1);
}

}  // namespace
}  // namespace vornic
