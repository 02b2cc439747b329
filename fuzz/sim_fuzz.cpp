// Random request bytes into the simulated controller, with and without faults. The first bytes
// pick the firmware level, the faults and how the rest is cut into chunks; every reply that comes
// out must be a whole, correctly announced frame. A first byte of 0xF0 or more sends the rest to
// the state-file reader instead.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "sim/Faults.h"
#include "sim/Kz2Device.h"
#include "sim/SimulatedController.h"
#include "sim/StateFile.h"

namespace {

using namespace vornic::sim;

class CheckingSink : public DeviceSink {
  public:
    void onRequest(const uint8_t* frame, size_t size) override {
        if (size < 3 || frame[0] != 0xAA || static_cast<size_t>(frame[1]) + 2 != size) {
            std::abort();
        }
    }
    void onReply(uint8_t, const uint8_t* frame, size_t size) override {
        if (size < 2 || size > kMaxReplyFrame || frame[0] != 0x55 ||
            static_cast<size_t>(frame[1]) + 2 != size) {
            std::abort();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    if (data[0] >= 0xF0) {
        // The rest is a state file: whatever it holds, a file that loads must save and load
        // again to the same settings.
        // A refused file leaves the image as it was and is explained in one printable line.
        ConfigImage image = factoryImage();
        std::string error;
        const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
        if (stateFromJson(text, image, error)) {
            ConfigImage again;
            if (!stateFromJson(stateToJson(image), again, error) || !(again == image)) {
                std::abort();
            }
        } else if (!vornic::fuzz::printableMessage(error, 600, false) ||
                   !(image == factoryImage())) {
            std::abort();
        }
        return 0;
    }
    DeviceIdentity id;
    (void)identityForLevel(data[0] % 7, id);
    const uint8_t mode = data[1];
    const size_t chunk = 1 + data[2] % 16;
    data += 3;
    size -= 3;

    // The bare device.
    Kz2Device device(id, factoryImage(), factoryImage());
    CheckingSink sink;
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = size - at < chunk ? size - at : chunk;
        device.feed(data + at, n, sink);
        device.advance(data[at] % 4 == 0 ? 300 : data[at] % 7);
    }

    // The same bytes through the fault layer, draining the line as it goes.
    FaultPlan faults;
    faults.garbage = (mode & 1) != 0;
    faults.split = (mode & 2) != 0;
    faults.delayMs = (mode & 4) != 0 ? 3 : 0;
    faults.truncate[0x14] = faults.truncate[0x15] = (mode & 8) != 0;
    faults.noReply[0x01] = (mode & 16) != 0;
    faults.hangupAfter = (mode & 32) != 0 ? (mode >> 6) : -1;
    SimulatedController line(device, faults, mode);
    uint64_t now = 0;
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = size - at < chunk ? size - at : chunk;
        line.receive(data + at, n, now);
        now += data[at] % 5;
        for (auto out = line.due(now); !out.empty(); out = line.due(now)) {
            if (out.size() > kMaxGarbage + kMaxReplyFrame || (faults.split && out.size() != 1)) {
                std::abort();
            }
            // Sometimes the line takes only part of a write.
            line.consumed(out.size() > 1 && (now & 1) != 0 ? out.size() / 2 : out.size(), now);
            ++now;
        }
    }
    return 0;
}
