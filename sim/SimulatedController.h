// The far end of the cable, still free of I/O: the device, the faults it plays and the replies
// waiting to go out on the line, each with the time it falls due.
//
// Design note. Time is handed in by the caller (milliseconds on any monotonic clock), so the whole
// timing behaviour - delays, byte-by-byte dribbling, hang-up - can be tested without waiting. The
// output is a fixed ring of whole replies; a reply that finds the ring full is dropped, as a
// controller without flow control would lose it. A caller writes out `due()` bytes in one write,
// then reports how many went with `consumed()`.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>

#include "sim/Faults.h"
#include "sim/Kz2Device.h"

namespace vornic::sim {

// Most bytes of line noise put in front of one reply.
inline constexpr size_t kMaxGarbage = 8;
// Replies that may wait for the line at one time.
inline constexpr size_t kReplySlots = 256;

class SimulatedController : private DeviceSink {
  public:
    SimulatedController(const Kz2Device& device, const FaultPlan& faults, uint32_t seed);

    // Every request and reply in hexadecimal with a time stamp; nullptr switches it off.
    void setTrace(std::FILE* out) { trace_ = out; }
    // Called, on the caller's thread, each time the device stores its configuration.
    void setStoreHandler(std::function<bool(const ConfigImage&)> handler) {
        storeHandler_ = std::move(handler);
    }

    // Bytes from the host, received at `nowMs`.
    void receive(const uint8_t* data, size_t size, uint64_t nowMs);
    // Lets device time run up to `nowMs`.
    void advanceTo(uint64_t nowMs);

    // The bytes that may go out at `nowMs` in one write; empty when nothing is due.
    [[nodiscard]] std::span<const uint8_t> due(uint64_t nowMs) const;
    // `count` bytes of what `due()` offered have been written at `nowMs`.
    void consumed(size_t count, uint64_t nowMs);
    // When the next byte falls due; false when nothing waits.
    [[nodiscard]] bool nextDue(uint64_t& dueMs) const;

    // The hang-up fault has struck and every reply before it has gone out: close the line.
    [[nodiscard]] bool hangUpNow() const { return hangupPending_ && count_ == 0; }
    [[nodiscard]] uint64_t requestsSeen() const { return requests_; }
    [[nodiscard]] uint64_t droppedReplies() const { return dropped_; }
    [[nodiscard]] const Kz2Device& device() const { return device_; }

  private:
    struct Pending {
        uint64_t dueMs = 0;
        uint16_t size = 0;
        uint16_t sent = 0;
        bool split = false;
        std::array<uint8_t, kMaxGarbage + kMaxReplyFrame> bytes{};
    };

    void onRequest(const uint8_t* frame, size_t size) override;
    void onReply(uint8_t requestCode, const uint8_t* frame, size_t size) override;
    bool onStore(const ConfigImage& stored) override;
    void onIgnored(uint8_t requestCode) override;

    uint32_t random();
    void traceBytes(const char* what, const uint8_t* bytes, size_t size, const char* note);

    Kz2Device device_;
    FaultPlan faults_;
    uint32_t rng_;
    std::FILE* trace_ = nullptr;
    std::function<bool(const ConfigImage&)> storeHandler_;

    uint64_t nowMs_ = 0;
    bool clockStarted_ = false;
    uint64_t startMs_ = 0;
    uint64_t requests_ = 0;
    uint64_t dropped_ = 0;
    bool hangupPending_ = false;

    std::array<Pending, kReplySlots> ring_{};
    size_t head_ = 0;
    size_t count_ = 0;
};

}  // namespace vornic::sim
