#pragma once
// HeartBeat: a thread that ticks one iHeartBeatListener about every 250 ms.
//
// The thread waits on its stop signal with the tick interval as time-out; each time-out is one
// tick: it takes the HeartBeat lock, calls onHeartBeat if a listener is attached, and releases the
// lock. The interval runs from the end of one tick to the start of the next; late ticks are not
// caught up.
//
// Because the lock is held while the listener runs, detachListener (which takes the same lock)
// returns only once a running tick has ended, and no tick reaches a listener after it has been
// detached. Lock order: the HeartBeat lock first; the listener may take its own locks inside
// (TelescopeControl takes its pipe-write lock), and nobody may call into HeartBeat while holding
// such a lock. The lock is recursive, so a listener may detach itself from inside its own tick.
//
// stop() signals the thread and waits for it for a bounded time; a thread that does not end in time
// is left to end on its own and stop() reports failure. The lock, the listener reference and the
// stop event live in shared state that the thread co-owns, so a thread left behind that way never
// touches a destroyed HeartBeat. The thread, the lock (a critical section on Windows) and the stop
// event are the OS's own, from platform/Threads.h.

#include <chrono>
#include <memory>

#include "controller/Contract.h"
#include "platform/Threads.h"

namespace vornic {

class HeartBeat {
  public:
    static constexpr std::chrono::milliseconds kDefaultInterval{250};
    static constexpr std::chrono::milliseconds kDefaultStopTimeout{20000};

    explicit HeartBeat(std::chrono::milliseconds interval = kDefaultInterval,
                       std::chrono::milliseconds stopTimeout = kDefaultStopTimeout);
    ~HeartBeat();

    HeartBeat(const HeartBeat&) = delete;
    HeartBeat& operator=(const HeartBeat&) = delete;

    // Non-owning; the listener must outlive its attachment.
    void attachListener(iHeartBeatListener* listener);
    // Waits for a running tick; afterwards no tick reaches the old listener.
    void detachListener();

    // Starts the heartbeat thread. Does nothing if it is already running. If the thread cannot be
    // created, no tick ever comes.
    void start();
    // Signals the thread to end and waits for it, at most the stop time-out. Returns whether it
    // ended; if not, it is left to end on its own. Returns true when no thread was running.
    [[nodiscard]] bool stop();

    [[nodiscard]] bool isRunning() const { return thread_.held(); }

  private:
    // The lock and the listener reference, shared with the thread.
    struct ListenerSlot {
        platform::Lock lock;
        iHeartBeatListener* listener = nullptr;
    };

    static void run(const std::shared_ptr<ListenerSlot>& slot,
                    const std::shared_ptr<platform::Event>& stop,
                    std::chrono::milliseconds interval);

    const std::chrono::milliseconds interval_;
    const std::chrono::milliseconds stopTimeout_;
    std::shared_ptr<ListenerSlot> slot_;
    std::shared_ptr<platform::Event> stop_;  // one per start()
    platform::Thread thread_;
};

}  // namespace vornic
