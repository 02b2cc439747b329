#include "cli/ObservedSerialPort.h"

#include <cstdio>
#include <cstring>

namespace vornic::cli {

namespace {
constexpr uint8_t kReplyStart = 0x55;
}

ObservedSerialPort::ObservedSerialPort(std::unique_ptr<platform::SerialPort> inner,
                                       LineWatcher& watcher, bool trace)
    : ForwardingSerialPort(std::move(inner)),
      watcher_(watcher),
      trace_(trace),
      start_(std::chrono::steady_clock::now()) {}

void ObservedSerialPort::formatTraceLine(char* out, size_t size, double seconds, const char* arrow,
                                         const uint8_t* bytes, size_t count) {
    if (size == 0) {
        return;
    }
    int used = std::snprintf(out, size, "[%9.3f] %s", seconds, arrow);
    if (used < 0) {
        out[0] = '\0';
        return;
    }
    size_t position = static_cast<size_t>(used) < size ? static_cast<size_t>(used) : size - 1;
    for (size_t i = 0; i < count && position + 4 < size; ++i) {
        used = std::snprintf(out + position, size - position, " %02X", bytes[i]);
        if (used < 0) {
            break;
        }
        position += static_cast<size_t>(used);
    }
    if (position + 1 < size) {
        out[position++] = '\n';
    }
    out[position < size ? position : size - 1] = '\0';
}

void ObservedSerialPort::traceLine(const char* arrow, const uint8_t* bytes, size_t count) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    // One frame of 257 bytes takes 771 characters; a line is written in one call so that lines of
    // the two threads never mix.
    char line[1024];
    formatTraceLine(line, sizeof line, seconds, arrow, bytes, count);
    std::fputs(line, stderr);
}

void ObservedSerialPort::traceText(const char* text) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char line[512];
    std::snprintf(line, sizeof line, "[%9.3f] %s\n", seconds, text);
    std::fputs(line, stderr);
}

void ObservedSerialPort::flushNoise() {
    if (noiseLength_ > 0) {
        traceLine("<- noise", noise_, noiseLength_);
        noiseLength_ = 0;
    }
}

void ObservedSerialPort::traceReceived(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (cutState_) {
            case CutState::Hunting:
                if (b == kReplyStart) {
                    flushNoise();
                    frame_[0] = b;
                    frameLength_ = 1;
                    cutState_ = CutState::Length;
                } else {
                    noise_[noiseLength_++] = b;
                    if (noiseLength_ == sizeof noise_) {
                        flushNoise();
                    }
                }
                break;
            case CutState::Length:
                frame_[1] = b;
                frameLength_ = 2;
                frameExpected_ = b;
                if (b == 0) {
                    traceLine("<-", frame_, frameLength_);
                    cutState_ = CutState::Hunting;
                } else {
                    cutState_ = CutState::Payload;
                }
                break;
            case CutState::Payload:
                frame_[frameLength_++] = b;
                if (frameLength_ == frameExpected_ + 2) {
                    traceLine("<-", frame_, frameLength_);
                    cutState_ = CutState::Hunting;
                }
                break;
        }
    }
    flushNoise();
}

platform::OpenResult ObservedSerialPort::open(const char* devicePath, uint32_t baudRate) {
    platform::OpenResult result = ForwardingSerialPort::open(devicePath, baudRate);
    if (trace_) {
        char text[400];
        if (result.ok()) {
            std::snprintf(text, sizeof text, "opened %s at %u baud", devicePath, baudRate);
        } else {
            std::snprintf(text, sizeof text, "cannot open %s: %s", devicePath,
                          platform::openErrorText(result.error));
        }
        traceText(text);
    }
    cutState_ = CutState::Hunting;
    noiseLength_ = 0;
    return result;
}

bool ObservedSerialPort::write(const uint8_t* bytes, size_t count, unsigned timeoutMs) {
    if (trace_) {
        traceLine("->", bytes, count);
    }
    const bool ok = ForwardingSerialPort::write(bytes, count, timeoutMs);
    if (trace_ && !ok) {
        traceText("write failed or timed out");
    }
    return ok;
}

platform::ReadResult ObservedSerialPort::read(uint8_t* buffer, size_t max) {
    const platform::ReadResult result = ForwardingSerialPort::read(buffer, max);
    if (result.status == platform::ReadStatus::Data) {
        if (trace_) {
            traceReceived(buffer, result.count < max ? result.count : max);
        }
    } else if (result.status == platform::ReadStatus::Failed) {
        if (trace_) {
            traceText("the serial line failed (hang-up)");
        }
        watcher_.lineFailed();
    }
    return result;
}

void ObservedSerialPort::close() {
    if (trace_) {
        if (cutState_ != CutState::Hunting && frameLength_ > 0) {
            traceLine("<- incomplete", frame_, frameLength_);
        }
        cutState_ = CutState::Hunting;
        traceText("closed");
    }
    ForwardingSerialPort::close();
}

}  // namespace vornic::cli
