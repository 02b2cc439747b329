#pragma once
// TelescopeControl: the controller link.
//
// Threads and ownership
//  - Any thread (in practice the UI thread, and the heartbeat thread for onHeartBeat) calls the
//    iTelescopeControl operations. Each only builds one short WorkerMessage on its stack and writes
//    it into the command pipe under the pipe-write lock, then returns.
//  - The worker thread (started by the constructor) is the only one that drives the protocol: it
//    reads the pipe, reassembles messages and dispatches them one after another; it opens and
//    closes the port, starts the serial reader, writes every request frame and calls the
//    TelescopeListener. The protocol state (ControllerLink) therefore needs no lock.
//  - The serial reader thread exists while a port is open; it forwards every run of received
//    bytes into the pipe as serial-data messages of at most 31 bytes.
//  - Locks: pipe-write lock around each pipe write (taken after the HeartBeat lock on the
//    heartbeat path, never the reverse); state lock only around the pending SiteSettings. The two
//    are never held together, and the worker never writes into the pipe, so the pipe always drains.
//  - Threads and locks are the OS's own (platform/Threads.h): CreateThread and critical sections
//    on Windows.
//
// shutdown() (also run by the destructor) stops the worker first and only then closes the port,
// so two threads never use the port at once.
//
// Every way the port closes (disconnect, shutdown, a time-out, a failed write, a lost line) first
// sends the stop of both axes if a hand move was commanded and not stopped: no mount is left
// moving. A line that fails while connected is reported as status 26 (connection lost), a reply
// that does not come as status 25, a request that does not leave as status 27; each closes the
// port.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "controller/Contract.h"
#include "controller/ControllerLink.h"
#include "controller/WorkerMessage.h"
#include "platform/CommandPipe.h"
#include "platform/PortTable.h"
#include "platform/SerialPort.h"
#include "platform/Threads.h"

namespace vornic {

// The command pipe's name: "\\.\Pipe\kestrova_vornic24_" followed by appendHex8 of the process id,
// built into a 256-byte buffer. Returns the length.
uint32_t buildPipeName(char* buffer, uint32_t size, uint32_t processId);

class TelescopeControl final : public iTelescopeControl, private LinkPort {
  public:
    struct Options {
        // Pause between "Connecting..." and the first handshake request, giving the controller
        // time to settle after the port opened.
        unsigned connectPauseMs = 500;
        // How long closePort waits for the serial reader to end while helping it along. A reader
        // still running after that is waited for without limit: it still uses the port and this
        // object, so the port cannot be closed under it nor the reader left behind.
        unsigned readerStopTimeoutMs = 10000;
        // Write time-out of one request frame.
        unsigned writeTimeoutMs = 1000;
        // Replaces the platform's command pipe (tests).
        std::unique_ptr<platform::CommandPipe> pipe;
    };

    TelescopeControl(TelescopeListener& listener, std::unique_ptr<platform::SerialPort> port,
                     const platform::PortTable& ports);
    TelescopeControl(TelescopeListener& listener, std::unique_ptr<platform::SerialPort> port,
                     const platform::PortTable& ports, Options options);
    ~TelescopeControl() override;

    TelescopeControl(const TelescopeControl&) = delete;
    TelescopeControl& operator=(const TelescopeControl&) = delete;

    // iHeartBeatListener
    void onHeartBeat() override;

    // iTelescopeControl
    void connect(uint32_t portNumber, uint32_t baudRate) override;
    void disconnect() override;
    void startMove(uint32_t direction, uint32_t speedIndex) override;
    void stopMove(uint32_t direction) override;
    void setTracking(uint32_t on) override;
    void setExp(uint32_t on) override;
    void sendCode20() override;
    void storeSettings() override;
    void sendCode22() override;
    void reloadDefaults() override;
    void setGearRatios(uint32_t ra, uint32_t de) override;
    void setReverseFlags(uint32_t rotation, uint32_t autoguiding, uint32_t limitSwitches) override;
    void setMotorCurrent(uint32_t selector, uint32_t milliAmps) override;
    void setDecay(uint32_t selector, uint32_t decay) override;
    void setMaxSpeeds(uint32_t ra, uint32_t de) override;
    void setAccelerations(uint32_t ra, uint32_t de) override;
    void setDecelerations(uint32_t ra, uint32_t de) override;
    void setOvertone(uint32_t axisMask, int32_t value) override;
    void setCurrentBoost(uint32_t axisMask, uint32_t first, uint32_t second) override;
    void setGuidingRates(uint32_t ra, uint32_t de) override;
    void setPositionPair(uint32_t first, uint32_t second) override;
    void applySiteSettings(const SiteSettings& settings) override;
    void measureVoltage() override;
    void initScope(uint32_t positionCode) override;
    void defineParkPosition() override;

    // Stops the worker, then closes the port if one is open. Idempotent. After it, operations are
    // dropped.
    void shutdown();

    // The feature level of the connected controller as last seen by the worker (any thread).
    [[nodiscard]] uint8_t featureLevel() const {
        return featureLevel_.load(std::memory_order_relaxed);
    }

    // The error of the last failed port open, for the command line (any thread, after status 6).
    [[nodiscard]] platform::OpenResult lastOpenError() const;

  private:
    // The worker reads the pipe 20 bytes at a time into its inbox.
    static constexpr size_t kPipeReadSize = 20;

    // LinkPort
    bool writeBytes(const uint8_t* bytes, size_t count) override;
    SiteSettings pendingSiteSettings() override;

    void writeMessage(const WorkerMessageBuffer& message);
    void workerLoop();
    [[nodiscard]] size_t readPipeIntoInbox();
    void dispatch(const uint8_t* message, size_t length);
    void dispatchConnect(const uint8_t* message);
    void applyResult(int result);
    bool openPort(uint32_t portNumber, uint32_t baudRate);
    void startReader();
    void readerLoop(uint8_t connection);
    [[nodiscard]] bool forwardSerialData(const uint8_t* bytes, size_t count);
    [[nodiscard]] bool lockPipeForReader();
    void closePort();
    // Sends the stop if a hand move runs, then closes the port.
    void closeLink();
    void publishFeatureLevel();

    TelescopeListener& listener_;
    const platform::PortTable& ports_;
    Options options_;
    platform::Lock stateLock_;
    // The pipe-write lock. Writers take it like a mutex; the serial reader can also give up
    // waiting for it once it is told to stop, so that closePort never waits for a reader that
    // waits for the lock.
    class PipeWriteLock {
      public:
        void lock();
        void unlock();
        // Waits for the lock until either flag is set (wake() must follow setting one). Returns
        // whether the lock is now held.
        [[nodiscard]] bool lockUnless(const std::atomic<bool>& first,
                                      const std::atomic<bool>& second);
        void wake();

      private:
        platform::Lock guard_;
        platform::Condition changed_;
        bool held_ = false;  // under guard_
    };
    PipeWriteLock pipeWriteLock_;
    std::unique_ptr<platform::CommandPipe> pipe_;
    std::unique_ptr<platform::SerialPort> port_;
    platform::Thread readerThread_;
    platform::Thread workerThread_;
    MessageReassembler messages_;
    bool portOpen_ = false;  // worker only
    // Counts opens, so that a lost-line word from the reader of an earlier connection is known.
    uint8_t connection_ = 0;      // worker only (the reader gets a copy at its start)
    bool handshakeDone_ = false;  // worker only
    SiteSettings pendingSite_;    // under stateLock_
    ControllerLink link_;
    std::atomic<uint8_t> featureLevel_{0};
    std::atomic<bool> shutDown_{false};
    // Published by the worker before each pipe read: whether a tick would change anything.
    std::atomic<bool> ticksWanted_{true};
    platform::Lock shutdownLock_;
    bool shutdownDone_ = false;  // under shutdownLock_
    mutable platform::Lock openErrorLock_;
    platform::OpenResult lastOpenError_;

    uint8_t inbox_[kPipeReadSize] = {};
    size_t inboxBegin_ = 0;  // worker only
    size_t inboxEnd_ = 0;    // worker only

    // Set by closePort: the serial reader ends and forwards nothing more.
    std::atomic<bool> readerStop_{false};
};

}  // namespace vornic
