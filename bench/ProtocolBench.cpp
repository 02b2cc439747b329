// Throughput of the worker's receive path and of a whole handshake through the protocol engine.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "controller/ControllerLink.h"
#include "controller/ReplyReassembler.h"
#include "controller/WorkerMessage.h"

namespace vornic {
namespace {

// A stream of settings-block sized frames with a little noise between them.
std::vector<uint8_t> replyStream(size_t frames) {
    std::vector<uint8_t> out;
    for (size_t f = 0; f < frames; ++f) {
        out.push_back(0x13);
        out.push_back(0x55);
        out.push_back(58);
        for (uint8_t i = 0; i < 58; ++i) {
            out.push_back(static_cast<uint8_t>(i * 7 + f));
        }
    }
    return out;
}

void BM_ReplyReassembler(benchmark::State& state) {
    const std::vector<uint8_t> stream = replyStream(256);
    size_t frames = 0;
    for (auto _ : state) {
        ReplyReassembler r;
        for (uint8_t b : stream) {
            frames += r.feed(b) ? 1 : 0;
        }
        benchmark::DoNotOptimize(frames);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_ReplyReassembler);

void BM_MessageReassembler(benchmark::State& state) {
    std::vector<uint8_t> stream;
    for (int i = 0; i < 256; ++i) {
        const WorkerMessageBuffer m =
            (i % 3 == 0) ? message::heartbeat() : message::setGearRatios(172800u + i, 164000u);
        stream.insert(stream.end(), m.bytes, m.bytes + m.size);
    }
    size_t messages = 0;
    for (auto _ : state) {
        MessageReassembler r;
        for (uint8_t b : stream) {
            messages += r.feed(b) ? 1 : 0;
        }
        benchmark::DoNotOptimize(messages);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_MessageReassembler);

class NullPort final : public LinkPort {
  public:
    bool writeBytes(const uint8_t* bytes, size_t count) override {
        benchmark::DoNotOptimize(bytes);
        written += count;
        return true;
    }
    SiteSettings pendingSiteSettings() override { return {}; }
    size_t written = 0;
};

class NullListener final : public TelescopeListener {
  public:
    void onStatus(StatusCode) override {}
    void onSettings(const MountSettings& s, ReportKind) override { benchmark::DoNotOptimize(&s); }
    void onVoltage(uint32_t) override {}
};

std::vector<uint8_t> frame(const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out(payload.size() + 2);
    out[0] = 0x55;
    out[1] = static_cast<uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), out.begin() + 2);
    return out;
}

// A whole level-6 handshake: identity, port type, firmware, axis and settings blocks, meridian
// flip and site, with the two-tick pauses in between.
void BM_HandshakeLevelSix(benchmark::State& state) {
    const std::vector<uint8_t> identity = frame({0x01, 0x00, 0x00, 0x01, 0x00});
    const std::vector<uint8_t> portType = frame({0x03, 0x02});
    const std::vector<uint8_t> firmware = frame({0x02, 0x0A, 0x00, 0x00, 0x01});
    const std::vector<uint8_t> axis = frame(std::vector<uint8_t>(29, 0x14));
    const std::vector<uint8_t> settings = frame(std::vector<uint8_t>(58, 0x15));
    const std::vector<uint8_t> flip = frame({0x3D, 0, 1, 2, 10});
    const std::vector<uint8_t> site = frame({0x64, 1, 2, 3, 4, 5, 6, 7, 8});
    NullPort port;
    NullListener listener;
    for (auto _ : state) {
        ControllerLink link(port, listener);
        (void)link.handshakeStart();
        for (const auto* reply : {&identity, &portType, &firmware, &axis}) {
            (void)link.takeReplyBytes(reply->data(), reply->size());
            (void)link.tickHandler();
            (void)link.tickHandler();
        }
        (void)link.takeReplyBytes(settings.data(), settings.size());
        (void)link.takeReplyBytes(flip.data(), flip.size());
        benchmark::DoNotOptimize(link.takeReplyBytes(site.data(), site.size()));
    }
}
BENCHMARK(BM_HandshakeLevelSix);

}  // namespace
}  // namespace vornic
