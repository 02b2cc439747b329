#include "support/RecordingPort.h"

namespace vornic::test {

std::vector<Bytes> cutFrames(const Bytes& stream, uint8_t startByte) {
    std::vector<Bytes> out;
    size_t at = 0;
    while (at < stream.size()) {
        const bool framed = stream[at] == startByte && at + 1 < stream.size() &&
                            at + 2 + stream[at + 1] <= stream.size();
        const size_t end = framed ? at + 2 + stream[at + 1] : stream.size();
        out.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                         stream.begin() + static_cast<std::ptrdiff_t>(end));
        at = end;
    }
    return out;
}

void Wire::written(const uint8_t* bytes, size_t count) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sent_.insert(sent_.end(), bytes, bytes + count);
    }
    changed_.notify_all();
}

void Wire::received(const Bytes& bytes) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.insert(received_.end(), bytes.begin(), bytes.end());
    }
    changed_.notify_all();
}

void Wire::opened() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++opens_;
}

void Wire::closed() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++closes_;
    closedOn_ = std::this_thread::get_id();
}

std::vector<Bytes> Wire::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cutFrames(sent_, 0xAA);
}

std::vector<Bytes> Wire::requestsFrom(size_t first) const {
    std::vector<Bytes> all = requests();
    return first < all.size()
               ? std::vector<Bytes>(all.begin() + static_cast<std::ptrdiff_t>(first), all.end())
               : std::vector<Bytes>{};
}

Wire::Mark Wire::mark() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {cutFrames(sent_, 0xAA).size(), cutFrames(received_, 0x55).size()};
}

bool Wire::waitFor(size_t requests, size_t replies, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_until(lock, std::chrono::steady_clock::now() + timeout, [&] {
        return cutFrames(sent_, 0xAA).size() >= requests &&
               cutFrames(received_, 0x55).size() >= replies;
    });
}

int Wire::opens() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opens_;
}

int Wire::closes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closes_;
}

std::thread::id Wire::closedOn() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closedOn_;
}

platform::OpenResult RecordingPort::open(const char* devicePath, uint32_t baudRate) {
    platform::OpenResult result = ForwardingSerialPort::open(devicePath, baudRate);
    if (result.ok()) {
        wire_->opened();
    }
    return result;
}

bool RecordingPort::write(const uint8_t* bytes, size_t count, unsigned timeoutMs) {
    wire_->written(bytes, count);
    return ForwardingSerialPort::write(bytes, count, timeoutMs);
}

platform::ReadResult RecordingPort::read(uint8_t* buffer, size_t max) {
    // The reader comes back for more only once it has put what it read last into the command
    // pipe; only then does a waiting test learn of those bytes, so that the worker is sure to see
    // them before the test goes on.
    if (!lastRead_.empty()) {
        wire_->received(lastRead_);
        lastRead_.clear();
    }
    const platform::ReadResult result = ForwardingSerialPort::read(buffer, max);
    if (result.status == platform::ReadStatus::Data && result.count <= max) {
        lastRead_.assign(buffer, buffer + result.count);
    }
    return result;
}

void RecordingPort::close() {
    wire_->closed();
    ForwardingSerialPort::close();
}

Frame::operator Bytes() const {
    Bytes out{0xAA, static_cast<uint8_t>(bytes_.size())};
    out.insert(out.end(), bytes_.begin(), bytes_.end());
    return out;
}

}  // namespace vornic::test
