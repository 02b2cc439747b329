#pragma once
// The contract between the user interface, the controller link and the heartbeat.
//
//   HeartBeat --ticks--> iHeartBeatListener (TelescopeControl)
//   DlgConfig --commands--> iTelescopeControl (TelescopeControl)
//   TelescopeControl --reports--> TelescopeListener (AppModel), on the worker thread
//   AppModel --reports--> TelescopeControlDlgCallback (DlgConfig), on the UI thread
//
// Every iTelescopeControl operation only queues a short message for the worker thread and returns;
// its effect, and any report it provokes, come later on the worker thread.

#include <cstdint>

#include "controller/MountSettings.h"

namespace vornic {

// Status codes reported through onStatus / shown by showStatus. Codes above kLast are ignored by
// the dialog. Every text that starts with "Error:" is a failure.
using StatusCode = uint32_t;

namespace status {
inline constexpr StatusCode kNotConnected = 0;
inline constexpr StatusCode kOpeningPort = 1;
inline constexpr StatusCode kConnecting = 2;
inline constexpr StatusCode kConnectionEstablished = 3;
inline constexpr StatusCode kConnectionClosed = 4;
inline constexpr StatusCode kDefaultsReloaded = 5;
inline constexpr StatusCode kCannotOpenPort = 6;
inline constexpr StatusCode kTimeout = 7;
inline constexpr StatusCode kUnknownDevice = 8;
inline constexpr StatusCode kIncompatibleDevice = 9;
inline constexpr StatusCode kCommunicationError = 10;
inline constexpr StatusCode kAlreadyConnected = 11;
inline constexpr StatusCode kNotConnectedYet = 12;
inline constexpr StatusCode kTooOld = 13;
inline constexpr StatusCode kNoParking = 14;
inline constexpr StatusCode kReady = 15;
inline constexpr StatusCode kFastMovement = 16;
inline constexpr StatusCode kSlowMovement = 17;
inline constexpr StatusCode kManualMovement = 18;
inline constexpr StatusCode kPositioning = 19;
inline constexpr StatusCode kSynchronized = 20;
inline constexpr StatusCode kParkMarked = 21;
inline constexpr StatusCode kParametersStored = 22;
inline constexpr StatusCode kDefaultsReloadedDots = 23;
inline constexpr StatusCode kSettingsDone = 24;
// A request that waits for a reply got none in time; the port is closed.
inline constexpr StatusCode kNoAnswer = 25;
// The line failed (read error, hang-up: an adapter pulled out); the port is closed.
inline constexpr StatusCode kConnectionLost = 26;
// A request did not leave the port within its bound; the port is closed.
inline constexpr StatusCode kSendFailed = 27;
inline constexpr StatusCode kLast = 27;
}  // namespace status

// The text the dialog shows for a status code, or nullptr for a code above kLast.
const char* statusText(StatusCode code);

// Whether the status says that something failed (its text starts with "Error:").
[[nodiscard]] bool isErrorStatus(StatusCode code);

// Whether the status means the connection is over (closed, never opened, or ended by a fault).
[[nodiscard]] bool endsConnection(StatusCode code);

// Kinds of settings report (second argument of onSettings / showSettings).
using ReportKind = uint32_t;
namespace report {
inline constexpr ReportKind kConnected = 1;  // handshake finished: identity and all settings
inline constexpr ReportKind kDefaultsReloaded = 2;
inline constexpr ReportKind kTooOld = 3;      // identity only
inline constexpr ReportKind kGearRatios = 4;  // gear ratios written and read back
// All settings, read again by the program itself (a disconnect and connect it made to see what the
// controller holds): shown in the fields, but no news of the connection, which never ended for the
// user.
inline constexpr ReportKind kReadBack = 5;
}  // namespace report

// Direction codes of startMove / stopMove.
namespace direction {
inline constexpr uint8_t kNorth = 0;
inline constexpr uint8_t kSouth = 1;
inline constexpr uint8_t kWest = 2;
inline constexpr uint8_t kEast = 3;
inline constexpr uint8_t kBoth = 4;  // stopMove only
}  // namespace direction

// Axis masks, and the selectors of setMotorCurrent / setDecay (mask + 0 idle, 1 track, 2 run).
namespace axis {
inline constexpr uint8_t kRa = 0x80;
inline constexpr uint8_t kDe = 0x40;
inline constexpr uint8_t kBoth = 0xC0;
inline constexpr uint8_t kIdle = 0;
inline constexpr uint8_t kTrack = 1;
inline constexpr uint8_t kRun = 2;
}  // namespace axis

// Site settings edited by the Advanced settings dialog and sent by applySiteSettings.
struct SiteSettings {
    uint32_t changeMask = 0;  // bit 0 latitude, bit 1 longitude, bit 2 mount type, bit 3 hysteresis
    uint32_t mountType = 0;   // 0 equatorial german, 1 equatorial fork, 2 alt-azimuth
    int32_t latitude = 0;     // angle units, positive north
    int32_t longitude = 0;    // angle units, positive east
    uint32_t hysteresis = 0;  // meridian-flip hysteresis in degrees
};

namespace site {
inline constexpr uint32_t kLatitudeChanged = 1;
inline constexpr uint32_t kLongitudeChanged = 2;
inline constexpr uint32_t kMountTypeChanged = 4;
inline constexpr uint32_t kHysteresisChanged = 8;
}  // namespace site

class iHeartBeatListener {
  public:
    virtual void onHeartBeat() = 0;
    virtual ~iHeartBeatListener() = default;
};

// Operation codes carried in the operation messages of the command pipe.
namespace op {
inline constexpr uint8_t kConnect = 3;
inline constexpr uint8_t kDisconnect = 4;
inline constexpr uint8_t kStartMove = 5;
inline constexpr uint8_t kStopMove = 6;
inline constexpr uint8_t kSetTracking = 7;
inline constexpr uint8_t kSetExp = 8;
inline constexpr uint8_t kSendCode20 = 20;
inline constexpr uint8_t kStoreSettings = 21;
inline constexpr uint8_t kSendCode22 = 22;
inline constexpr uint8_t kReloadDefaults = 23;
inline constexpr uint8_t kSetGearRatios = 24;
inline constexpr uint8_t kSetReverseFlags = 26;
inline constexpr uint8_t kSetMotorCurrent = 27;
inline constexpr uint8_t kSetDecay = 28;
inline constexpr uint8_t kSetOvertone = 29;
inline constexpr uint8_t kSetCurrentBoost = 30;
inline constexpr uint8_t kSetMaxSpeeds = 32;
inline constexpr uint8_t kSetAccelerations = 33;
inline constexpr uint8_t kSetDecelerations = 34;
inline constexpr uint8_t kSetGuidingRates = 35;
inline constexpr uint8_t kSetPositionPair = 36;
inline constexpr uint8_t kApplySiteSettings = 37;
inline constexpr uint8_t kMeasureVoltage = 38;
inline constexpr uint8_t kInitScope = 39;
inline constexpr uint8_t kDefineParkPosition = 40;
}  // namespace op

class iTelescopeControl : public iHeartBeatListener {
  public:
    // Port number 1..256 (COM1..COM256, or an entry of the port table); baud 115200 or 9600.
    virtual void connect(uint32_t portNumber, uint32_t baudRate) = 0;
    virtual void disconnect() = 0;
    virtual void startMove(uint32_t direction, uint32_t speedIndex) = 0;
    virtual void stopMove(uint32_t direction) = 0;
    virtual void setTracking(uint32_t on) = 0;
    virtual void setExp(uint32_t on) = 0;
    virtual void sendCode20() = 0;
    virtual void storeSettings() = 0;
    virtual void sendCode22() = 0;
    virtual void reloadDefaults() = 0;
    virtual void setGearRatios(uint32_t ra, uint32_t de) = 0;
    virtual void setReverseFlags(uint32_t rotation, uint32_t autoguiding,
                                 uint32_t limitSwitches) = 0;
    virtual void setMotorCurrent(uint32_t selector, uint32_t milliAmps) = 0;
    virtual void setDecay(uint32_t selector, uint32_t decay) = 0;
    virtual void setMaxSpeeds(uint32_t ra, uint32_t de) = 0;
    virtual void setAccelerations(uint32_t ra, uint32_t de) = 0;
    virtual void setDecelerations(uint32_t ra, uint32_t de) = 0;
    virtual void setOvertone(uint32_t axisMask, int32_t value) = 0;
    virtual void setCurrentBoost(uint32_t axisMask, uint32_t first, uint32_t second) = 0;
    virtual void setGuidingRates(uint32_t ra, uint32_t de) = 0;
    virtual void setPositionPair(uint32_t first, uint32_t second) = 0;
    virtual void applySiteSettings(const SiteSettings& settings) = 0;
    virtual void measureVoltage() = 0;
    virtual void initScope(uint32_t positionCode) = 0;
    virtual void defineParkPosition() = 0;
    ~iTelescopeControl() override = default;
};

// Reports of the controller link. Called on the worker thread; an implementation must not block
// and must not call back into iTelescopeControl before returning.
class TelescopeListener {
  public:
    virtual void onStatus(StatusCode code) = 0;
    // `settings` is valid only during the call: copy it whole.
    virtual void onSettings(const MountSettings& settings, ReportKind kind) = 0;
    virtual void onVoltage(uint32_t hundredthsOfVolt) = 0;
    virtual ~TelescopeListener() = default;
};

// What AppModel calls on the UI thread.
class TelescopeControlDlgCallback {
  public:
    virtual void showStatus(StatusCode code) = 0;
    virtual void showSettings(const MountSettings& settings, ReportKind kind) = 0;
    virtual void showVoltage(uint32_t hundredthsOfVolt) = 0;
    virtual ~TelescopeControlDlgCallback() = default;
};

}  // namespace vornic
