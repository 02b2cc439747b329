// Line and controller faults the simulator can play, so that the host's handling of a misbehaving
// controller can be exercised without one.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vornic::sim {

struct FaultPlan {
    // Never answer anything.
    bool silent = false;
    // Put a few random bytes, none of them a reply start byte, in front of every reply.
    bool garbage = false;
    // Send replies one byte at a time with 1 to 2 ms between bytes, as a slow line would.
    bool split = false;
    // Hold back every reply for this long.
    uint32_t delayMs = 0;
    // Drop the line after this many requests (like a pulled cable); negative: never.
    int64_t hangupAfter = -1;
    // Never answer these request codes.
    std::array<bool, 256> noReply{};
    // Answer these request codes with a frame cut short: fewer payload bytes than the layout has,
    // the length byte saying so.
    std::array<bool, 256> truncate{};
};

// Longest `delay=` the simulator accepts, in milliseconds.
inline constexpr uint32_t kMaxFaultDelayMs = 60000;

// Adds one fault given as text: "silent", "garbage", "split", "no-reply=CODE", "truncate=CODE",
// "hangup-after=N" or "delay=MS"; CODE is a request code in decimal or 0x hexadecimal.
// On a bad description returns false with `error` saying what is wrong; the plan is then unchanged.
[[nodiscard]] bool addFault(std::string_view text, FaultPlan& plan, std::string& error);

// Reads an unsigned number in decimal or with a 0x prefix in hexadecimal, at most `max`.
[[nodiscard]] bool parseNumber(std::string_view text, uint64_t max, uint64_t& value);

}  // namespace vornic::sim
