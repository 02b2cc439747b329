#include "support/FakeSerialPort.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace vornic::test {
namespace {

std::chrono::milliseconds ms(unsigned value) {
    return std::chrono::milliseconds(value);
}

}  // namespace

void FakeSerialPort::failNextOpen(platform::OpenError error, int systemError) {
    std::lock_guard lock(mutex_);
    failOpen_ = true;
    openError_ = error;
    openSystemError_ = systemError;
}

void FakeSerialPort::inject(const Bytes& chunk) {
    {
        std::lock_guard lock(mutex_);
        if (!open_) {
            return;
        }
        chunks_.push_back(chunk);
    }
    changed_.notify_all();
}

void FakeSerialPort::hangUp() {
    {
        std::lock_guard lock(mutex_);
        hangUpPending_ = true;
    }
    changed_.notify_all();
}

void FakeSerialPort::setStreaming(bool on, uint8_t fill) {
    {
        std::lock_guard lock(mutex_);
        streaming_ = on;
        fill_ = fill;
    }
    changed_.notify_all();
}

void FakeSerialPort::setResponder(Responder responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

std::vector<FakeSerialPort::Bytes> FakeSerialPort::writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

size_t FakeSerialPort::writeCount() const {
    std::lock_guard lock(mutex_);
    return writes_.size();
}

void FakeSerialPort::clearWrites() {
    std::lock_guard lock(mutex_);
    writes_.clear();
}

bool FakeSerialPort::waitForWrites(size_t count, unsigned timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, ms(timeoutMs), [&] { return writes_.size() >= count; });
}

bool FakeSerialPort::waitForWrite(const Bytes& frame, unsigned timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, ms(timeoutMs), [&] {
        return std::find(writes_.begin(), writes_.end(), frame) != writes_.end();
    });
}

bool FakeSerialPort::waitIdle(unsigned timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, ms(timeoutMs), [&] {
        if (!open_) {
            return true;
        }
        const bool nothingQueued = chunks_.empty() && !hangUpPending_;
        return nothingQueued && (inRead_ > 0 || inWaitForStop_ > 0);
    });
}

bool FakeSerialPort::waitReaderInWaitForStop(unsigned timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, ms(timeoutMs), [&] { return inWaitForStop_ > 0; });
}

std::string FakeSerialPort::lastOpenPath() const {
    std::lock_guard lock(mutex_);
    return lastPath_;
}

uint32_t FakeSerialPort::lastBaudRate() const {
    std::lock_guard lock(mutex_);
    return lastBaud_;
}

int FakeSerialPort::openCount() const {
    std::lock_guard lock(mutex_);
    return openCount_;
}

int FakeSerialPort::closeCount() const {
    std::lock_guard lock(mutex_);
    return closeCount_;
}

size_t FakeSerialPort::readCalls() const {
    std::lock_guard lock(mutex_);
    return readCalls_;
}

bool FakeSerialPort::closedUnderReader() const {
    std::lock_guard lock(mutex_);
    return closedUnderReader_;
}

std::thread::id FakeSerialPort::lastCloseThread() const {
    std::lock_guard lock(mutex_);
    return closeThread_;
}

bool FakeSerialPort::stopSignalled() const {
    std::lock_guard lock(mutex_);
    return stop_;
}

platform::OpenResult FakeSerialPort::open(const char* devicePath, uint32_t baudRate) {
    platform::OpenResult result;
    {
        std::lock_guard lock(mutex_);
        lastPath_ = devicePath != nullptr ? devicePath : "";
        lastBaud_ = baudRate;
        if (failOpen_) {
            failOpen_ = false;
            result.error = openError_;
            result.systemError = openSystemError_;
            std::strncpy(result.detail, "scripted open failure", sizeof result.detail - 1);
        } else if (open_) {
            result.error = platform::OpenError::Busy;
            std::strncpy(result.detail, "already open", sizeof result.detail - 1);
        } else {
            open_ = true;
            ++openCount_;
            chunks_.clear();
            hangUpPending_ = false;
            failed_ = false;
        }
    }
    changed_.notify_all();
    return result;
}

bool FakeSerialPort::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

bool FakeSerialPort::write(const uint8_t* bytes, size_t count, unsigned /*timeoutMs*/) {
    Responder responder;
    Bytes written;
    {
        std::lock_guard lock(mutex_);
        if (!open_ || (bytes == nullptr && count > 0)) {
            return false;
        }
        written.assign(bytes, bytes + count);
        writes_.push_back(written);
        responder = responder_;
    }
    changed_.notify_all();
    if (responder) {
        responder(written);
    }
    return true;
}

platform::ReadResult FakeSerialPort::read(uint8_t* buffer, size_t max) {
    std::unique_lock lock(mutex_);
    ++readCalls_;
    ++inRead_;
    changed_.notify_all();
    changed_.wait(lock, [&] {
        return stop_ || !open_ || failed_ || !chunks_.empty() || hangUpPending_ || streaming_;
    });
    platform::ReadResult result;
    if (stop_) {
        result.status = platform::ReadStatus::Stopped;
    } else if (!open_ || failed_) {
        result.status = platform::ReadStatus::Failed;
    } else if (!chunks_.empty()) {
        Bytes& chunk = chunks_.front();
        const size_t count = std::min(max, chunk.size());
        if (count > 0) {
            std::memcpy(buffer, chunk.data(), count);
        }
        if (count == chunk.size()) {
            chunks_.pop_front();
        } else {
            chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(count));
        }
        result.status = platform::ReadStatus::Data;
        result.count = count;
    } else if (hangUpPending_) {
        hangUpPending_ = false;
        failed_ = true;
        result.status = platform::ReadStatus::Failed;
    } else {
        std::memset(buffer, fill_, max);
        result.status = platform::ReadStatus::Data;
        result.count = max;
    }
    --inRead_;
    lock.unlock();
    changed_.notify_all();
    return result;
}

void FakeSerialPort::waitForStop() {
    std::unique_lock lock(mutex_);
    ++inWaitForStop_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return stop_; });
    --inWaitForStop_;
    lock.unlock();
    changed_.notify_all();
}

void FakeSerialPort::signalStop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
}

void FakeSerialPort::resetStop() {
    std::lock_guard lock(mutex_);
    stop_ = false;
}

void FakeSerialPort::close() {
    {
        std::lock_guard lock(mutex_);
        if (!open_) {
            return;
        }
        if (inRead_ > 0 || inWaitForStop_ > 0) {
            closedUnderReader_ = true;
        }
        open_ = false;
        ++closeCount_;
        closeThread_ = std::this_thread::get_id();
        chunks_.clear();
        hangUpPending_ = false;
    }
    changed_.notify_all();
}

}  // namespace vornic::test
