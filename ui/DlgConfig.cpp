#include "ui/DlgConfig.h"

#include <algorithm>
#include <cstdio>

#include "controller/SettingTable.h"
#include "text/Text.h"
#include "ui/AccessibleNames.h"
#include "ui/Layout.h"
#include "ui/MainDialogIds.h"
#include "ui/SettingsDialogs.h"

namespace vornic::ui {

namespace {

// What the controller holds per setting; slider values never go beyond.
constexpr uint32_t kMax8 = 255;
constexpr uint32_t kMax16 = 65535;
constexpr int32_t kOvertoneMin = -20;
constexpr int32_t kOvertoneMax = 20;

// Every Dec control is its RA control plus kDecOffset.
constexpr ControlId onAxis(ControlId raId, int axis) {
    return raId + (axis == kDe ? kDecOffset : 0);
}

constexpr uint32_t axisMask(int axis) {
    return axis == kDe ? axis::kDe : axis::kRa;
}

constexpr uint32_t selector(int axis, int which) {
    return axisMask(axis) + static_cast<uint32_t>(which);
}

// The RA current controls by MountSettings index (idle, track, run).
constexpr ControlId kCurrentField[3] = {kIdIdleCurrentRa, kIdTrackCurrentRa, kIdRunCurrentRa};
constexpr ControlId kCurrentSlider[3] = {kIdIdleCurrentSliderRa, kIdTrackCurrentSliderRa,
                                         kIdRunCurrentSliderRa};

// Slider positions for a value. Divisions drop the remainder; the slider clamps to its range.
constexpr int maxSpeedToSlider(uint32_t v) {
    return static_cast<int>(v / 30);
}
constexpr int rampToSlider(uint32_t v) {
    return static_cast<int>((v + 8) / 16);
}
constexpr int incCurrentToSlider(uint32_t v) {
    return v < 10 ? 0 : static_cast<int>((v - 10) / 20);
}
constexpr int guidingToSlider(uint32_t v) {
    return v == 0 ? 0 : static_cast<int>(v - 1);
}
int currentToSlider(uint32_t v, uint32_t maxCurrent) {
    // Done in 64 bits: the field may hold any 32-bit number before it is clamped.
    return static_cast<int>(std::min<uint64_t>(16ULL * v / maxCurrent, 16));
}

// The position of a slider whose range starts at 0. The model keeps positions within the ranges
// set in onInit (none above 39); bounding them here as well keeps every conversion below far from
// overflow whatever a backend reports.
uint32_t position(const ControlModel& m, ControlId slider) {
    return static_cast<uint32_t>(std::clamp(m.sliderPos(slider), 0, 255));
}

// Index of an axis-group slider in kAxisSliders, or -1.
int axisSliderIndex(ControlId id) {
    const auto* it = std::find(kAxisSliders.begin(), kAxisSliders.end(), id);
    return it == kAxisSliders.end() ? -1 : static_cast<int>(it - kAxisSliders.begin());
}

// The setting each connection-dependent control shows or changes (RA ids; a Dec control is its RA
// id plus kDecOffset). A control not listed belongs to no setting and follows the connection alone.
struct ControlSetting {
    ControlId id;
    const char* setting;
};
constexpr ControlSetting kControlSettings[] = {
    {kIdChangeGearRatio, "gearRatio"},
    {kIdReverseRotationRa, "reverseRotation"},
    {kIdReverseGuidingRa, "reverseAutoguiding"},
    {kIdReverseLimitsRa, "reverseLimitSwitches"},
    {kIdMaxSpeedSliderRa, "maxSpeed"},
    {kIdMaxSpeedRa, "maxSpeed"},
    {kIdAccelSliderRa, "acceleration"},
    {kIdAccelRa, "acceleration"},
    {kIdDecelSliderRa, "deceleration"},
    {kIdDecelRa, "deceleration"},
    {kIdMaxCurrentRa, "motorCurrent"},
    {kIdIdleCurrentRa, "motorCurrent"},
    {kIdTrackCurrentRa, "motorCurrent"},
    {kIdRunCurrentRa, "motorCurrent"},
    {kIdIdleCurrentSliderRa, "motorCurrent"},
    {kIdTrackCurrentSliderRa, "motorCurrent"},
    {kIdRunCurrentSliderRa, "motorCurrent"},
    {kIdIdleDecayRa, "decay"},
    {kIdTrackDecayRa, "decay"},
    {kIdRunDecayRa, "decay"},
    {kIdOvertoneSliderRa, "thirdOvertone"},
    {kIdOvertoneRa, "thirdOvertone"},
    {kIdIncCurrentSliderRa, "incCurrentAt"},
    {kIdIncCurrentRa, "incCurrentAt"},
    {kIdGuidingRa, "guidingRate"},
};

const SettingField* settingOf(ControlId id) {
    const ControlId ra =
        id > kIdGuidingRa + kDecOffset || id < kIdReverseRotationDe ? id : id - kDecOffset;
    for (const ControlSetting& c : kControlSettings) {
        if (c.id == ra) {
            return findSettingField(c.setting);
        }
    }
    return nullptr;
}

// The name the user knows a field by, e.g. "RA Max speed".
std::string fieldName(ControlId field) {
    const DialogLayout* layout = findDialogLayout(kMainDialogId);
    const ControlLayout* control = layout != nullptr ? findControl(*layout, field) : nullptr;
    std::string name = control != nullptr ? accessibleName(*layout, *control) : std::string();
    // A field is named as the value of its slider's setting; the setting is what the user sets.
    const std::string value = " value";
    if (name.size() > value.size() &&
        name.compare(name.size() - value.size(), value.size(), value) == 0) {
        name.erase(name.size() - value.size());
    }
    return name;
}

// Reads a setting field (signed for the 3rd overtone). Text that is not a number, and a number the
// controller cannot hold or that makes no sense for the setting, are refused: the field shows the
// last-sent value again, the status line names the field and the range, and nothing is sent. The
// last-sent value itself is never refused: it may be one the controller reported outside what can
// be typed, and a field the user only passed through must not change the controller. Returns
// false when nothing is to be done.
bool readSetting(ControlModel& m, ControlId field, int64_t lastSent, SettingRange range,
                 int64_t& value, bool isSigned = false, bool shown = true) {
    const IntRead read = isSigned ? m.readSigned(field) : m.readUnsigned(field);
    value = isSigned ? static_cast<int64_t>(static_cast<int32_t>(read.value)) : read.value;
    if (read.ok && (value == lastSent || range.holds(value))) {
        return true;
    }
    // A field that never showed a value has nothing to go back to but being empty; passing
    // through it empty is no mistake.
    const bool typed = !m.text(field).empty();
    if (!shown) {
        if (typed) {
            m.setText(field, "");
        }
    } else if (isSigned) {
        m.setSigned(field, static_cast<int32_t>(lastSent));
    } else {
        m.setUnsigned(field, static_cast<uint32_t>(lastSent));
    }
    const std::string limits = std::to_string(range.min) + ".." + std::to_string(range.max);
    if (read.ok) {
        m.setText(kIdStatusLine,
                  fieldName(field) + ": " + std::to_string(value) + " is out of range " + limits);
    } else if (typed || shown) {
        m.setText(kIdStatusLine, fieldName(field) + ": not a whole number in " + limits);
    }
    return false;
}

}  // namespace

DlgConfig::DlgConfig(iTelescopeControl& control, AppModel& model, UiPoster& poster)
    : control_(control), appModel_(model), poster_(poster) {}

int DlgConfig::dialogId() const {
    return kMainDialogId;
}

void DlgConfig::onInit(ControlModel& m) {
    window_ = &m;

    m.setImage(kIdMoveNorth, image::kArrowUp);
    m.setImage(kIdMoveSouth, image::kArrowDown);
    m.setImage(kIdMoveEast, image::kArrowLeft);
    m.setImage(kIdMoveWest, image::kArrowRight);

    m.setSliderRange(kIdSpeed, 0, 31);
    m.setSliderPos(kIdSpeed, 10);

    for (int axis : {kRa, kDe}) {
        m.setSliderRange(onAxis(kIdMaxSpeedSliderRa, axis), 0, 39);
        m.setSliderRange(onAxis(kIdAccelSliderRa, axis), 0, 15);
        m.setSliderRange(onAxis(kIdDecelSliderRa, axis), 0, 15);
        for (ControlId id :
             {kIdIdleCurrentSliderRa, kIdTrackCurrentSliderRa, kIdRunCurrentSliderRa}) {
            m.setSliderRange(onAxis(id, axis), 0, 15);
        }
        for (ControlId id : {kIdIdleDecayRa, kIdTrackDecayRa, kIdRunDecayRa}) {
            m.setSliderRange(onAxis(id, axis), 0, 3);
        }
        // Moved off 0 and back so that the thumb is drawn at 0 in the middle of the range.
        const ControlId overtone = onAxis(kIdOvertoneSliderRa, axis);
        m.setSliderRange(overtone, kOvertoneMin, kOvertoneMax);
        m.setSliderPos(overtone, 1);
        m.setSliderPos(overtone, 0);
        m.setSliderRange(onAxis(kIdIncCurrentSliderRa, axis), 0, 31);
        m.setSliderRange(onAxis(kIdGuidingRa, axis), 0, 15);
    }
    for (size_t i = 0; i < kAxisSliders.size(); ++i) {
        placed_[i] = m.sliderPos(kAxisSliders[i]);
    }

    char name[16];
    for (int port = 1; port <= 256; ++port) {
        std::snprintf(name, sizeof name, "COM%d", port);
        m.addItem(kIdPortList, name);
    }
    m.setSelection(kIdPortList, 0);

    m.setChecked(kIdTrackOn, false);
    m.setChecked(kIdTrackOff, true);

    setControlsEnabled(false, 0);
    watchSettingsNet();
    windowOpen_.store(true, std::memory_order_release);
}

void DlgConfig::setSettingsNet(SettingsNet* net) {
    settingsNet_ = net;
    if (window_ != nullptr) {
        watchSettingsNet();
    }
}

void DlgConfig::watchSettingsNet() {
    if (settingsNet_ != nullptr) {
        // Also called after the window is gone: then there is nothing to show it on.
        settingsNet_->onStateChanged([this] { showSettingsNetState(); });
    }
    showSettingsNetState();
}

void DlgConfig::showSettingsNetState() {
    if (window_ == nullptr) {
        return;
    }
    const bool connected = settingsNet_ != nullptr && settingsNet_->connected();
    for (const MenuLayout& menu : dialogMenus(kMainDialogId)) {
        for (const MenuItemLayout& item : menu.items) {
            window_->setEnabled(item.id,
                                settingsNet_ != nullptr && (connected || !item.needsConnection));
        }
    }
    const bool notSaved = settingsNet_ != nullptr && settingsNet_->notSaved();
    window_->setText(kIdNotSavedMark, notSaved ? "Not saved into KZ2" : "");
}

void DlgConfig::showOutcome(const std::string& text) {
    if (window_ != nullptr) {
        window_->setText(kIdStatusLine, text);
    }
}

bool DlgConfig::onSettingsMenu(ControlModel& m, ControlId id) {
    const MenuItemLayout* item = nullptr;
    for (const MenuLayout& menu : dialogMenus(kMainDialogId)) {
        for (const MenuItemLayout& i : menu.items) {
            item = i.id == id ? &i : item;
        }
    }
    if (item == nullptr) {
        return false;
    }
    // A command from an item that is not to be used now (a stale one in the toolkit's queue)
    // does nothing.
    if (settingsNet_ == nullptr || (item->needsConnection && !settingsNet_->connected())) {
        return true;
    }
    SettingsNet& net = *settingsNet_;
    const OutcomeReport report = [this](const std::string& text) { showOutcome(text); };
    switch (id) {
        case kIdMenuBackUp: {
            const std::string path = m.chooseFile(FileChoice::kSave, net.defaultBackupName());
            if (path.empty()) {
                return true;
            }
            std::string error;
            if (net.backUp(path, error)) {
                showOutcome("Settings backed up to " + path);
            } else {
                showOutcome("Back up failed: " +
                            (error.empty() ? "the file was not written" : error));
            }
            return true;
        }
        case kIdMenuRestore:
        case kIdMenuCompare: {
            const std::string path = m.chooseFile(FileChoice::kOpen, "");
            if (path.empty()) {
                return true;
            }
            PreviewDialog preview(net,
                                  id == kIdMenuRestore ? PreviewDialog::Kind::kRestore
                                                       : PreviewDialog::Kind::kCompare,
                                  path, report);
            static_cast<void>(m.runModal(preview));
            return true;
        }
        case kIdMenuUndo: {
            PreviewDialog preview(net, PreviewDialog::Kind::kUndo, "", report);
            static_cast<void>(m.runModal(preview));
            return true;
        }
        default: {
            SnapshotsDialog snapshots(net, report);
            static_cast<void>(m.runModal(snapshots));
            return true;
        }
    }
}

void DlgConfig::onClose(ControlModel& m) {
    windowOpen_.store(false, std::memory_order_release);
    m.endDialog(1);
}

void DlgConfig::windowDestroyed() {
    windowOpen_.store(false, std::memory_order_release);
    window_ = nullptr;
}

bool DlgConfig::onUserMessage(uint32_t wParam, uint32_t lParam) {
    if (wParam == kReportNotification || wParam == kReportNotificationAlt) {
        appModel_.deliverReport(wParam, lParam);
    }
    return true;
}

void DlgConfig::postUserMessage(uint32_t wParam, uint32_t lParam) {
    // Without a window there is nobody to post to; the report stays in AppModel's mailbox.
    if (windowOpen_.load(std::memory_order_acquire)) {
        poster_.post(wParam, lParam);
    }
}

void DlgConfig::setControlsEnabled(bool on, uint32_t featureLevel) {
    if (window_ == nullptr) {
        return;
    }
    for (ControlId id : kEnableList) {
        if (id == kIdUnusedEnable122 || id == kIdUnusedEnable150) {
            continue;  // listed, but no such control
        }
        // A setting the controller does not have stays greyed: what it shows is no value of the
        // controller's, and a request for it would carry that stand-in for the other axis too.
        const SettingField* setting = settingOf(id);
        window_->setEnabled(id, on && (setting == nullptr || levelHas(*setting, featureLevel)));
    }
    // The port in use stays the one shown: the list cannot change under a connection.
    window_->setEnabled(kIdPortList, !on);
    if (!on) {
        window_->setEnabled(kIdAdvancedSettings, false);
    } else if (featureLevel > 4) {
        window_->setEnabled(kIdAdvancedSettings, true);
    }
}

void DlgConfig::showStatus(StatusCode code) {
    if (window_ == nullptr) {
        return;
    }
    if (code == status::kConnectionEstablished) {
        setControlsEnabled(true, featureLevel_);
    } else if (endsConnection(code)) {
        featureLevel_ = 0;
        // What described the controller no longer does; its settings stay shown, greyed.
        setControlsEnabled(false, 0);
        window_->setText(kIdIdentityLine, "");
        window_->setText(kIdVoltage, "");
    }
    if (const char* text = statusText(code)) {
        window_->setText(kIdStatusLine, text);
    }
}

void DlgConfig::showVoltage(uint32_t hundredthsOfVolt) {
    if (window_ == nullptr) {
        return;
    }
    char text[24];
    formatVoltage(hundredthsOfVolt, text, sizeof text);
    window_->setText(kIdVoltage, text);
}

void DlgConfig::showSettings(const MountSettings& settings, ReportKind kind) {
    if (window_ == nullptr) {
        return;
    }
    ControlModel& m = *window_;
    switch (kind) {
        case report::kConnected:
            m.setText(kIdStatusLine, statusText(status::kConnectionEstablished));
            fullUpdate(m, settings);
            break;
        case report::kDefaultsReloaded:
            m.setText(kIdStatusLine, statusText(status::kDefaultsReloaded));
            fullUpdate(m, settings);
            break;
        case report::kTooOld: {
            m.setText(kIdStatusLine, statusText(status::kTooOld));
            char line[kIdentityLineSize];
            buildIdentityLine(settings, line, sizeof line);
            m.setText(kIdIdentityLine, line);
            break;
        }
        case report::kGearRatios:
            showGearRatios(m, settings);
            break;
        case report::kReadBack:  // the status line keeps what it said
        default:
            fullUpdate(m, settings);
            break;
    }
}

void DlgConfig::showGearRatios(ControlModel& m, const MountSettings& s) {
    m.setUnsigned(kIdGearRa, s.gearRatio[kRa]);
    m.setUnsigned(kIdGearDe, s.gearRatio[kDe]);
    gearRatios_.ra = s.gearRatio[kRa];
    gearRatios_.de = s.gearRatio[kDe];
}

void DlgConfig::fullUpdate(ControlModel& m, const MountSettings& s) {
    settings_ = s;
    featureLevel_ = s.featureLevel;
    maxCurrent_[kRa] = s.maxCurrent[kRa];
    maxCurrent_[kDe] = s.maxCurrent[kDe];

    char line[kIdentityLineSize];
    buildIdentityLine(s, line, sizeof line);
    m.setText(kIdIdentityLine, line);

    showGearRatios(m, s);
    m.setEnabled(kIdChangeGearRatio, true);

    for (int axis : {kRa, kDe}) {
        const auto v = static_cast<uint16_t>(s.maxSpeed[axis] & 0xFFFFu);
        lastMaxSpeed_[axis] = v;
        m.setUnsigned(onAxis(kIdMaxSpeedRa, axis), v);
        placeSlider(m, onAxis(kIdMaxSpeedSliderRa, axis), maxSpeedToSlider(v));
    }

    for (int axis : {kRa, kDe}) {
        lastAcceleration_[axis] = s.acceleration[axis];
        m.setUnsigned(onAxis(kIdAccelRa, axis), s.acceleration[axis]);
        placeSlider(m, onAxis(kIdAccelSliderRa, axis), rampToSlider(s.acceleration[axis]));
        lastDeceleration_[axis] = s.deceleration[axis];
        m.setUnsigned(onAxis(kIdDecelRa, axis), s.deceleration[axis]);
        placeSlider(m, onAxis(kIdDecelSliderRa, axis), rampToSlider(s.deceleration[axis]));
    }

    for (int axis : {kRa, kDe}) {
        lastGuiding_[axis] = s.guidingRate[axis];
        placeSlider(m, onAxis(kIdGuidingRa, axis), guidingToSlider(s.guidingRate[axis]));
    }

    const uint8_t reverse[3] = {s.reverseRotation, s.reverseAutoguiding, s.reverseLimitSwitches};
    const ControlId reverseBox[3] = {kIdReverseRotationRa, kIdReverseGuidingRa, kIdReverseLimitsRa};
    for (int i = 0; i < 3; ++i) {
        m.setChecked(reverseBox[i], (reverse[i] & 1u) != 0);
        m.setChecked(onAxis(reverseBox[i], kDe), (reverse[i] & 2u) != 0);
    }

    for (int axis : {kRa, kDe}) {
        m.setUnsigned(onAxis(kIdMaxCurrentRa, axis), maxCurrent_[axis]);
        // Without a known maximum the sliders cannot be placed; the controls keep what they had.
        if (maxCurrent_[axis] == 0) {
            continue;
        }
        for (int which = 0; which < 3; ++which) {
            const uint16_t v = s.motorCurrent[axis][which];
            lastCurrent_[axis][which] = v;
            currentShown_[axis][which] = true;
            m.setUnsigned(onAxis(kCurrentField[which], axis), v);
            placeSlider(m, onAxis(kCurrentSlider[which], axis),
                        currentToSlider(v, maxCurrent_[axis]));
        }
    }

    const ControlId decaySlider[3] = {kIdIdleDecayRa, kIdTrackDecayRa, kIdRunDecayRa};
    for (int axis : {kRa, kDe}) {
        for (int which = 0; which < 3; ++which) {
            placeSlider(m, onAxis(decaySlider[which], axis), s.decay[axis][which]);
        }
    }

    for (int axis : {kRa, kDe}) {
        const int16_t v = s.thirdOvertone[axis];
        lastOvertone_[axis] = v;
        m.setSigned(onAxis(kIdOvertoneRa, axis), v);
        placeSlider(m, onAxis(kIdOvertoneSliderRa, axis), v);
    }

    for (int axis : {kRa, kDe}) {
        const uint16_t v = s.incCurrentAt[axis];
        lastIncCurrent_[axis] = v;
        m.setUnsigned(onAxis(kIdIncCurrentRa, axis), v);
        placeSlider(m, onAxis(kIdIncCurrentSliderRa, axis), incCurrentToSlider(v));
    }

    site_.mountType = s.mountType;
    site_.latitude = s.latitude;
    site_.longitude = s.longitude;
    site_.hysteresis = s.meridianFlipHysteresis;

    setControlsEnabled(true, s.featureLevel);
}

bool DlgConfig::onCommand(ControlModel& m, ControlId id, int notification) {
    // Escape comes as a click on 2: the one key that always stops the mount, as "Stop" does.
    if (id == kIdCancel && notification == notify::kClicked) {
        if (m.isEnabled(kIdStop)) {
            control_.stopMove(direction::kBoth);
        }
        return true;
    }
    if (notification == notify::kKillFocus && onFieldLeft(m, id)) {
        return true;
    }
    if (notification == notify::kClicked && onSettingsMenu(m, id)) {
        return true;
    }
    return onButton(m, id);
}

bool DlgConfig::onButton(ControlModel& m, ControlId id) {
    switch (id) {
        case kIdConnect: {
            const int index = m.selection(kIdPortList);
            // With no selection at all there is no port to name; port numbers start at 1.
            const uint32_t port = index < 0 ? 1 : static_cast<uint32_t>(index) + 1;
            control_.connect(port, m.isChecked(kIdBaud115200) ? 115200 : 9600);
            return true;
        }
        case kIdDisconnect:
            control_.disconnect();
            return true;
        case kIdMeasureVoltage:
            control_.measureVoltage();
            return true;
        case kIdStop:
            control_.stopMove(direction::kBoth);
            return true;
        case kIdMoveNorth:
            control_.startMove(direction::kNorth, position(m, kIdSpeed));
            return true;
        case kIdMoveSouth:
            control_.startMove(direction::kSouth, position(m, kIdSpeed));
            return true;
        case kIdMoveWest:
            control_.startMove(direction::kWest, position(m, kIdSpeed));
            return true;
        case kIdMoveEast:
            control_.startMove(direction::kEast, position(m, kIdSpeed));
            return true;
        case kIdSidereal:
            m.setSliderPos(kIdSpeed, 2);
            return true;
        case kIdSidereal2x:
            m.setSliderPos(kIdSpeed, 5);
            return true;
        case kIdTrackOn:
            m.setChecked(kIdTrackOn, true);
            m.setChecked(kIdTrackOff, false);
            control_.setTracking(1);
            return true;
        case kIdTrackOff:
            m.setChecked(kIdTrackOn, false);
            m.setChecked(kIdTrackOff, true);
            control_.setTracking(0);
            return true;
        case kIdExpOn:
            control_.setExp(1);
            return true;
        case kIdExpOff:
            control_.setExp(0);
            return true;
        case kIdAdvancedSettings:
            if (showAdvancedSettingsDialog(m, site_) != 0 && site_.changeMask != 0) {
                control_.applySiteSettings(site_);
            }
            return true;
        case kIdInitScope:
            if (showInitScopeDialog(m, initPosition_) == 1) {
                control_.initScope(static_cast<uint32_t>(initPosition_));
            }
            return true;
        case kIdDefinePark:
            control_.defineParkPosition();
            return true;
        case kIdReloadDefaults:
            control_.reloadDefaults();
            return true;
        case kIdSaveSettings:
            control_.storeSettings();
            return true;
        case kIdAbout:
            static_cast<void>(showAboutDialog(m));
            return true;
        case kIdChangeGearRatio:
            // Sent even when unchanged: confirming is how the user rewrites the ratios.
            if (showGearRatioDialog(m, gearRatios_) == 1) {
                control_.setGearRatios(gearRatios_.ra, gearRatios_.de);
            }
            return true;
        case kIdReverseRotationRa:
        case kIdReverseGuidingRa:
        case kIdReverseLimitsRa:
        case kIdReverseRotationDe:
        case kIdReverseGuidingDe:
        case kIdReverseLimitsDe:
            sendReverseFlags(m);
            return true;
        default:
            return false;
    }
}

void DlgConfig::sendReverseFlags(ControlModel& m) {
    auto pair = [&](ControlId raBox) {
        return (m.isChecked(raBox) ? 1u : 0u) + (m.isChecked(onAxis(raBox, kDe)) ? 2u : 0u);
    };
    control_.setReverseFlags(pair(kIdReverseRotationRa), pair(kIdReverseGuidingRa),
                             pair(kIdReverseLimitsRa));
}

bool DlgConfig::onFieldLeft(ControlModel& m, ControlId id) {
    for (int axis : {kRa, kDe}) {
        const ControlId ra = axis == kDe ? id - kDecOffset : id;
        switch (ra) {
            case kIdMaxSpeedRa:
                leaveMaxSpeed(m, axis);
                return true;
            case kIdAccelRa:
                leaveRamp(m, axis, true);
                return true;
            case kIdDecelRa:
                leaveRamp(m, axis, false);
                return true;
            case kIdIdleCurrentRa:
                leaveCurrent(m, axis, kIdle);
                return true;
            case kIdTrackCurrentRa:
                leaveCurrent(m, axis, kTrack);
                return true;
            case kIdRunCurrentRa:
                leaveCurrent(m, axis, kRun);
                return true;
            case kIdOvertoneRa:
                leaveOvertone(m, axis);
                return true;
            case kIdIncCurrentRa:
                leaveIncCurrent(m, axis);
                return true;
            default:
                break;
        }
    }
    return false;
}

SettingRange DlgConfig::validFor(const char* setting, int axis) const {
    const SettingField* field = findSettingField(setting);
    return field != nullptr ? validRange(*field, settings_, axis) : SettingRange{};
}

void DlgConfig::leaveMaxSpeed(ControlModel& m, int axis) {
    int64_t v = 0;
    if (!readSetting(m, onAxis(kIdMaxSpeedRa, axis), lastMaxSpeed_[axis],
                     validFor("maxSpeed", axis), v) ||
        v == lastMaxSpeed_[axis]) {
        return;
    }
    lastMaxSpeed_[axis] = static_cast<uint16_t>(v);
    placeSlider(m, onAxis(kIdMaxSpeedSliderRa, axis), maxSpeedToSlider(lastMaxSpeed_[axis]));
    control_.setMaxSpeeds(lastMaxSpeed_[kRa], lastMaxSpeed_[kDe]);
}

void DlgConfig::leaveRamp(ControlModel& m, int axis, bool acceleration) {
    uint8_t* last = acceleration ? lastAcceleration_ : lastDeceleration_;
    const ControlId field = onAxis(acceleration ? kIdAccelRa : kIdDecelRa, axis);
    int64_t v = 0;
    if (!readSetting(m, field, last[axis],
                     validFor(acceleration ? "acceleration" : "deceleration", axis), v) ||
        v == last[axis]) {
        return;
    }
    last[axis] = static_cast<uint8_t>(v);
    placeSlider(m, onAxis(acceleration ? kIdAccelSliderRa : kIdDecelSliderRa, axis),
                rampToSlider(last[axis]));
    if (acceleration) {
        control_.setAccelerations(last[kRa], last[kDe]);
    } else {
        control_.setDecelerations(last[kRa], last[kDe]);
    }
}

void DlgConfig::leaveCurrent(ControlModel& m, int axis, int which) {
    const ControlId field = onAxis(kCurrentField[which], axis);
    const uint32_t maxCurrent = maxCurrent_[axis];
    int64_t v = 0;
    if (!readSetting(m, field, lastCurrent_[axis][which], validFor("motorCurrent", axis), v, false,
                     currentShown_[axis][which])) {
        return;
    }
    currentShown_[axis][which] = true;
    const auto current = static_cast<uint16_t>(v);
    // The slider follows the field even when the value is unchanged.
    if (maxCurrent != 0) {
        placeSlider(m, onAxis(kCurrentSlider[which], axis), currentToSlider(current, maxCurrent));
    }
    if (current == lastCurrent_[axis][which]) {
        return;
    }
    lastCurrent_[axis][which] = current;
    control_.setMotorCurrent(selector(axis, which), current);
}

void DlgConfig::leaveOvertone(ControlModel& m, int axis) {
    int64_t v = 0;
    if (!readSetting(m, onAxis(kIdOvertoneRa, axis), lastOvertone_[axis],
                     validFor("thirdOvertone", axis), v, true) ||
        v == lastOvertone_[axis]) {
        return;
    }
    lastOvertone_[axis] = static_cast<int16_t>(v);
    placeSlider(m, onAxis(kIdOvertoneSliderRa, axis), lastOvertone_[axis]);
    control_.setOvertone(axisMask(axis), lastOvertone_[axis]);
}

void DlgConfig::leaveIncCurrent(ControlModel& m, int axis) {
    int64_t v = 0;
    if (!readSetting(m, onAxis(kIdIncCurrentRa, axis), lastIncCurrent_[axis],
                     validFor("incCurrentAt", axis), v) ||
        v == lastIncCurrent_[axis]) {
        return;
    }
    lastIncCurrent_[axis] = static_cast<uint16_t>(v);
    placeSlider(m, onAxis(kIdIncCurrentSliderRa, axis), incCurrentToSlider(lastIncCurrent_[axis]));
    control_.setCurrentBoost(axisMask(axis), lastIncCurrent_[axis], lastIncCurrent_[axis]);
}

void DlgConfig::onHScroll(int scrollCode, ControlId slider) {
    // Only the end of a drag or key press counts; positions set by the program never come here.
    if (scrollCode != kScrollEndTrack || window_ == nullptr) {
        return;
    }
    ControlModel& m = *window_;
    // A slider let go where it was put (a click on its handle, a key at the end of its range, the
    // second end-of-track report of one release) was not moved: it stands for nothing new.
    const int index = axisSliderIndex(slider);
    if (index < 0 || m.sliderPos(slider) == placed_[index]) {
        return;
    }
    placed_[index] = m.sliderPos(slider);
    for (int axis : {kRa, kDe}) {
        const ControlId ra = axis == kDe ? slider - kDecOffset : slider;
        switch (ra) {
            case kIdMaxSpeedSliderRa:
                releaseMaxSpeed(m, axis);
                return;
            case kIdAccelSliderRa:
                releaseRamp(m, axis, true);
                return;
            case kIdDecelSliderRa:
                releaseRamp(m, axis, false);
                return;
            case kIdIdleCurrentSliderRa:
                releaseCurrent(m, axis, kIdle);
                return;
            case kIdTrackCurrentSliderRa:
                releaseCurrent(m, axis, kTrack);
                return;
            case kIdRunCurrentSliderRa:
                releaseCurrent(m, axis, kRun);
                return;
            case kIdIdleDecayRa:
            case kIdTrackDecayRa:
            case kIdRunDecayRa:
                // Sent on every release: the dialog keeps no last-sent decay.
                control_.setDecay(selector(axis, ra - kIdIdleDecayRa), position(m, slider));
                return;
            case kIdOvertoneSliderRa:
                releaseOvertone(m, axis);
                return;
            case kIdIncCurrentSliderRa:
                releaseIncCurrent(m, axis);
                return;
            case kIdGuidingRa:
                // Sent on every release; the other axis goes with the value it last showed.
                lastGuiding_[axis] = static_cast<uint16_t>(position(m, slider) + 1);
                control_.setGuidingRates(lastGuiding_[kRa], lastGuiding_[kDe]);
                return;
            default:
                break;
        }
    }
}

void DlgConfig::releaseMaxSpeed(ControlModel& m, int axis) {
    const ControlId field = onAxis(kIdMaxSpeedRa, axis);
    m.setUnsigned(field, 30 * (position(m, onAxis(kIdMaxSpeedSliderRa, axis)) + 1));
    const IntRead read = m.readUnsigned(field);
    const uint32_t v = std::min(read.value, kMax16);
    if (!read.ok || v == lastMaxSpeed_[axis]) {
        return;
    }
    lastMaxSpeed_[axis] = static_cast<uint16_t>(v);
    control_.setMaxSpeeds(lastMaxSpeed_[kRa], lastMaxSpeed_[kDe]);
}

void DlgConfig::releaseRamp(ControlModel& m, int axis, bool acceleration) {
    // Only the released slider's axis is read from its slider: the other axis's slider stands for
    // a rounded value, and sending that would change a setting the user did not touch.
    uint8_t* last = acceleration ? lastAcceleration_ : lastDeceleration_;
    const ControlId slider = onAxis(acceleration ? kIdAccelSliderRa : kIdDecelSliderRa, axis);
    const uint32_t v = std::min(16 * position(m, slider), kMax8);
    if (v == last[axis]) {
        return;
    }
    last[axis] = static_cast<uint8_t>(v);
    m.setUnsigned(onAxis(acceleration ? kIdAccelRa : kIdDecelRa, axis), v);
    if (acceleration) {
        control_.setAccelerations(last[kRa], last[kDe]);
    } else {
        control_.setDecelerations(last[kRa], last[kDe]);
    }
}

void DlgConfig::releaseCurrent(ControlModel& m, int axis, int which) {
    // Without a known maximum a slider position stands for no current at all; taking it as 0 mA
    // would switch the motor's current off. The field and the controller keep what they have.
    if (maxCurrent_[axis] == 0) {
        return;
    }
    const ControlId field = onAxis(kCurrentField[which], axis);
    const uint64_t p = position(m, onAxis(kCurrentSlider[which], axis));
    currentShown_[axis][which] = true;
    m.setUnsigned(
        field, static_cast<uint32_t>(std::min<uint64_t>((p + 1) * maxCurrent_[axis] / 16, kMax16)));
    const IntRead read = m.readUnsigned(field);
    const uint32_t v = std::min(read.value, kMax16);
    if (!read.ok || v == lastCurrent_[axis][which]) {
        return;
    }
    lastCurrent_[axis][which] = static_cast<uint16_t>(v);
    control_.setMotorCurrent(selector(axis, which), v);
}

void DlgConfig::releaseOvertone(ControlModel& m, int axis) {
    const int p =
        std::clamp(m.sliderPos(onAxis(kIdOvertoneSliderRa, axis)), kOvertoneMin, kOvertoneMax);
    if (p == lastOvertone_[axis]) {
        return;
    }
    lastOvertone_[axis] = static_cast<int16_t>(p);
    m.setSigned(onAxis(kIdOvertoneRa, axis), p);
    control_.setOvertone(axisMask(axis), p);
}

void DlgConfig::releaseIncCurrent(ControlModel& m, int axis) {
    const uint32_t v = 20 * (position(m, onAxis(kIdIncCurrentSliderRa, axis)) + 1);
    if (v == lastIncCurrent_[axis]) {
        return;
    }
    lastIncCurrent_[axis] = static_cast<uint16_t>(v);
    m.setUnsigned(onAxis(kIdIncCurrentRa, axis), v);
    control_.setCurrentBoost(axisMask(axis), v, v);
}

}  // namespace vornic::ui

namespace vornic::ui {

void DlgConfig::placeSlider(ControlModel& m, ControlId slider, int position) {
    m.setSliderPos(slider, position);
    const int index = axisSliderIndex(slider);
    if (index >= 0) {
        placed_[index] = m.sliderPos(slider);
    }
}

}  // namespace vornic::ui
