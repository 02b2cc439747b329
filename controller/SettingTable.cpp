#include "controller/SettingTable.h"

#include <climits>

namespace vornic {

namespace {

constexpr int64_t kMaxU8 = 0xFF;
constexpr int64_t kMaxU16 = 0xFFFF;
constexpr int64_t kMaxU32 = 0xFFFFFFFF;
constexpr int64_t kMinI32 = INT32_MIN;
constexpr int64_t kMaxI32 = INT32_MAX;
// Angles are counted in 1/86400 of a degree.
constexpr int64_t kNinetyDegrees = 90 * 86400;
constexpr int64_t kHalfTurn = 180 * 86400;

const std::vector<SettingField> kFields = {
    {"gearRatio",
     SettingShape::Pair,
     {1, kMaxU32},
     {0, kMaxU32},
     0,
     [](const MountSettings& s, int a, int) -> int64_t { return s.gearRatio[a]; },
     [](MountSettings& s, int a, int, int64_t v) { s.gearRatio[a] = static_cast<uint32_t>(v); }},
    {"maxSpeed",
     SettingShape::Pair,
     {0, kMaxU16},
     {0, kMaxU16},
     3,
     [](const MountSettings& s, int a, int) -> int64_t { return s.maxSpeed[a]; },
     [](MountSettings& s, int a, int, int64_t v) { s.maxSpeed[a] = static_cast<uint32_t>(v); }},
    {"acceleration",
     SettingShape::Pair,
     {0, kMaxU8},
     {0, kMaxU8},
     3,
     [](const MountSettings& s, int a, int) -> int64_t { return s.acceleration[a]; },
     [](MountSettings& s, int a, int, int64_t v) { s.acceleration[a] = static_cast<uint8_t>(v); }},
    {"deceleration",
     SettingShape::Pair,
     {0, kMaxU8},
     {0, kMaxU8},
     3,
     [](const MountSettings& s, int a, int) -> int64_t { return s.deceleration[a]; },
     [](MountSettings& s, int a, int, int64_t v) { s.deceleration[a] = static_cast<uint8_t>(v); }},
    {"motorCurrent",
     SettingShape::Triples,
     {0, kMaxU16},
     {0, kMaxU16},
     3,
     [](const MountSettings& s, int a, int i) -> int64_t { return s.motorCurrent[a][i]; },
     [](MountSettings& s, int a, int i, int64_t v) {
         s.motorCurrent[a][i] = static_cast<uint16_t>(v);
     }},
    {"decay",
     SettingShape::Triples,
     {0, 3},
     {0, kMaxU8},
     3,
     [](const MountSettings& s, int a, int i) -> int64_t { return s.decay[a][i]; },
     [](MountSettings& s, int a, int i, int64_t v) { s.decay[a][i] = static_cast<uint8_t>(v); }},
    {"thirdOvertone",
     SettingShape::Pair,
     {-20, 20},
     {-128, 127},
     3,
     [](const MountSettings& s, int a, int) -> int64_t { return s.thirdOvertone[a]; },
     [](MountSettings& s, int a, int, int64_t v) { s.thirdOvertone[a] = static_cast<int8_t>(v); }},
    {"incCurrentAt",
     SettingShape::Pair,
     {0, kMaxU16},
     {0, kMaxU16},
     3,
     [](const MountSettings& s, int a, int) -> int64_t { return s.incCurrentAt[a]; },
     [](MountSettings& s, int a, int, int64_t v) { s.incCurrentAt[a] = static_cast<uint16_t>(v); }},
    {"guidingRate",
     SettingShape::Pair,
     {1, 16},
     {0, kMaxU8},
     3,
     [](const MountSettings& s, int a, int) -> int64_t { return s.guidingRate[a]; },
     [](MountSettings& s, int a, int, int64_t v) { s.guidingRate[a] = static_cast<uint16_t>(v); }},
    {"reverseRotation",
     SettingShape::Scalar,
     {0, 3},
     {0, kMaxU8},
     3,
     [](const MountSettings& s, int, int) -> int64_t { return s.reverseRotation; },
     [](MountSettings& s, int, int, int64_t v) { s.reverseRotation = static_cast<uint8_t>(v); }},
    {"reverseAutoguiding",
     SettingShape::Scalar,
     {0, 3},
     {0, 15},
     3,
     [](const MountSettings& s, int, int) -> int64_t { return s.reverseAutoguiding; },
     [](MountSettings& s, int, int, int64_t v) { s.reverseAutoguiding = static_cast<uint8_t>(v); }},
    {"reverseLimitSwitches",
     SettingShape::Scalar,
     {0, 3},
     {0, 15},
     3,
     [](const MountSettings& s, int, int) -> int64_t { return s.reverseLimitSwitches; },
     [](MountSettings& s, int, int, int64_t v) {
         s.reverseLimitSwitches = static_cast<uint8_t>(v);
     }},
    {"mountType",
     SettingShape::Scalar,
     {0, 2},
     {0, kMaxU8},
     5,
     [](const MountSettings& s, int, int) -> int64_t { return s.mountType; },
     [](MountSettings& s, int, int, int64_t v) { s.mountType = static_cast<uint8_t>(v); }},
    {"latitude",
     SettingShape::Scalar,
     {-kNinetyDegrees, kNinetyDegrees},
     {kMinI32, kMaxI32},
     5,
     [](const MountSettings& s, int, int) -> int64_t { return s.latitude; },
     [](MountSettings& s, int, int, int64_t v) { s.latitude = static_cast<int32_t>(v); }},
    {"longitude",
     SettingShape::Scalar,
     {-kHalfTurn, kHalfTurn},
     {kMinI32, kMaxI32},
     5,
     [](const MountSettings& s, int, int) -> int64_t { return s.longitude; },
     [](MountSettings& s, int, int, int64_t v) { s.longitude = static_cast<int32_t>(v); }},
    {"meridianFlipHysteresis",
     SettingShape::Scalar,
     {0, kMaxU8},
     {0, kMaxU8},
     5,
     [](const MountSettings& s, int, int) -> int64_t { return s.meridianFlipHysteresis; },
     [](MountSettings& s, int, int, int64_t v) {
         s.meridianFlipHysteresis = static_cast<uint8_t>(v);
     }},
};

}  // namespace

const std::vector<SettingField>& settingFields() {
    return kFields;
}

size_t settingFieldIndex(std::string_view name) {
    for (size_t i = 0; i < kFields.size(); ++i) {
        if (name == kFields[i].name) {
            return i;
        }
    }
    return kFields.size();
}

const SettingField* findSettingField(std::string_view name) {
    const size_t i = settingFieldIndex(name);
    return i < kFields.size() ? &kFields[i] : nullptr;
}

bool levelHas(const SettingField& field, unsigned featureLevel) {
    return featureLevel >= field.minLevel;
}

SettingRange validRange(const SettingField& field, const MountSettings& controller, int axis) {
    SettingRange range = field.typed;
    const bool perAxis = field.shape != SettingShape::Scalar;
    if (perAxis && (axis == 0 || axis == 1) && std::string_view(field.name) == "motorCurrent") {
        // A controller that reports no maximum (0) leaves the current to the typed range.
        const int64_t max = controller.maxCurrent[axis];
        if (max != 0 && max < range.max) {
            range.max = max;
        }
    }
    return range;
}

}  // namespace vornic
