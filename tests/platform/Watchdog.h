#pragma once
// Runs an action if the test has not finished a blocking step in time, so that a missing byte
// makes the test fail instead of hanging it (the action unblocks the waiting call).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace vornic::platform::testing {

class Watchdog {
  public:
    Watchdog(std::chrono::milliseconds timeout, std::function<void()> action)
        : thread_([this, timeout, action = std::move(action)] {
              std::unique_lock lock(mutex_);
              if (!cv_.wait_for(lock, timeout, [this] { return cancelled_; })) {
                  fired_ = true;
                  lock.unlock();
                  action();
              }
          }) {}

    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

    bool fired() {
        std::lock_guard lock(mutex_);
        return fired_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool cancelled_ = false;
    bool fired_ = false;
    std::thread thread_;  // last: starts once the members above exist
};

}  // namespace vornic::platform::testing
