#pragma once
// The worker-side controller protocol: request frames, reply reassembly, the connection handshake,
// reply handling and command execution.
//
// Single-threaded by design: every call comes from the worker thread of TelescopeControl, one
// message at a time, so the link state, the counters and MountSettings need no lock. Time is
// counted in heartbeat ticks fed in through tickHandler(); nothing here reads a clock, sleeps or
// makes an OS call, so the whole state machine is unit-testable without threads.
//
// Untrusted input: a reply is read through a bounds-checked view of the frame, never past its end
// into bytes of an earlier frame still in the reassembler's buffer. A block reply (identity,
// firmware, axis block, settings block, meridian flip, site, voltage) shorter than its layout
// never fills the record: while connecting it ends the connection with status 8, in a read-back
// or a voltage reading it reports status 10, keeps the record and frees the link. A one-byte
// reply while a block is awaited is the late acknowledgement of an earlier write and is dropped.
// An operation message too short for its operation's arguments, which only a corrupted command
// pipe could produce, is dropped whole: made-up zeros must never reach the controller as settings.

#include <cstddef>
#include <cstdint>

#include "controller/Contract.h"
#include "controller/MountSettings.h"
#include "controller/ReplyReassembler.h"

namespace vornic {

// Result codes handed back to the dispatcher.
inline constexpr int kResultNothing = 0;
inline constexpr int kResultHandshakeDone = 1;  // sets the handshake-done flag
inline constexpr int kResultLinkFailed = 2;     // the dispatcher closes the port (no status 4)

// Link states: which controller reply the worker waits for.
namespace link {
inline constexpr uint32_t kNoLink = 0;
inline constexpr uint32_t kIdle = 2;
inline constexpr uint32_t kPause = 3;
inline constexpr uint32_t kIdentity = 4;
inline constexpr uint32_t kPortType = 5;
inline constexpr uint32_t kFirmware = 6;
inline constexpr uint32_t kAxisBlock = 7;
inline constexpr uint32_t kSettingsBlock = 8;
inline constexpr uint32_t kMeridianFlip = 9;
inline constexpr uint32_t kSite = 10;
inline constexpr uint32_t kGearRatiosWritten = 11;
inline constexpr uint32_t kAxisBlockReread = 12;
inline constexpr uint32_t kPositionPair = 13;
inline constexpr uint32_t kVoltage = 14;
inline constexpr uint32_t kReferencePosition = 15;
inline constexpr uint32_t kParkPosition = 16;
inline constexpr uint32_t kStoreSettings = 17;
inline constexpr uint32_t kReloadDefaults = 18;
inline constexpr uint32_t kSiteCoordinates = 19;
inline constexpr uint32_t kMountTypeWritten = 20;
inline constexpr uint32_t kHysteresisWritten = 21;
inline constexpr uint32_t kLast = 21;
}  // namespace link

// What the link needs from its owner.
class LinkPort {
  public:
    // One whole request frame to the serial port. Returns false when it did not leave whole
    // within the port's bound.
    [[nodiscard]] virtual bool writeBytes(const uint8_t* bytes, size_t count) = 0;
    // The SiteSettings that applySiteSettings left, read under the owner's state lock.
    virtual SiteSettings pendingSiteSettings() = 0;
    virtual ~LinkPort() = default;
};

class ControllerLink {
  public:
    ControllerLink(LinkPort& port, TelescopeListener& listener);

    // Right after a successful connect. Clears the record, resets the reply reassembler, sends
    // the identity request. Returns kResultNothing, or kResultLinkFailed when it could not be sent.
    int handshakeStart();

    // One heartbeat tick while the port is open. Returns kResultLinkFailed after a time-out: a
    // request that waits for a reply gives up after 32 ticks.
    int tickHandler();

    // Bytes received from the controller (one serial-data message, in arrival order). Returns the
    // result of the last reply handled, or kResultNothing when no frame was completed.
    int takeReplyBytes(const uint8_t* bytes, size_t count);

    // A whole operation message (header, code, arguments) once the handshake is done.
    // `length` is the number of bytes in `message`. Returns kResultLinkFailed when a request
    // could not be sent (reported as such), else kResultNothing.
    int executeOperation(const uint8_t* message, size_t length, bool handshakeDone);

    // Before the port closes for any reason: if a hand move was commanded and not stopped since,
    // sends the stop of both axes (the frame "Stop" sends). Returns whether it wrote one.
    bool stopHandMove();

    // State, for TelescopeControl and for tests.
    [[nodiscard]] const MountSettings& settings() const { return settings_; }
    [[nodiscard]] uint32_t linkState() const { return linkState_; }
    [[nodiscard]] uint32_t nextState() const { return nextState_; }
    [[nodiscard]] uint32_t delayCounter() const { return delayCounter_; }
    [[nodiscard]] uint32_t timeoutCounter() const { return timeoutCounter_; }
    [[nodiscard]] uint32_t reloadMarker() const { return reloadMarker_; }
    [[nodiscard]] uint32_t pierSide() const { return pierSide_; }
    [[nodiscard]] const SiteSettings& siteCopy() const { return siteCopy_; }
    [[nodiscard]] uint8_t movingAxes() const { return movingAxes_; }
    // Whether a tick would change anything: a time-out is counting or a pause is running.
    [[nodiscard]] bool wantsTicks() const {
        return timeoutCounter_ != 0 || linkState_ == link::kPause;
    }

    // The manual-motion speed law of startMove: the signed speed sent for a direction and speed
    // index with the current record and pier side. Exposed for tests and the command line.
    [[nodiscard]] int32_t manualSpeed(uint32_t direction, uint32_t speedIndex,
                                      uint8_t* maskOut) const;

  private:
    enum class ReplyMode { Reply, Enter };

    // Passes request frames on to the owner and remembers a frame that did not leave.
    class CheckedPort final : public LinkPort {
      public:
        explicit CheckedPort(LinkPort& owner) : owner_(owner) {}
        bool writeBytes(const uint8_t* bytes, size_t count) override {
            const bool written = owner_.writeBytes(bytes, count);
            failed_ = failed_ || !written;
            return written;
        }
        SiteSettings pendingSiteSettings() override { return owner_.pendingSiteSettings(); }
        // Whether a write failed since the last call.
        [[nodiscard]] bool takeFailure() {
            const bool failed = failed_;
            failed_ = false;
            return failed;
        }

      private:
        LinkPort& owner_;
        bool failed_ = false;
    };

    // Reply handling (the frame is the reassembler's buffer: 0x55, N, payload).
    int replyHandler(ReplyMode mode, const uint8_t* frame, size_t length);
    int enterState();
    int handleReply(const uint8_t* frame, size_t length);
    int handleIdentity(const uint8_t* frame, size_t length);
    int finishSettingsRead();
    // Payload bytes the reply awaited in the current state must carry; 0 when it is no block.
    [[nodiscard]] uint32_t awaitedBlockBytes() const;
    int refuseShortBlock();
    void pauseTo(uint32_t state);
    void awaitReply(uint32_t state);
    void becomeIdle();
    // After a write failed: reports it and returns kResultLinkFailed; else kResultNothing.
    int takeSendFailure();
    void mountTypeWrite();
    void hysteresisWrite();
    void siteChainNext(uint32_t fromState);

    // Command execution, one helper per operation that does more than send one frame.
    [[nodiscard]] bool requireIdle();
    void startMove(uint32_t direction, uint32_t speedIndex);
    void stopMove(uint32_t direction);
    void setMaxSpeeds(uint32_t ra, uint32_t de);
    void applySiteSettings();
    void initScope(uint32_t positionCode);
    void defineParkPosition();

    CheckedPort port_;
    TelescopeListener& listener_;
    ReplyReassembler reassembler_;
    MountSettings settings_;
    uint32_t linkState_ = link::kNoLink;
    uint32_t nextState_ = link::kIdle;
    uint32_t delayCounter_ = 0;
    uint32_t timeoutCounter_ = 0;
    uint32_t reloadMarker_ = 1;
    uint32_t pierSide_ = 7;
    uint8_t movingAxes_ = 0;  // axes a hand move was sent to and no stop since
    SiteSettings siteCopy_;
};

}  // namespace vornic
