// Drives a ControllerLink with a script read from the input: reply bytes, well-formed or cut-off
// reply frames, ticks, operation messages of any content (truncated ones included), site settings
// and fresh handshakes. After every step the link must be in a known state and every frame it
// wrote must be a whole request of a known shape.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "controller/ControllerLink.h"

namespace {

using namespace vornic;

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "reply_fuzz: %s\n", what);
        std::abort();
    }
}

// Request code -> N for every request the link may write.
uint8_t allowedLength(uint8_t code) {
    switch (code) {
        case 0x01:
        case 0x02:
        case 0x03:
        case 0x14:
        case 0x15:
        case 0x3D:
        case 0x64:
        case 0x0B:
            return 1;
        case 0x0D:
        case 0x0C:
            return 2;
        case 0x1B:
        case 0x21:
        case 0x24:
        case 0x28:
        case 0x2B:
        case 0x69:
            return 3;
        case 0x34:
        case 0x3B:
        case 0x1D:
            return 4;
        case 0x33:
        case 0x37:
        case 0x38:
        case 0x36:
        case 0x6A:
            return 5;
        case 0x3E:
        case 0x32:
            return 6;
        case 0x23:
        case 0x3C:
        case 0x35:
            return 7;
        case 0x65:
            return 10;
        case 0x1A:
        case 0x20:
            return 11;
        default:
            return 0;
    }
}

class CheckingPort : public LinkPort {
  public:
    bool writeBytes(const uint8_t* bytes, size_t count) override {
        require(bytes != nullptr, "null frame");
        require(count >= 3 && count <= 13, "frame size");
        require(bytes[0] == 0xAA, "start byte");
        require(bytes[1] + 2u == count, "frame length byte");
        require(allowedLength(bytes[2]) == bytes[1], "unknown request or wrong length");
        return true;
    }
    SiteSettings pendingSiteSettings() override { return pending; }
    SiteSettings pending;
};

class CheckingListener : public TelescopeListener {
  public:
    void onStatus(StatusCode code) override { require(code <= status::kLast, "status code"); }
    void onSettings(const MountSettings& settings, ReportKind kind) override {
        require(kind >= 1 && kind <= 4, "report kind");
        require(settings.featureLevel <= 6, "feature level");
    }
    void onVoltage(uint32_t hundredthsOfVolt) override {
        require(hundredthsOfVolt <= 0xFFFF, "voltage");
    }
};

class Script {
  public:
    Script(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    [[nodiscard]] bool done() const { return position_ >= size_; }
    uint8_t next() { return done() ? 0 : data_[position_++]; }
    // Up to `count` bytes, fewer at the end of the input.
    size_t take(uint8_t* out, size_t count) {
        size_t n = 0;
        while (n < count && !done()) {
            out[n++] = data_[position_++];
        }
        return n;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

void checkLink(const ControllerLink& link) {
    require(link.linkState() <= link::kLast && link.linkState() != 1, "link state");
    require(link.nextState() <= link::kLast, "next state");
    require(link.pierSide() == 6 || link.pierSide() == 7, "pier side");
    require(link.reloadMarker() == 1 || link.reloadMarker() == 2, "reload marker");
    require(link.settings().featureLevel <= 6, "feature level");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckingPort port;
    CheckingListener listener;
    ControllerLink link(port, listener);
    (void)link.handshakeStart();
    Script script(data, size);
    while (!script.done()) {
        const uint8_t command = script.next();
        switch (command % 6) {
            case 0: {
                const int ticks = 1 + script.next() % 40;
                for (int i = 0; i < ticks; ++i) {
                    (void)link.tickHandler();
                }
                break;
            }
            case 1: {
                // Raw bytes, exactly as a serial-data message would carry them.
                uint8_t chunk[31];
                const size_t n = script.take(chunk, 1 + script.next() % 31);
                (void)link.takeReplyBytes(chunk, n);
                break;
            }
            case 2: {
                // An operation message of any length and content; held in a buffer of exactly
                // its own size so that any read past it is caught.
                uint8_t scratch[32];
                const size_t n = script.take(scratch, script.next() % 33);
                auto* message = static_cast<uint8_t*>(std::malloc(n == 0 ? 1 : n));
                require(message != nullptr, "out of memory");
                if (n != 0) {
                    std::memcpy(message, scratch, n);
                }
                (void)link.executeOperation(message, n, (command & 0x80) != 0);
                std::free(message);
                break;
            }
            case 3:
                (void)link.handshakeStart();
                break;
            case 4: {
                uint8_t raw[20] = {};
                (void)script.take(raw, sizeof raw);
                std::memcpy(&port.pending.changeMask, raw, 4);
                std::memcpy(&port.pending.mountType, raw + 4, 4);
                std::memcpy(&port.pending.latitude, raw + 8, 4);
                std::memcpy(&port.pending.longitude, raw + 12, 4);
                std::memcpy(&port.pending.hysteresis, raw + 16, 4);
                break;
            }
            default: {
                // A reply frame whose announced length may not match what follows.
                uint8_t frame[2 + 255];
                frame[0] = 0x55;
                frame[1] = script.next();
                const size_t n = script.take(frame + 2, frame[1]);
                (void)link.takeReplyBytes(frame, n + 2);
                break;
            }
        }
        checkLink(link);
    }
    return 0;
}
