#include "sim/SimulatedController.h"

#include <cstring>

namespace vornic::sim {

SimulatedController::SimulatedController(const Kz2Device& device, const FaultPlan& faults,
                                         uint32_t seed)
    : device_(device), faults_(faults), rng_(seed == 0 ? 0x9E3779B9u : seed) {
    hangupPending_ = faults_.hangupAfter == 0;
}

uint32_t SimulatedController::random() {
    // xorshift32: cheap, and the same seed plays the same noise again.
    rng_ ^= rng_ << 13;
    rng_ ^= rng_ >> 17;
    rng_ ^= rng_ << 5;
    return rng_;
}

void SimulatedController::advanceTo(uint64_t nowMs) {
    if (!clockStarted_) {
        clockStarted_ = true;
        startMs_ = nowMs;
        nowMs_ = nowMs;
        return;
    }
    if (nowMs <= nowMs_) {
        return;
    }
    uint64_t elapsed = nowMs - nowMs_;
    nowMs_ = nowMs;
    while (elapsed > 0) {
        const uint32_t step = elapsed > 0x7FFFFFFF ? 0x7FFFFFFFu : static_cast<uint32_t>(elapsed);
        device_.advance(step);
        elapsed -= step;
    }
}

void SimulatedController::receive(const uint8_t* data, size_t size, uint64_t nowMs) {
    advanceTo(nowMs);
    if (data == nullptr) {
        return;
    }
    // One byte at a time, so that nothing after the request that pulls the plug is handled.
    for (size_t i = 0; i < size && !hangupPending_; ++i) {
        device_.feed(data + i, 1, *this);
    }
}

void SimulatedController::onRequest(const uint8_t* frame, size_t size) {
    ++requests_;
    traceBytes("host ->", frame, size, nullptr);
    if (faults_.hangupAfter >= 0 && requests_ >= static_cast<uint64_t>(faults_.hangupAfter)) {
        hangupPending_ = true;
    }
}

void SimulatedController::onReply(uint8_t requestCode, const uint8_t* frame, size_t size) {
    if (faults_.silent || faults_.noReply[requestCode]) {
        traceBytes("kz2  x ", frame, size, faults_.silent ? "withheld: silent" : "withheld");
        return;
    }
    if (count_ == kReplySlots) {
        ++dropped_;
        traceBytes("kz2  x ", frame, size, "dropped: line busy");
        return;
    }
    Pending& out = ring_[(head_ + count_) % kReplySlots];
    out = Pending{};
    size_t at = 0;
    if (faults_.garbage) {
        const size_t noise = 1 + random() % kMaxGarbage;
        for (size_t i = 0; i < noise; ++i) {
            auto b = static_cast<uint8_t>(random());
            // The host takes any 0x55 for the start of a reply.
            if (b == 0x55) {
                b = 0x54;
            }
            out.bytes[at++] = b;
        }
        traceBytes("noise <-", out.bytes.data(), at, nullptr);
    }
    if (size > kMaxReplyFrame) {
        size = kMaxReplyFrame;
    }
    std::memcpy(out.bytes.data() + at, frame, size);
    const char* note = nullptr;
    if (faults_.truncate[requestCode] && size > 2) {
        // Keep half of the payload (at least the reply code) and say so in the length byte.
        const size_t payload = size - 2;
        const size_t kept = payload / 2 > 0 ? payload / 2 : 1;
        out.bytes[at + 1] = static_cast<uint8_t>(kept);
        size = kept + 2;
        note = "truncated";
    }
    traceBytes("kz2  <-", out.bytes.data() + at, size, note);
    out.size = static_cast<uint16_t>(at + size);
    out.split = faults_.split;
    out.dueMs = nowMs_ + faults_.delayMs;
    ++count_;
}

bool SimulatedController::onStore(const ConfigImage& stored) {
    return !storeHandler_ || storeHandler_(stored);
}

void SimulatedController::onIgnored(uint8_t requestCode) {
    traceBytes("kz2  x ", &requestCode, 1, "request not understood: no reply");
}

std::span<const uint8_t> SimulatedController::due(uint64_t nowMs) const {
    if (count_ == 0) {
        return {};
    }
    const Pending& p = ring_[head_];
    if (p.dueMs > nowMs) {
        return {};
    }
    const size_t left = static_cast<size_t>(p.size - p.sent);
    return {p.bytes.data() + p.sent, p.split ? 1 : left};
}

void SimulatedController::consumed(size_t count, uint64_t nowMs) {
    if (count_ == 0 || count == 0) {
        return;
    }
    Pending& p = ring_[head_];
    const size_t left = static_cast<size_t>(p.size - p.sent);
    if (count > left) {
        count = left;
    }
    p.sent = static_cast<uint16_t>(p.sent + count);
    if (p.sent >= p.size) {
        head_ = (head_ + 1) % kReplySlots;
        --count_;
        return;
    }
    if (p.split) {
        p.dueMs = nowMs + 1 + random() % 2;
    }
}

bool SimulatedController::nextDue(uint64_t& dueMs) const {
    if (count_ == 0) {
        return false;
    }
    dueMs = ring_[head_].dueMs;
    return true;
}

void SimulatedController::traceBytes(const char* what, const uint8_t* bytes, size_t size,
                                     const char* note) {
    if (trace_ == nullptr) {
        return;
    }
    // Built whole in one buffer and written with one call, so lines never interleave.
    char line[64 + 3 * (kMaxGarbage + kMaxReplyFrame + kMaxRequestPayload)];
    const uint64_t t = nowMs_ - startMs_;
    int at = std::snprintf(line, sizeof line, "[%6llu.%03llu] %s",
                           static_cast<unsigned long long>(t / 1000),
                           static_cast<unsigned long long>(t % 1000), what);
    static const char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < size && at > 0 && static_cast<size_t>(at) + 4 < sizeof line; ++i) {
        line[at++] = ' ';
        line[at++] = kHex[bytes[i] >> 4];
        line[at++] = kHex[bytes[i] & 0x0F];
    }
    if (at < 0) {
        return;
    }
    const size_t used = static_cast<size_t>(at) < sizeof line ? static_cast<size_t>(at) : 0;
    std::snprintf(line + used, sizeof line - used, "%s%s%s\n", note != nullptr ? "  (" : "",
                  note != nullptr ? note : "", note != nullptr ? ")" : "");
    std::fputs(line, trace_);
    std::fflush(trace_);
}

}  // namespace vornic::sim
