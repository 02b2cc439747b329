#pragma once
// Threads, locks and events as the OS has them: on Windows a thread made with CreateThread, a
// critical section, a condition variable on it and a manual-reset event; elsewhere their
// standard-library equivalents. One file per OS implements them.

#include <cstdint>
#include <functional>
#include <memory>

namespace vornic::platform {

// A time-out that never runs out.
inline constexpr uint32_t kWaitForever = 0xFFFFFFFF;

// Puts the calling thread to sleep for `milliseconds`.
void sleepFor(uint32_t milliseconds);

class Condition;

// A lock that its holder may take again (a critical section is). Meets BasicLockable, so
// std::lock_guard<Lock> works.
class Lock {
  public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void lock();
    void unlock();

  private:
    friend class Condition;
    struct State;
    std::unique_ptr<State> state_;
};

// Wakes threads that wait, under a Lock, for something that other holders of the lock change.
class Condition {
  public:
    Condition();
    ~Condition();
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;

    // The caller holds `lock` exactly once. Lets go of it, waits at most `timeoutMs` for
    // notifyAll() and takes it again. May also return without a notification, so callers look at
    // what they wait for in a loop.
    void wait(Lock& lock, uint32_t timeoutMs);
    void notifyAll();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// A manual-reset event: set() releases every waiter and stays set until reset().
class Event {
  public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    // Waits at most `timeoutMs`; true when the event is set.
    [[nodiscard]] bool wait(uint32_t timeoutMs);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// A thread that can be waited for with a time-out. One that is not waited for to its end is left
// to run on by detach() or the destructor; what it uses must then be owned by the body itself.
class Thread {
  public:
    Thread();
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts `body` on a new thread; false (and nothing started) when none could be made or one
    // is still held.
    [[nodiscard]] bool start(std::function<void()> body);
    // Waits at most `timeoutMs` for the thread to end; true when it has (the thread is then
    // released), or when there is none.
    [[nodiscard]] bool join(uint32_t timeoutMs);
    // Lets the thread run on unwatched.
    void detach();
    [[nodiscard]] bool held() const;
    // Whether the caller is this thread.
    [[nodiscard]] bool isCurrent() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace vornic::platform
