#include "ui/SecondaryDialogs.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <string>

#include "controller/SettingTable.h"
#include "text/Text.h"

namespace vornic::ui {

namespace {

struct ReferencePosition {
    const char* name;
    const char* explanation;
};

constexpr ReferencePosition kPositions[init_dlg::kPositionCount] = {
    {"Default east side - Equator",
     "Counterweight points to west, scope at the eastern side, looks to the Equator."},
    {"West side - Equator",
     "Counterweight points to east, scope at the western side, looks to the Equator."},
    {"East side - Zenith",
     "Counterweight points to west, scope at the eastern side, looks to the Zenith."},
    {"West side - Zenith",
     "Counterweight points to east, scope at the western side, looks to the Zenith."},
    {"East side - South Horizon",
     "Counterweight points to west, scope at the eastern side, looks to the south Horizon."},
    {"West side - South Horizon",
     "Counterweight points to east, scope at the western side, looks to the south Horizon."},
    {"East side - North Horizon",
     "Counterweight points to west, scope at the eastern side, looks to the north Horizon."},
    {"West side - North Horizon",
     "Counterweight points to east, scope at the western side, looks to the north Horizon."},
    {"Eastern Horizon", "Counterweight points to ground, telescope looks to the eastern Horizon."},
    {"Western Horizon", "Counterweight points to ground, telescope looks to the western Horizon."},
};

bool validPositionIndex(int index) {
    return index >= 0 && index < init_dlg::kPositionCount;
}

// Reads an angle field. Returns false when the text holds no digit at all: such a text is not an
// angle, and the caller keeps the value it had.
bool readAngleField(const ControlModel& model, ControlId id, int kind, int32_t& angle) {
    const std::string text = model.text(id);
    char buffer[site_dlg::kAngleBufferSize] = {};
    const size_t length = std::min<size_t>(text.size(), site_dlg::kAngleTextMax);
    std::memcpy(buffer, text.data(), length);
    if (std::none_of(buffer, buffer + length, [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    // The angle reader adds its parts up in 32 bits, so a part of four or more digits could wrap
    // round to an angle in range ("N 49711:00:00" would read as N 0:43:50). No part of a real angle
    // has more than three significant digits: such text reads as an angle beyond any range, which
    // the caller refuses.
    size_t significant = 0;
    for (size_t i = 0; i < length; ++i) {
        const bool digit = buffer[i] >= '0' && buffer[i] <= '9';
        if (!digit) {
            significant = 0;
        } else if (significant > 0 || buffer[i] != '0') {
            if (++significant > 3) {
                angle = INT32_MAX;
                return true;
            }
        }
    }
    readAngle(buffer, sizeof buffer, 0, &angle, kind);
    return true;
}

// Reads the hysteresis field as degrees, capped at 255. Returns false when it holds no whole
// number; a number too long for the field reader is still a number, and capped.
bool readHysteresis(const ControlModel& model, uint32_t& degrees) {
    const IntRead read = model.readUnsigned(site_dlg::kHysteresis);
    if (read.ok) {
        degrees = std::min<uint32_t>(read.value, 255);
        return true;
    }
    const std::string text = model.text(site_dlg::kHysteresis);
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos) {
        return false;
    }
    for (size_t i = first; i <= last; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    degrees = 255;
    return true;
}

}  // namespace

// "N 47:30:15": the hemisphere letter, a space, then the magnitude as D:MM:SS.
std::string angleText(int32_t angle, const char* positive, const char* negative) {
    char buffer[site_dlg::kAngleBufferSize] = {};
    uint32_t end = appendText(buffer, sizeof buffer, 0, angle >= 0 ? positive : negative);
    // The magnitude of the most negative angle does not fit; one unit less gives the same text,
    // since parts below an arc-second are not shown.
    const int32_t magnitude = angle >= 0 ? angle
                              : angle == std::numeric_limits<int32_t>::min()
                                  ? std::numeric_limits<int32_t>::max()
                                  : -angle;
    end = appendAngle(buffer, sizeof buffer, end, magnitude);
    return std::string(buffer, end);
}

const char* initPositionName(int index) {
    return validPositionIndex(index) ? kPositions[index].name : "";
}

const char* initPositionExplanation(int index) {
    return validPositionIndex(index) ? kPositions[index].explanation : "";
}

// --- Set gear ratio ---

void GearRatioDialog::onInit(ControlModel& model) {
    shown_ = record_;
    model.setUnsigned(gear_dlg::kRa, record_.ra);
    model.setUnsigned(gear_dlg::kDe, record_.de);
}

bool GearRatioDialog::onCommand(ControlModel& model, ControlId id, int notification) {
    if (notification != notify::kClicked) {
        return false;
    }
    if (id == kIdOk) {
        // A ratio of zero or a text that is no whole number would stop the axis from moving at
        // all: the dialog stays open, the field shows the ratio the axis has, and the note line
        // says what can be given. Nothing is written until both fields hold a ratio.
        const SettingField* field = findSettingField("gearRatio");
        const SettingRange range = field != nullptr ? field->typed : SettingRange{1, 0xFFFFFFFF};
        const struct {
            ControlId id;
            uint32_t shown;
            const char* name;
        } fields[] = {{gear_dlg::kRa, shown_.ra, "RA gear ratio"},
                      {gear_dlg::kDe, shown_.de, "DE gear ratio"}};
        uint32_t values[2] = {};
        for (int axis = 0; axis < 2; ++axis) {
            const IntRead read = model.readUnsigned(fields[axis].id);
            values[axis] = read.value;
            if (read.ok && (read.value == fields[axis].shown || range.holds(read.value))) {
                continue;
            }
            const std::string limits = std::to_string(range.min) + ".." + std::to_string(range.max);
            model.setText(gear_dlg::kNote,
                          std::string(fields[axis].name) + ": " +
                              (read.ok ? std::to_string(read.value) + " is out of range "
                                       : std::string("not a whole number in ")) +
                              limits);
            model.setUnsigned(fields[axis].id, fields[axis].shown);
            return true;
        }
        if (values[0] != shown_.ra) {
            record_.ra = values[0];
        }
        if (values[1] != shown_.de) {
            record_.de = values[1];
        }
        model.endDialog(1);
        return true;
    }
    if (id == kIdCancel) {
        model.endDialog(0);
        return true;
    }
    return false;
}

// --- Advanced settings ---

namespace {

void checkMountType(ControlModel& model, ControlId chosen) {
    for (ControlId id = site_dlg::kEquatorialGerman; id <= site_dlg::kAltAzimuth; ++id) {
        model.setChecked(id, id == chosen);
    }
}

}  // namespace

void AdvancedSettingsDialog::onInit(ControlModel& model) {
    shown_ = record_;
    model.setText(site_dlg::kLatitude, angleText(record_.latitude, "N ", "S "));
    model.setText(site_dlg::kLongitude, angleText(record_.longitude, "E ", "W "));
    const uint32_t mountType = record_.mountType & 0xFFu;
    checkMountType(model, site_dlg::kEquatorialGerman +
                              static_cast<ControlId>(std::min<uint32_t>(mountType, 2)));
    model.setUnsigned(site_dlg::kHysteresis, record_.hysteresis & 0xFFu);
}

bool AdvancedSettingsDialog::onCommand(ControlModel& model, ControlId id, int notification) {
    if (notification != notify::kClicked) {
        return false;
    }
    if (id >= site_dlg::kEquatorialGerman && id <= site_dlg::kAltAzimuth) {
        checkMountType(model, id);
        return true;
    }
    if (id == kIdOk) {
        confirm(model);
        return true;
    }
    if (id == kIdCancel) {
        model.endDialog(0);
        return true;
    }
    return false;
}

void AdvancedSettingsDialog::confirm(ControlModel& model) {
    uint32_t changes = 0;

    // An angle beyond the pole or the date line is no place on Earth: the dialog stays open, the
    // field shows the stored angle and the hint line says what can be given.
    const struct {
        ControlId id;
        int kind;
        const char* setting;
        const char* name;
        int32_t shown;
        const char* positive;
        const char* negative;
    } angles[] = {
        {site_dlg::kLatitude, kAngleLatitude, "latitude", "Latitude", shown_.latitude, "N ", "S "},
        {site_dlg::kLongitude, kAngleLongitude, "longitude", "Longitude", shown_.longitude, "E ",
         "W "},
    };
    int32_t values[2] = {shown_.latitude, shown_.longitude};
    for (int i = 0; i < 2; ++i) {
        const SettingField* field = findSettingField(angles[i].setting);
        int32_t angle = 0;
        if (!readAngleField(model, angles[i].id, angles[i].kind, angle) ||
            angle == angles[i].shown) {
            continue;
        }
        if (field == nullptr || field->typed.holds(angle)) {
            values[i] = angle;
            continue;
        }
        const auto limit = [&](int64_t v) {
            return angleText(static_cast<int32_t>(v), angles[i].positive, angles[i].negative);
        };
        model.setText(site_dlg::kHysteresisHint, std::string(angles[i].name) + ": out of range " +
                                                     limit(field->typed.min) + ".." +
                                                     limit(field->typed.max));
        model.setText(angles[i].id,
                      angleText(angles[i].shown, angles[i].positive, angles[i].negative));
        return;
    }
    if (values[0] != shown_.latitude) {
        record_.latitude = values[0];
        changes |= site::kLatitudeChanged;
    }
    if (values[1] != shown_.longitude) {
        record_.longitude = values[1];
        changes |= site::kLongitudeChanged;
    }

    const uint32_t mountType = model.isChecked(site_dlg::kAltAzimuth)       ? 2
                               : model.isChecked(site_dlg::kEquatorialFork) ? 1
                                                                            : 0;
    if (mountType != (shown_.mountType & 0xFFu)) {
        record_.mountType = mountType;
        changes |= site::kMountTypeChanged;
    }

    // The controller holds the hysteresis in one byte: larger numbers mean its largest value.
    uint32_t degrees = 0;
    if (readHysteresis(model, degrees) && degrees != (shown_.hysteresis & 0xFFu)) {
        record_.hysteresis = degrees;
        changes |= site::kHysteresisChanged;
    }

    record_.changeMask = changes;
    model.endDialog(1);
}

// --- Initialize telescope ---

void InitScopeDialog::onInit(ControlModel& model) {
    for (const ReferencePosition& position : kPositions) {
        model.addItem(init_dlg::kPositions, position.name);
    }
    model.setSelection(init_dlg::kPositions, 0);
}

bool InitScopeDialog::onCommand(ControlModel& model, ControlId id, int notification) {
    if (id == init_dlg::kPositions && notification == notify::kSelChange) {
        const int index = model.selection(init_dlg::kPositions);
        if (validPositionIndex(index)) {
            model.setText(init_dlg::kExplanation, kPositions[index].explanation);
        }
        return true;
    }
    if (notification != notify::kClicked) {
        return false;
    }
    if (id == kIdOk) {
        const int index = model.selection(init_dlg::kPositions);
        if (validPositionIndex(index)) {
            code_ = init_dlg::kFirstPositionCode + index;
        }
        model.endDialog(1);
        return true;
    }
    if (id == kIdCancel) {
        model.endDialog(0);
        return true;
    }
    return false;
}

// --- About ---

void AboutDialog::onInit(ControlModel& /*model*/) {
    // Everything the box shows comes with its layout; the link's look is the backend's.
}

bool AboutDialog::onCommand(ControlModel& model, ControlId id, int notification) {
    if (notification != notify::kClicked) {
        return false;
    }
    if (id == about_dlg::kLink) {
        model.openUrl(about_dlg::kUrl);
        return true;
    }
    if (id == kIdOk || id == kIdCancel) {
        model.endDialog(1);
        return true;
    }
    return false;
}

// --- Show functions ---

int showGearRatioDialog(ControlModel& owner, GearRatios& record) {
    GearRatioDialog dialog(record);
    return owner.runModal(dialog);
}

int showAdvancedSettingsDialog(ControlModel& owner, SiteSettings& record) {
    AdvancedSettingsDialog dialog(record);
    return owner.runModal(dialog);
}

int showInitScopeDialog(ControlModel& owner, int32_t& code) {
    InitScopeDialog dialog(code);
    return owner.runModal(dialog);
}

int showAboutDialog(ControlModel& owner) {
    AboutDialog dialog;
    return owner.runModal(dialog);
}

}  // namespace vornic::ui
