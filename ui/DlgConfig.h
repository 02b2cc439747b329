#pragma once
// DlgConfig: the logic of the main dialog.
//
// It shows what the controller link reports (status line, identity line, supply voltage and every
// setting) and turns each user action into one iTelescopeControl call. There is no apply step: an
// edit field is sent when it loses the keyboard focus, a slider when a drag or key press on it
// ends, a button on its click. Fields and sliders send only when the value differs from the
// last value shown or sent, which the dialog keeps per setting ("last-sent values"); the decay and
// guiding sliders send on every release that moved them. A slider let go where it was put sends
// nothing at all. Escape stops the mount.
//
// Threads: everything runs on the UI thread except postUserMessage, which AppModel calls on the
// worker thread. That one only reads an atomic flag and hands the message to the front end's
// UiPoster; the front end later calls onUserMessage on the UI thread, which lets AppModel deliver
// the stored report back into showStatus / showSettings / showVoltage.
//
// Typed values are never wrapped nor clamped: text that is not a number, and a number the connected
// controller cannot be given for that setting (the shared setting table's range, e.g. a current up
// to that axis's maximum), put the field back to its last-sent value, name the field and the range
// on the status line, and send nothing. Controls of settings the controller's feature level lacks
// stay disabled, so no request ever carries a stand-in value for the axis the user did not touch.

#include <atomic>
#include <cstdint>

#include "controller/Contract.h"
#include "controller/MountSettings.h"
#include "controller/SettingTable.h"
#include "ui/AppModel.h"
#include "ui/ControlModel.h"
#include "ui/MainDialogIds.h"
#include "ui/SecondaryDialogs.h"
#include "ui/SettingsNet.h"

namespace vornic::ui {

// The front end's asynchronous hand-off to the UI thread (a queued call, a posted window message).
// post() is called on the worker thread and must not block on the UI thread; the front end later
// calls DlgConfig::onUserMessage(wParam, lParam) on the UI thread.
class UiPoster {
  public:
    virtual void post(uint32_t wParam, uint32_t lParam) = 0;
    virtual ~UiPoster() = default;
};

class DlgConfig final : public TelescopeControlDlgCallback,
                        public DialogLogic,
                        public UserMessagePoster {
  public:
    DlgConfig(iTelescopeControl& control, AppModel& model, UiPoster& poster);
    ~DlgConfig() override = default;

    DlgConfig(const DlgConfig&) = delete;
    DlgConfig& operator=(const DlgConfig&) = delete;

    // DialogLogic (UI thread)
    [[nodiscard]] int dialogId() const override;
    void onInit(ControlModel& model) override;
    bool onCommand(ControlModel& model, ControlId id, int notification) override;
    // The close box ends the dialog with 1. Escape (a click on 2) stops the mount as "Stop" does;
    // Enter on no push button (a click on 1) does nothing.
    void onClose(ControlModel& model) override;

    // A slider event. Only kScrollEndTrack on one of the 24 axis-group sliders does anything, and
    // only when the slider is no longer where it was put.
    void onHScroll(int scrollCode, ControlId slider);

    // A user message that reached the UI thread. Report notifications go to AppModel; every
    // message counts as handled.
    bool onUserMessage(uint32_t wParam, uint32_t lParam);

    // The front end tells the dialog that its controls are gone (after the modal run ended);
    // reports are no longer shown and nothing more is posted.
    void windowDestroyed();
    // The main window's controls while it runs (UI thread), else null.
    [[nodiscard]] ControlModel* window() const { return window_; }

    // The settings safety net behind the "Settings" menu and the "Not saved into KZ2" mark; null
    // leaves the menu's items disabled. It must outlive the dialog. May be set while the window
    // runs.
    void setSettingsNet(SettingsNet* net);
    [[nodiscard]] SettingsNet* settingsNet() const { return settingsNet_; }

    // TelescopeControlDlgCallback (UI thread)
    void showStatus(StatusCode code) override;
    void showSettings(const MountSettings& settings, ReportKind kind) override;
    void showVoltage(uint32_t hundredthsOfVolt) override;

    // UserMessagePoster (worker thread)
    void postUserMessage(uint32_t wParam, uint32_t lParam) override;

    // Enables or disables every connection-dependent control; "Advanced settings" follows the
    // controller's feature level (see the definition).
    void setControlsEnabled(bool on, uint32_t featureLevel);

    // The records the secondary dialogs edit (for inspection).
    [[nodiscard]] const GearRatios& gearRatios() const { return gearRatios_; }
    [[nodiscard]] const SiteSettings& siteSettings() const { return site_; }
    [[nodiscard]] int32_t initPosition() const { return initPosition_; }

  private:
    void fullUpdate(ControlModel& m, const MountSettings& s);
    // The values the connected controller may be given for one axis of a setting.
    [[nodiscard]] SettingRange validFor(const char* setting, int axis) const;
    // Sets an axis-group slider and remembers where it was put.
    void placeSlider(ControlModel& m, ControlId slider, int position);
    void showGearRatios(ControlModel& m, const MountSettings& s);

    bool onButton(ControlModel& m, ControlId id);
    // The "Settings" menu: what each item opens, and what the net's state shows.
    bool onSettingsMenu(ControlModel& m, ControlId id);
    void watchSettingsNet();
    void showSettingsNetState();
    void showOutcome(const std::string& text);
    bool onFieldLeft(ControlModel& m, ControlId id);
    void sendReverseFlags(ControlModel& m);

    // Field handlers; `axis` is kRa or kDe.
    void leaveMaxSpeed(ControlModel& m, int axis);
    void leaveRamp(ControlModel& m, int axis, bool acceleration);
    void leaveCurrent(ControlModel& m, int axis, int which);
    void leaveOvertone(ControlModel& m, int axis);
    void leaveIncCurrent(ControlModel& m, int axis);

    // Slider handlers
    void releaseMaxSpeed(ControlModel& m, int axis);
    void releaseRamp(ControlModel& m, int axis, bool acceleration);
    void releaseCurrent(ControlModel& m, int axis, int which);
    void releaseOvertone(ControlModel& m, int axis);
    void releaseIncCurrent(ControlModel& m, int axis);

    iTelescopeControl& control_;
    AppModel& appModel_;
    UiPoster& poster_;

    ControlModel* window_ = nullptr;       // UI thread; null until onInit
    SettingsNet* settingsNet_ = nullptr;   // UI thread
    std::atomic<bool> windowOpen_{false};  // read by postUserMessage on the worker thread

    uint32_t maxCurrent_[2] = {};
    MountSettings settings_{};   // the last full update
    uint32_t featureLevel_ = 0;  // of the controller connected, 0 while none is

    // Last-sent values, at the width the controller holds them.
    uint16_t lastMaxSpeed_[2] = {};
    uint16_t lastCurrent_[2][3] = {};  // idle, track, run
    uint8_t lastAcceleration_[2] = {};
    uint8_t lastDeceleration_[2] = {};
    int16_t lastOvertone_[2] = {};
    uint16_t lastIncCurrent_[2] = {};
    uint16_t lastGuiding_[2] = {};  // as reported, or the last slider position sent + 1
    // Whether a current field has ever shown a value (it stays empty while the maximum is 0).
    bool currentShown_[2][3] = {};

    // Where each axis-group slider (kAxisSliders order) was last put, by the program or by a
    // release the dialog acted on; a release there sends nothing.
    int placed_[kAxisSliders.size()] = {};

    GearRatios gearRatios_;
    int32_t initPosition_ = 0;
    SiteSettings site_;
};

}  // namespace vornic::ui
