// TelescopeControl: the command pipe, the worker loop and dispatcher, and the serial transport.
//
// Operations. Every iTelescopeControl call builds one WorkerMessage on its stack and writes it into
// the command pipe under the pipe-write lock; that is all it does. Nothing on this path allocates.
//
// Worker. The worker thread takes bytes out of the pipe (20 at a time) into its inbox and feeds
// them one by one to the message reassembler; each complete message is dispatched before the next
// byte is fed. The dispatcher handles connect and disconnect itself and hands ticks, received bytes
// and the other operations to ControllerLink. The worker never writes into the pipe.
//
// Serial reader. While a port is open a reader thread reads it (up to 128 bytes at a time) and
// forwards every run into the pipe as serial-data messages of at most 31 bytes, one hold of the
// pipe-write lock per message. It ends when closePort signals the port's stop.
//
// Closing without deadlock. closePort runs on the worker and must wait for the reader to end before
// the port may be closed. But the worker is also the pipe's only reader: a reader thread blocked in
// a pipe write because the pipe is full (a controller that streams bytes, the worker busy for a
// while) would wait for the worker while the worker waits for it. So once told to stop, the reader
// forwards nothing more: it gives up waiting for the pipe-write lock (built so that a stop can end
// the wait) and gives up a pipe write that waits for room. Its bytes would be dropped anyway, since
// serial data is not handled once the port is closed.

#include "controller/TelescopeControl.h"

#include <mutex>

#include "platform/Process.h"
#include "text/Text.h"

namespace vornic {
namespace {

constexpr size_t kReaderBufferSize = 128;
constexpr size_t kPipeNameSize = 256;
constexpr size_t kDevicePathSize = 512;

uint32_t readLe32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

}  // namespace

uint32_t buildPipeName(char* buffer, uint32_t size, uint32_t processId) {
    uint32_t end = appendText(buffer, size, 0, "\\\\.\\Pipe\\kestrova_vornic24_");
    end = appendHex8(buffer, size, end, processId);
    return end;
}

TelescopeControl::TelescopeControl(TelescopeListener& listener,
                                   std::unique_ptr<platform::SerialPort> port,
                                   const platform::PortTable& ports)
    : TelescopeControl(listener, std::move(port), ports, Options{}) {}

TelescopeControl::TelescopeControl(TelescopeListener& listener,
                                   std::unique_ptr<platform::SerialPort> port,
                                   const platform::PortTable& ports, Options options)
    : listener_(listener),
      ports_(ports),
      options_(std::move(options)),
      port_(std::move(port)),
      link_(*this, listener) {
    if (options_.pipe) {
        pipe_ = std::move(options_.pipe);
    } else {
        char name[kPipeNameSize];
        buildPipeName(name, sizeof name, platform::currentProcessId());
        pipe_ = platform::makeCommandPipe(name);
    }
    if (!port_) {
        port_ = platform::makeSerialPort();
    }
    // Last: from here on the worker may touch every field.
    if (!workerThread_.start([this] { workerLoop(); })) {
        // Nobody would ever read the pipe, and a writer would block once it is full: without a
        // worker every operation is dropped, as after shutdown.
        shutDown_.store(true);
    }
}

TelescopeControl::~TelescopeControl() {
    shutdown();
}

// ---- Operations (any thread) ----

void TelescopeControl::writeMessage(const WorkerMessageBuffer& message) {
    if (message.size == 0 || shutDown_.load()) {
        return;
    }
    std::lock_guard lock(pipeWriteLock_);
    // A failed write (only a closed pipe refuses) is lost, as the operation's effect would be.
    (void)pipe_->write(message.bytes, message.size);
}

void TelescopeControl::onHeartBeat() {
    if (shutDown_.load()) {
        return;
    }
    // A tick the link would do nothing with is not worth waking the worker for. With the worker
    // waiting on an empty pipe, the state it published before waiting is the state this tick
    // would meet, and holding the pipe-write lock keeps any other message from getting in first.
    std::lock_guard lock(pipeWriteLock_);
    if (pipe_->readerWaitingOnEmpty() && !ticksWanted_.load(std::memory_order_acquire)) {
        return;
    }
    const WorkerMessageBuffer tick = message::heartbeat();
    (void)pipe_->write(tick.bytes, tick.size);
}

void TelescopeControl::connect(uint32_t portNumber, uint32_t baudRate) {
    writeMessage(message::connect(portNumber, baudRate));
}

void TelescopeControl::disconnect() {
    writeMessage(message::disconnect());
}

void TelescopeControl::startMove(uint32_t direction, uint32_t speedIndex) {
    writeMessage(message::startMove(direction, speedIndex));
}

void TelescopeControl::stopMove(uint32_t direction) {
    writeMessage(message::stopMove(direction));
}

void TelescopeControl::setTracking(uint32_t on) {
    writeMessage(message::setTracking(on));
}

void TelescopeControl::setExp(uint32_t on) {
    writeMessage(message::setExp(on));
}

void TelescopeControl::sendCode20() {
    writeMessage(message::sendCode20());
}

void TelescopeControl::storeSettings() {
    writeMessage(message::storeSettings());
}

void TelescopeControl::sendCode22() {
    writeMessage(message::sendCode22());
}

void TelescopeControl::reloadDefaults() {
    writeMessage(message::reloadDefaults());
}

void TelescopeControl::setGearRatios(uint32_t ra, uint32_t de) {
    writeMessage(message::setGearRatios(ra, de));
}

void TelescopeControl::setReverseFlags(uint32_t rotation, uint32_t autoguiding,
                                       uint32_t limitSwitches) {
    writeMessage(message::setReverseFlags(rotation, autoguiding, limitSwitches));
}

void TelescopeControl::setMotorCurrent(uint32_t selector, uint32_t milliAmps) {
    writeMessage(message::setMotorCurrent(selector, milliAmps));
}

void TelescopeControl::setDecay(uint32_t selector, uint32_t decay) {
    writeMessage(message::setDecay(selector, decay));
}

void TelescopeControl::setMaxSpeeds(uint32_t ra, uint32_t de) {
    writeMessage(message::setMaxSpeeds(ra, de));
}

void TelescopeControl::setAccelerations(uint32_t ra, uint32_t de) {
    writeMessage(message::setAccelerations(ra, de));
}

void TelescopeControl::setDecelerations(uint32_t ra, uint32_t de) {
    writeMessage(message::setDecelerations(ra, de));
}

// Controllers below level 3 have no overtone compensation: nothing is queued for them.
void TelescopeControl::setOvertone(uint32_t axisMask, int32_t value) {
    if (featureLevel() < 3) {
        return;
    }
    writeMessage(message::setOvertone(axisMask, value));
}

void TelescopeControl::setCurrentBoost(uint32_t axisMask, uint32_t first, uint32_t second) {
    if (featureLevel() < 3) {
        return;
    }
    writeMessage(message::setCurrentBoost(axisMask, first, second));
}

void TelescopeControl::setGuidingRates(uint32_t ra, uint32_t de) {
    writeMessage(message::setGuidingRates(ra, de));
}

void TelescopeControl::setPositionPair(uint32_t first, uint32_t second) {
    writeMessage(message::setPositionPair(first, second));
}

// The record is too large for a message: it waits in pendingSite_ for the worker. The state lock
// is released before the pipe write, so the two locks are never held together.
void TelescopeControl::applySiteSettings(const SiteSettings& settings) {
    if (shutDown_.load()) {
        return;
    }
    {
        std::lock_guard lock(stateLock_);
        pendingSite_ = settings;
    }
    writeMessage(message::applySiteSettings());
}

void TelescopeControl::measureVoltage() {
    writeMessage(message::measureVoltage());
}

void TelescopeControl::initScope(uint32_t positionCode) {
    writeMessage(message::initScope(positionCode));
}

void TelescopeControl::defineParkPosition() {
    writeMessage(message::defineParkPosition());
}

// ---- Shutdown and queries ----

void TelescopeControl::shutdown() {
    // From here no operation writes and the reader forwards nothing more, so the pipe drains: the
    // worker handles what is already queued and then sees the stop.
    shutDown_.store(true);
    pipeWriteLock_.wake();
    pipe_->signalStop();
    if (workerThread_.isCurrent()) {
        // Asked from a listener call: the worker cannot wait for its own end. It ends once this
        // dispatch returns; the destructor, on another thread, does the rest.
        return;
    }
    std::lock_guard guard(shutdownLock_);
    if (shutdownDone_) {
        return;
    }
    shutdownDone_ = true;
    while (!workerThread_.join(platform::kWaitForever)) {
    }
    // Frees any writer still blocked on a full pipe.
    pipe_->close();
    // Only now, with the worker gone, may this thread use the port (and the link).
    if (portOpen_ || readerThread_.held()) {
        closeLink();
    }
}

platform::OpenResult TelescopeControl::lastOpenError() const {
    std::lock_guard lock(openErrorLock_);
    return lastOpenError_;
}

// ---- LinkPort (worker thread) ----

bool TelescopeControl::writeBytes(const uint8_t* bytes, size_t count) {
    return port_->write(bytes, count, options_.writeTimeoutMs);
}

SiteSettings TelescopeControl::pendingSiteSettings() {
    std::lock_guard lock(stateLock_);
    return pendingSite_;
}

// ---- Worker thread ----

void TelescopeControl::workerLoop() {
    for (;;) {
        if (inboxBegin_ == inboxEnd_) {
            inboxBegin_ = 0;
            inboxEnd_ = 0;
            if (readPipeIntoInbox() == 0) {
                return;  // stopped, and nothing is left in the pipe
            }
        }
        const uint8_t byte = inbox_[inboxBegin_++];
        if (messages_.feed(byte)) {
            dispatch(messages_.message(), messages_.messageLength());
            publishFeatureLevel();
        }
    }
}

// Reads up to 20 bytes from the pipe into the (empty) inbox. Returns the count; 0 once the pipe
// is stopped and empty.
size_t TelescopeControl::readPipeIntoInbox() {
    ticksWanted_.store(portOpen_ && link_.wantsTicks(), std::memory_order_release);
    const size_t count = pipe_->read(inbox_, kPipeReadSize);
    inboxEnd_ = count <= kPipeReadSize ? count : kPipeReadSize;
    return inboxEnd_;
}

void TelescopeControl::dispatch(const uint8_t* message, size_t length) {
    if (length == 0) {
        return;
    }
    const uint8_t header = message[0];
    const uint8_t kind = (header >> 5) & 0x03;
    const size_t n = header & 0x1F;
    if (length < n + 1) {
        return;  // cannot happen with the reassembler; never read past what it holds
    }
    switch (kind) {
        case kMessageHeartbeat:
            if (portOpen_) {
                applyResult(link_.tickHandler());
            }
            return;
        case kMessageSerialData:
            if (portOpen_ && n > 0) {
                applyResult(link_.takeReplyBytes(message + 1, n));
            }
            return;
        case kMessageLineLost:
            // Only the reader of the open connection speaks for it; a word from the reader of an
            // earlier one, still queued behind a disconnect and a new connect, is stale.
            if (portOpen_ && n == 1 && message[1] == connection_) {
                closeLink();
                listener_.onStatus(status::kConnectionLost);
            }
            return;
        case kMessageOperation:
            break;
        default:
            return;
    }
    if (n == 0) {
        return;  // an operation message without an operation code
    }
    const uint8_t code = message[1];
    if (code == op::kConnect && n == 6) {
        dispatchConnect(message);
        return;
    }
    if (code == op::kDisconnect) {
        if (!portOpen_) {
            listener_.onStatus(status::kNotConnectedYet);
            return;
        }
        closeLink();
        listener_.onStatus(status::kConnectionClosed);
        return;
    }
    if (!handshakeDone_) {
        listener_.onStatus(status::kNotConnectedYet);
        return;
    }
    applyResult(link_.executeOperation(message, length, handshakeDone_));
}

void TelescopeControl::dispatchConnect(const uint8_t* message) {
    if (portOpen_) {
        // The open connection, and a handshake still running on it, stay as they are.
        listener_.onStatus(status::kAlreadyConnected);
        return;
    }
    listener_.onStatus(status::kOpeningPort);
    if (!openPort(message[2], readLe32(message + 3))) {
        listener_.onStatus(status::kCannotOpenPort);
        return;
    }
    portOpen_ = true;
    handshakeDone_ = false;
    ++connection_;
    port_->resetStop();
    startReader();
    listener_.onStatus(status::kConnecting);
    // Gives the controller time to settle after the port opened.
    if (options_.connectPauseMs > 0) {
        platform::sleepFor(options_.connectPauseMs);
    }
    applyResult(link_.handshakeStart());
}

void TelescopeControl::applyResult(int result) {
    if (result == kResultHandshakeDone) {
        handshakeDone_ = true;
    } else if (result == kResultLinkFailed) {
        // Whoever returned the failure has reported why; closing says nothing more.
        if (portOpen_) {
            closeLink();
        }
    }
}

void TelescopeControl::publishFeatureLevel() {
    featureLevel_.store(link_.settings().featureLevel, std::memory_order_relaxed);
}

// ---- Serial transport ----

// The connect message carries the port number's low byte, so 0 stands for port 256.
bool TelescopeControl::openPort(uint32_t portNumber, uint32_t baudRate) {
    const uint32_t number = portNumber == 0 ? platform::PortTable::kMaxPort : portNumber;
    char path[kDevicePathSize];
    platform::OpenResult result;
    if (ports_.pathFor(number, path, sizeof path)) {
        result = port_->open(path, baudRate);
    } else {
        result.error = platform::OpenError::NoSuchDevice;
        uint32_t end = appendText(result.detail, sizeof result.detail, 0, "no device for port ");
        appendDecimal(result.detail, sizeof result.detail, end, static_cast<int32_t>(number));
    }
    if (!result.ok()) {
        std::lock_guard lock(openErrorLock_);
        lastOpenError_ = result;
        return false;
    }
    return true;
}

void TelescopeControl::startReader() {
    readerStop_.store(false);
    // Without a thread nothing is forwarded and the handshake runs into its time-out, which
    // closes the port again.
    (void)readerThread_.start([this, connection = connection_] { readerLoop(connection); });
}

void TelescopeControl::readerLoop(uint8_t connection) {
    uint8_t buffer[kReaderBufferSize];
    while (!readerStop_.load() && !shutDown_.load()) {
        const platform::ReadResult result = port_->read(buffer, sizeof buffer);
        if (result.status == platform::ReadStatus::Data) {
            const size_t count = result.count <= sizeof buffer ? result.count : sizeof buffer;
            if (!forwardSerialData(buffer, count)) {
                break;  // told to stop, or the pipe is closed
            }
            continue;
        }
        if (result.status == platform::ReadStatus::Failed) {
            // The line is gone (an adapter pulled out). Tell the worker, which closes the port,
            // and do not spin: wait until closePort says stop.
            const WorkerMessageBuffer lost = message::lineLost(connection);
            if (lockPipeForReader()) {
                (void)pipe_->write(lost.bytes, lost.size, readerStop_);
                pipeWriteLock_.unlock();
            }
            port_->waitForStop();
        }
        break;
    }
}

// Takes the pipe-write lock for the reader; gives up (false) once the reader is told to stop.
bool TelescopeControl::lockPipeForReader() {
    return pipeWriteLock_.lockUnless(readerStop_, shutDown_);
}

// A critical section cannot give up a wait, so the lock is a flag that the critical section
// guards, waited for on a condition variable.
void TelescopeControl::PipeWriteLock::lock() {
    std::lock_guard guard(guard_);
    while (held_) {
        changed_.wait(guard_, platform::kWaitForever);
    }
    held_ = true;
}

void TelescopeControl::PipeWriteLock::unlock() {
    {
        std::lock_guard guard(guard_);
        held_ = false;
    }
    changed_.notifyAll();
}

bool TelescopeControl::PipeWriteLock::lockUnless(const std::atomic<bool>& first,
                                                 const std::atomic<bool>& second) {
    std::lock_guard guard(guard_);
    while (held_ && !first.load() && !second.load()) {
        changed_.wait(guard_, platform::kWaitForever);
    }
    if (first.load() || second.load()) {
        return false;
    }
    held_ = true;
    return true;
}

// Taking the guard orders the flag the caller has just set before the waiter's next look at it.
void TelescopeControl::PipeWriteLock::wake() {
    { std::lock_guard guard(guard_); }
    changed_.notifyAll();
}

// Cuts a run of received bytes into serial-data messages of at most 31 bytes, in order. Returns
// false when forwarding has to end (stop, or a closed pipe).
bool TelescopeControl::forwardSerialData(const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        const WorkerMessageBuffer message = message::serialData(bytes + done, count - done);
        if (!lockPipeForReader()) {
            return false;
        }
        // Once the port is closing these bytes are worthless: give up waiting for room rather
        // than keep the worker, the pipe's only reader, waiting in closePort for this thread.
        const bool written = pipe_->write(message.bytes, message.size, readerStop_);
        pipeWriteLock_.unlock();
        if (!written) {
            return false;
        }
        done += message.size - 1;
    }
    return true;
}

void TelescopeControl::closeLink() {
    if (portOpen_) {
        // Written before the reader stops and the port drains, so the stop is the last frame
        // out. Bounded by the write time-out, as every request is.
        (void)link_.stopHandMove();
    }
    closePort();
}

void TelescopeControl::closePort() {
    readerStop_.store(true);
    pipeWriteLock_.wake();
    pipe_->wakeWriters();
    port_->signalStop();
    if (!readerThread_.join(options_.readerStopTimeoutMs)) {
        // The port layer has failed to end a read on the stop signal. The reader still uses the
        // port and this object, so it can be neither abandoned nor its port closed under it:
        // wait for it.
        while (!readerThread_.join(platform::kWaitForever)) {
        }
    }
    if (portOpen_) {
        port_->close();
    }
    portOpen_ = false;
    handshakeDone_ = false;
}

}  // namespace vornic
