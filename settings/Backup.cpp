#include "settings/Backup.h"

#include "json/JsonText.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "text/Quote.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

namespace vornic::settings {

namespace {

constexpr int kBackupFormat = 1;
// A backup nests three deep (document, settings, [[...]]); anything much deeper is not ours.
constexpr int kMaxNesting = 8;

constexpr int64_t kMaxU8 = 0xFF;
constexpr int64_t kMaxU32 = 0xFFFFFFFF;

const std::vector<SettingField>& kFields = settingFields();

size_t fieldIndex(const char* name) {
    return settingFieldIndex(name);
}

bool fieldDiffers(const SettingField& info, const MountSettings& a, const MountSettings& b) {
    bool differs = false;
    forEachSettingElement(info.shape, [&](int axisIndex, int index) {
        differs = differs || info.get(a, axisIndex, index) != info.get(b, axisIndex, index);
    });
    return differs;
}

// A whole number from JSON, or false for anything else (fractions, booleans, strings, ...).
bool readInteger(const Json& value, int64_t& out) {
    if (value.is_number_unsigned()) {
        const uint64_t u = value.get<uint64_t>();
        if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            out = std::numeric_limits<int64_t>::max();
        } else {
            out = static_cast<int64_t>(u);
        }
        return true;
    }
    if (value.is_number_integer()) {
        out = value.get<int64_t>();
        return true;
    }
    return false;
}

// A bad value as it may appear in a message: short and printable.
std::string quoted(const Json& value) {
    return shown(value.dump(), 40);
}

bool checkInteger(const Json& value, const std::string& where, int64_t min, int64_t max,
                  int64_t& out, std::string& error) {
    if (!readInteger(value, out)) {
        // The parser keeps a whole number too long for 64 bits as a floating-point value.
        const bool wholeButHuge = value.is_number_float() &&
                                  std::fabs(value.get<double>()) >= 9.2e18 &&
                                  std::isfinite(value.get<double>());
        if (wholeButHuge) {
            error = where + ": the number is out of range " + std::to_string(min) + ".." +
                    std::to_string(max);
        } else {
            error = where + ": must be a whole number, not " + quoted(value);
        }
        return false;
    }
    if (out < min || out > max) {
        error = where + ": " + quoted(value) + " is out of range " + std::to_string(min) + ".." +
                std::to_string(max);
        return false;
    }
    return true;
}

bool checkArray(const Json& value, size_t size, const std::string& where, std::string& error) {
    if (!value.is_array() || value.size() != size) {
        error = where + ": must be an array of " + std::to_string(size) + " values";
        return false;
    }
    return true;
}

bool parseField(const SettingField& info, const Json& value, bool fromController,
                MountSettings& out, std::string& error) {
    const std::string where = std::string("settings.") + info.name;
    const int64_t min = fromController ? info.held.min : info.typed.min;
    const int64_t max = fromController ? info.held.max : info.typed.max;
    int64_t v = 0;
    switch (info.shape) {
        case SettingShape::Scalar:
            if (!checkInteger(value, where, min, max, v, error)) {
                return false;
            }
            info.set(out, 0, 0, v);
            return true;
        case SettingShape::Pair:
            if (!checkArray(value, 2, where + " ([ra, de])", error)) {
                return false;
            }
            for (int a = 0; a < 2; ++a) {
                const std::string element = where + "[" + std::to_string(a) + "]";
                if (!checkInteger(value[static_cast<size_t>(a)], element, min, max, v, error)) {
                    return false;
                }
                info.set(out, a, 0, v);
            }
            return true;
        case SettingShape::Triples:
            if (!checkArray(value, 2, where + " ([[idle, track, run], [idle, track, run]])",
                            error)) {
                return false;
            }
            for (int a = 0; a < 2; ++a) {
                const Json& axisValues = value[static_cast<size_t>(a)];
                const std::string axisWhere = where + "[" + std::to_string(a) + "]";
                if (!checkArray(axisValues, 3, axisWhere + " ([idle, track, run])", error)) {
                    return false;
                }
                for (int i = 0; i < 3; ++i) {
                    const std::string element = axisWhere + "[" + std::to_string(i) + "]";
                    if (!checkInteger(axisValues[static_cast<size_t>(i)], element, min, max, v,
                                      error)) {
                        return false;
                    }
                    info.set(out, a, i, v);
                }
            }
            return true;
    }
    return false;
}

}  // namespace

std::string identityLine(const MountSettings& settings) {
    // The same routine as the main dialog's identity line, so both always read alike.
    char buffer[kIdentityLineSize] = {};
    buildIdentityLine(settings, buffer, sizeof buffer);
    return buffer;
}

Json fieldJson(const SettingField& info, const MountSettings& settings) {
    switch (info.shape) {
        case SettingShape::Scalar:
            return info.get(settings, 0, 0);
        case SettingShape::Pair:
            return Json::array({info.get(settings, 0, 0), info.get(settings, 1, 0)});
        case SettingShape::Triples: {
            Json result = Json::array();
            for (int a = 0; a < 2; ++a) {
                result.push_back(Json::array({info.get(settings, a, 0), info.get(settings, a, 1),
                                              info.get(settings, a, 2)}));
            }
            return result;
        }
    }
    return nullptr;
}

std::string isoDateNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    platform::utcTime(now, utc);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

Json makeBackup(const MountSettings& controller, const std::string& date) {
    Json doc;
    doc["vornicBackup"] = kBackupFormat;
    doc["date"] = date;
    doc["identity"] = identityLine(controller);
    doc["hardwareVersion"] = controller.hardwareVersion;
    doc["firmwareVersion"] = controller.firmwareVersion;
    doc["portType"] = controller.portType;
    doc["featureLevel"] = controller.featureLevel;
    Json settings = Json::object();
    for (const auto& info : kFields) {
        if (controller.featureLevel >= info.minLevel) {
            settings[info.name] = fieldJson(info, controller);
        }
    }
    doc["settings"] = settings;
    return doc;
}

bool parseBackupText(const std::string& text, SettingsImage& image, std::string& error) {
    image = SettingsImage{};
    if (text.size() > kMaxBackupFileBytes) {
        error = "the file is too large to be a backup";
        return false;
    }
    // Deeply nested input would make the parser and the value tree work hard for nothing; a backup
    // is shallow, so anything deeper than a few levels is refused before parsing.
    if (jsonNestingDepth(text) > kMaxNesting) {
        error = "the file is nested too deeply to be a backup";
        return false;
    }
    Json doc;
    std::string duplicate;
    if (!parseJsonOnce(text, doc, duplicate, error)) {
        if (!duplicate.empty()) {
            error = "field " + shown(duplicate, 80) + " is given more than once";
        }
        return false;
    }
    if (!doc.is_object()) {
        error = "the file must hold a JSON object";
        return false;
    }
    int64_t v = 0;
    bool haveFormat = false;
    bool fromController = false;
    const Json* settings = nullptr;
    for (const auto& [key, value] : doc.items()) {
        if (key == "vornicBackup") {
            if (!checkInteger(value, key, kBackupFormat, kBackupFormat, v, error)) {
                return false;
            }
            haveFormat = true;
        } else if (key == "date" || key == "identity") {
            if (!value.is_string()) {
                error = key + ": must be a text";
                return false;
            }
        } else if (key == "hardwareVersion" || key == "firmwareVersion") {
            if (!checkInteger(value, key, 0, kMaxU32, v, error)) {
                return false;
            }
            fromController = true;
            (key == "hardwareVersion" ? image.hardwareVersion : image.firmwareVersion) =
                static_cast<uint32_t>(v);
        } else if (key == "portType") {
            if (!checkInteger(value, key, 0, kMaxU8, v, error)) {
                return false;
            }
            image.portType = static_cast<uint8_t>(v);
        } else if (key == "featureLevel") {
            if (!checkInteger(value, key, 0, 6, v, error)) {
                return false;
            }
        } else if (key == "settings") {
            if (!value.is_object()) {
                error = "settings: must be an object";
                return false;
            }
            settings = &value;
        } else {
            error = "unknown field " + shown(key);
            return false;
        }
    }
    if (!haveFormat) {
        error = "vornicBackup: missing; this is not a vornic backup file";
        return false;
    }
    if (settings == nullptr) {
        error = "settings: missing";
        return false;
    }
    image.fromController = fromController;
    for (const auto& [key, value] : settings->items()) {
        const size_t index = fieldIndex(key.c_str());
        if (index == kFields.size()) {
            error = "unknown field settings." + shown(key);
            return false;
        }
        if (!parseField(kFields[index], value, fromController, image.values, error)) {
            return false;
        }
        image.present[index] = true;
    }
    return true;
}

bool checkAgainstController(const SettingsImage& image, const MountSettings& controller,
                            std::string& error) {
    for (size_t i = 0; i < kFields.size(); ++i) {
        if (!image.has(i)) {
            continue;
        }
        const SettingField& info = kFields[i];
        if (!levelHas(info, controller.featureLevel)) {
            error = std::string("settings.") + info.name + ": this controller (feature level " +
                    std::to_string(controller.featureLevel) +
                    ") does not support this setting (needs feature level " +
                    std::to_string(info.minLevel) + " or more)";
            return false;
        }
    }
    // A file that says it came from a controller gets what a controller can hold, one typed by
    // hand what `set` allows; neither gets past what this controller can hold.
    std::string bad;
    for (size_t i = 0; i < kFields.size() && bad.empty(); ++i) {
        if (!image.has(i)) {
            continue;
        }
        const SettingField& info = kFields[i];
        forEachSettingElement(info.shape, [&](int a, int index) {
            const int64_t value = info.get(image.values, a, index);
            const SettingRange range = image.fromController ? holdableRange(info, controller, a)
                                                            : validRange(info, controller, a);
            if (!bad.empty() || range.holds(value)) {
                return;
            }
            std::string where = std::string("settings.") + info.name;
            if (info.shape != SettingShape::Scalar) {
                where += "[" + std::to_string(a) + "]";
            }
            if (info.shape == SettingShape::Triples) {
                where += "[" + std::to_string(index) + "]";
            }
            const uint32_t max = controller.maxCurrent[a];
            if (std::strcmp(info.name, "motorCurrent") == 0 && max != 0 && value > max) {
                bad = where + ": " + std::to_string(value) +
                      " mA is above this axis's maximum current of " + std::to_string(max) + " mA";
            } else {
                bad = where + ": " + std::to_string(value) + " is out of range " +
                      std::to_string(range.min) + ".." + std::to_string(range.max) +
                      " for this controller";
            }
        });
    }
    if (!bad.empty()) {
        error = bad;
        return false;
    }
    return true;
}

bool checkSameController(const SettingsImage& image, const MountSettings& controller,
                         std::string& error) {
    MountSettings file = controller;
    file.hardwareVersion = image.hardwareVersion.value_or(controller.hardwareVersion);
    file.firmwareVersion = image.firmwareVersion.value_or(controller.firmwareVersion);
    file.portType = image.portType.value_or(controller.portType);
    if (file.hardwareVersion == controller.hardwareVersion &&
        file.firmwareVersion == controller.firmwareVersion &&
        file.portType == controller.portType) {
        return true;
    }
    error = "the file is a backup of another controller (" + identityLine(file) +
            "); the connected one is " + identityLine(controller);
    return false;
}

std::vector<Difference> differences(const SettingsImage& image, const MountSettings& controller) {
    std::vector<Difference> result;
    for (size_t i = 0; i < kFields.size(); ++i) {
        const SettingField& info = kFields[i];
        if (image.has(i) && fieldDiffers(info, image.values, controller)) {
            result.push_back(
                {info.name, fieldJson(info, image.values), fieldJson(info, controller)});
        }
    }
    return result;
}

SettingsImage wholeImage(const MountSettings& settings) {
    SettingsImage image;
    image.values = settings;
    image.fromController = true;
    for (size_t i = 0; i < kFields.size(); ++i) {
        image.present[i] = settings.featureLevel >= kFields[i].minLevel;
    }
    return image;
}

std::vector<OpCall> restorePlan(const SettingsImage& image, const MountSettings& controller) {
    std::vector<OpCall> plan;
    const MountSettings& file = image.values;
    auto wanted = [&](const char* name) {
        const size_t i = fieldIndex(name);
        return image.has(i) && fieldDiffers(kFields[i], file, controller);
    };
    // The value to send for a field: the file's when it has one, else what the controller holds.
    auto pick = [&](const char* name) -> const MountSettings& {
        return image.has(fieldIndex(name)) ? file : controller;
    };

    if (wanted("gearRatio")) {
        plan.push_back(makeCall("setGearRatios", {file.gearRatio[kRa], file.gearRatio[kDe]}));
    }

    uint32_t mask = 0;
    if (wanted("latitude")) {
        mask |= site::kLatitudeChanged;
    }
    if (wanted("longitude")) {
        mask |= site::kLongitudeChanged;
    }
    if (wanted("mountType")) {
        mask |= site::kMountTypeChanged;
    }
    if (wanted("meridianFlipHysteresis")) {
        mask |= site::kHysteresisChanged;
    }
    if (mask != 0) {
        // Coordinates travel as a pair, so an unchanged partner goes with the controller's value.
        plan.push_back(makeCall(
            "applySiteSettings",
            {mask, pick("mountType").mountType, static_cast<uint32_t>(pick("latitude").latitude),
             static_cast<uint32_t>(pick("longitude").longitude),
             pick("meridianFlipHysteresis").meridianFlipHysteresis}));
    }

    if (wanted("maxSpeed")) {
        plan.push_back(makeCall("setMaxSpeeds", {file.maxSpeed[kRa], file.maxSpeed[kDe]}));
    }
    if (wanted("acceleration")) {
        plan.push_back(
            makeCall("setAccelerations", {file.acceleration[kRa], file.acceleration[kDe]}));
    }
    if (wanted("deceleration")) {
        plan.push_back(
            makeCall("setDecelerations", {file.deceleration[kRa], file.deceleration[kDe]}));
    }
    const bool currentsGiven = image.has(fieldIndex("motorCurrent"));
    const bool decayGiven = image.has(fieldIndex("decay"));
    for (int a = 0; a < 2; ++a) {
        for (int i = 0; i < 3; ++i) {
            const uint32_t selector = kAxisMask[a] + static_cast<uint32_t>(i);
            if (currentsGiven && file.motorCurrent[a][i] != controller.motorCurrent[a][i]) {
                plan.push_back(makeCall("setMotorCurrent", {selector, file.motorCurrent[a][i]}));
            }
        }
    }
    for (int a = 0; a < 2; ++a) {
        for (int i = 0; i < 3; ++i) {
            const uint32_t selector = kAxisMask[a] + static_cast<uint32_t>(i);
            if (decayGiven && file.decay[a][i] != controller.decay[a][i]) {
                plan.push_back(makeCall("setDecay", {selector, file.decay[a][i]}));
            }
        }
    }
    if (image.has(fieldIndex("thirdOvertone"))) {
        for (int a = 0; a < 2; ++a) {
            if (file.thirdOvertone[a] != controller.thirdOvertone[a]) {
                plan.push_back(makeCall(
                    "setOvertone", {kAxisMask[a], static_cast<uint32_t>(file.thirdOvertone[a])}));
            }
        }
    }
    if (image.has(fieldIndex("incCurrentAt"))) {
        for (int a = 0; a < 2; ++a) {
            if (file.incCurrentAt[a] != controller.incCurrentAt[a]) {
                plan.push_back(makeCall(
                    "setCurrentBoost", {kAxisMask[a], file.incCurrentAt[a], file.incCurrentAt[a]}));
            }
        }
    }
    if (wanted("guidingRate")) {
        plan.push_back(makeCall("setGuidingRates", {file.guidingRate[kRa], file.guidingRate[kDe]}));
    }
    if (wanted("reverseRotation") || wanted("reverseAutoguiding") ||
        wanted("reverseLimitSwitches")) {
        plan.push_back(makeCall(
            "setReverseFlags",
            {pick("reverseRotation").reverseRotation, pick("reverseAutoguiding").reverseAutoguiding,
             pick("reverseLimitSwitches").reverseLimitSwitches}));
    }
    return plan;
}

bool readFileText(const std::string& path, std::string& text, std::string& error) {
    switch (platform::readRegularFile(path, kMaxBackupFileBytes, text, error)) {
        case platform::FileRead::ok:
            return true;
        case platform::FileRead::missing:
            error = "cannot open " + shown(path, 200) + ": " + std::strerror(ENOENT);
            return false;
        case platform::FileRead::failed:
            return false;
    }
    return false;
}

bool checkWriteTarget(const std::string& path, std::string& error) {
    return platform::checkWritable(path, error);
}

bool writeFileText(const std::string& path, const std::string& text, std::string& error) {
    return platform::replaceFile(path, text, error);
}

}  // namespace vornic::settings
