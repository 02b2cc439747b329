#pragma once
// A fixed ring of messages for handing reports from a thread that must never wait (the worker, a
// serial reader) to one that takes them in order. It allocates nothing after construction and a
// full ring refuses the new entry rather than growing or overwriting an older one. It takes no
// lock itself: every user already holds one over more than the ring (whether a window is there
// to receive, a pending wake-up), and the ring is used only under it.

#include <array>
#include <cstddef>

namespace vornic::platform {

template <typename T, size_t Capacity>
class BoundedRing {
    static_assert(Capacity > 0, "a ring holds at least one entry");

  public:
    static constexpr size_t kCapacity = Capacity;

    // Appends `value`; false, with the ring unchanged, when it is full.
    [[nodiscard]] bool push(const T& value) {
        if (count_ == Capacity) {
            return false;
        }
        slots_[(head_ + count_) % Capacity] = value;
        ++count_;
        return true;
    }

    // Takes the oldest entry into `out`; false when there is none.
    [[nodiscard]] bool pop(T& out) {
        if (count_ == 0) {
            return false;
        }
        out = slots_[head_];
        head_ = (head_ + 1) % Capacity;
        --count_;
        return true;
    }

    void clear() {
        head_ = 0;
        count_ = 0;
    }

    [[nodiscard]] bool empty() const { return count_ == 0; }
    [[nodiscard]] bool full() const { return count_ == Capacity; }

  private:
    std::array<T, Capacity> slots_{};
    size_t head_ = 0;
    size_t count_ = 0;
};

}  // namespace vornic::platform
