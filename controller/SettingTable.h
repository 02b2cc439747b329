#pragma once
// The table of a controller's writable settings, shared by every front end.
//
// One row per setting: its name (as a backup and the command line spell it), its shape, the range
// a person may type, the range the record and the wire can carry, the lowest feature level whose
// controller has it, and access to its values in a MountSettings record. The command line's `set`,
// backups and the dialogs all decide from these rows what a controller has and what it may be
// given, so that no way in can send what another refuses.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "controller/MountSettings.h"

namespace vornic {

enum class SettingShape {
    Scalar,   // one value
    Pair,     // RA, DE
    Triples,  // RA idle, track, run; DE idle, track, run
};

struct SettingRange {
    int64_t min = 0;
    int64_t max = 0;
    [[nodiscard]] bool holds(int64_t value) const { return value >= min && value <= max; }
};

struct SettingField {
    const char* name;
    SettingShape shape;
    SettingRange typed;  // what a person may ask for on any controller
    SettingRange held;   // what the record and the wire can carry
    uint8_t minLevel;    // lowest feature level at which the controller has the setting
    int64_t (*get)(const MountSettings&, int axis, int index);
    void (*set)(MountSettings&, int axis, int index, int64_t value);
};

// Every writable setting, in the order a backup lists them.
const std::vector<SettingField>& settingFields();

// The row of a setting by name, or nullptr.
const SettingField* findSettingField(std::string_view name);

// The position of a setting in settingFields(), or settingFields().size() for an unknown name.
size_t settingFieldIndex(std::string_view name);

// Whether a controller at this feature level has the setting.
[[nodiscard]] bool levelHas(const SettingField& field, unsigned featureLevel);

// The values the connected controller may be given for one element of a setting (axis 0 RA, 1 DE;
// 0 for a scalar): the typed range, narrowed by what this controller reports, e.g. a motor current
// by that axis's maximum current when it reports one.
SettingRange validRange(const SettingField& field, const MountSettings& controller, int axis);

// Calls f(axis, index) for every element of a setting of this shape.
template <typename F>
void forEachSettingElement(SettingShape shape, F&& f) {
    switch (shape) {
        case SettingShape::Scalar:
            f(0, 0);
            break;
        case SettingShape::Pair:
            f(0, 0);
            f(1, 0);
            break;
        case SettingShape::Triples:
            for (int a = 0; a < 2; ++a) {
                for (int i = 0; i < 3; ++i) {
                    f(a, i);
                }
            }
            break;
    }
}

}  // namespace vornic
