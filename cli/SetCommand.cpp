#include "cli/SetCommand.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "cli/Backup.h"
#include "text/Number.h"
#include "text/Quote.h"
#include "text/Text.h"

namespace vornic::cli {

namespace {

std::string lower(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

// A whole number in decimal (with an optional "-") or 0x hexadecimal, of a sane size: far
// beyond every setting's range, far within int64_t.
bool parseInteger(const std::string& text, int64_t& value) {
    constexpr uint64_t kSaneMagnitude = 0xFFFFFFFFFFFFull;
    bool negative = false;
    uint64_t magnitude = 0;
    if (!readWholeNumber(text, true, kSaneMagnitude, negative, magnitude)) {
        return false;
    }
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

bool parseValue(const std::string& text, const char* name, int64_t min, int64_t max, int64_t& value,
                std::string& error) {
    if (!parseInteger(text, value)) {
        error = std::string(name) + ": not a whole number: " + shown(text);
        return false;
    }
    if (value < min || value > max) {
        error = std::string(name) + ": " + shown(text) + " is out of range " + std::to_string(min) +
                ".." + std::to_string(max);
        return false;
    }
    return true;
}

int parseAxis(const std::string& word) {
    const std::string w = lower(word);
    if (w == "ra") {
        return 0;
    }
    if (w == "de" || w == "dec") {
        return 1;
    }
    if (w == "both") {
        return -1;
    }
    return -2;
}

int parseSlot(const std::string& word) {
    const std::string w = lower(word);
    if (w == "idle") {
        return 0;
    }
    if (w == "track") {
        return 1;
    }
    if (w == "run") {
        return 2;
    }
    return -1;
}

bool parseOnOff(const std::string& word, bool& on) {
    const std::string w = lower(word);
    if (w == "on" || w == "1" || w == "true" || w == "yes") {
        on = true;
        return true;
    }
    if (w == "off" || w == "0" || w == "false" || w == "no") {
        on = false;
        return true;
    }
    return false;
}

// The canonical name of a setting as the user may write it, or "".
std::string canonicalName(const std::string& word) {
    static const char* const kNames[] = {
        "gearRatio",
        "maxSpeed",
        "acceleration",
        "deceleration",
        "motorCurrent",
        "decay",
        "thirdOvertone",
        "incCurrentAt",
        "guidingRate",
        "reverse",
        "reverseRotation",
        "reverseAutoguiding",
        "reverseLimitSwitches",
        "site",
        "mountType",
        "latitude",
        "longitude",
        "meridianFlipHysteresis",
    };
    const std::string w = lower(word);
    for (const char* name : kNames) {
        if (w == lower(name)) {
            return name;
        }
    }
    if (w == "hysteresis") {
        return "meridianFlipHysteresis";
    }
    return "";
}

std::string reverseFieldFor(const std::string& word) {
    const std::string w = lower(word);
    if (w == "rotation") {
        return "reverseRotation";
    }
    if (w == "autoguiding") {
        return "reverseAutoguiding";
    }
    if (w == "limitswitches" || w == "limit-switches" || w == "limit") {
        return "reverseLimitSwitches";
    }
    return "";
}

OpCall call(const char* name, std::initializer_list<uint32_t> args) {
    OpCall c;
    c.info = findOperation(name);
    size_t i = 0;
    for (const uint32_t arg : args) {
        c.args[i++] = arg;
    }
    return c;
}

const char* kSetUsage =
    "set gearRatio|maxSpeed|acceleration|deceleration|guidingRate|thirdOvertone|incCurrentAt "
    "(RA DE | ra|de VALUE); set motorCurrent|decay ra|de idle|track|run VALUE; set reverse "
    "rotation|autoguiding|limitSwitches ra|de|both on|off; set site [--latitude TEXT] "
    "[--longitude TEXT] [--mount-type 0..2] [--hysteresis 0..255]";

}  // namespace

bool parseAngleArgument(const std::string& text, bool latitude, int32_t& angle,
                        std::string& error) {
    const char* what = latitude ? "latitude" : "longitude";
    // Trimmed, since the reader looks at one leading space only.
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos) {
        error = std::string(what) + ": empty";
        return false;
    }
    const std::string t = text.substr(first, last - first + 1);
    size_t pos = 0;
    const char positive = latitude ? 'N' : 'E';
    const char negative = latitude ? 'S' : 'W';
    bool letter = false;
    if (pos < t.size() && std::isalpha(static_cast<unsigned char>(t[pos]))) {
        const char hemisphere = static_cast<char>(std::toupper(static_cast<unsigned char>(t[pos])));
        if (hemisphere != positive && hemisphere != negative) {
            error = std::string(what) + ": the hemisphere must be " + positive + " or " + negative +
                    ": " + shown(text);
            return false;
        }
        letter = true;
        ++pos;
    }
    while (pos < t.size() && t[pos] == ' ') {
        ++pos;
    }
    if (pos < t.size() && t[pos] == '-') {
        // The angle reader would let the sign cancel the letter: "S -47" would mean north.
        if (letter) {
            error = std::string(what) +
                    ": give a hemisphere letter or a minus sign, not both: " + shown(text);
            return false;
        }
        ++pos;
    }
    // Degrees, then up to two more groups below 60, separated by ":" or ".".
    int64_t groups[3] = {};
    int count = 0;
    while (count < 3) {
        const size_t start = pos;
        while (pos < t.size() && std::isdigit(static_cast<unsigned char>(t[pos]))) {
            ++pos;
        }
        const size_t digits = pos - start;
        if (digits == 0 || digits > (count == 0 ? 3u : 2u)) {
            error = std::string(what) + ": expected [" + positive + "|" + negative +
                    "] D:MM:SS, got: " + shown(text);
            return false;
        }
        groups[count++] = std::stoll(t.substr(start, digits));
        if (pos == t.size()) {
            break;
        }
        if (t[pos] != ':' && t[pos] != '.') {
            error = std::string(what) + ": expected [" + positive + "|" + negative +
                    "] D:MM:SS, got: " + shown(text);
            return false;
        }
        ++pos;
    }
    if (pos != t.size()) {
        error = std::string(what) + ": expected [" + positive + "|" + negative +
                "] D:MM:SS, got: " + shown(text);
        return false;
    }
    if (groups[1] > 59 || groups[2] > 59) {
        error = std::string(what) + ": minutes and seconds must be below 60: " + shown(text);
        return false;
    }
    // The conversion itself is the dialog's, so the same text means the same angle everywhere.
    int32_t value = 0;
    readAngle(t.c_str(), static_cast<uint32_t>(t.size()), 0, &value,
              latitude ? kAngleLatitude : kAngleLongitude);
    const int64_t limit = (latitude ? 90 : 180) * int64_t{kAngleUnitsPerDegree};
    if (value > limit || value < -limit) {
        error = std::string(what) + ": beyond " + (latitude ? "90" : "180") +
                " degrees: " + shown(text);
        return false;
    }
    angle = value;
    return true;
}

bool parseSetRequest(const std::vector<std::string>& words, const SiteOptions& site,
                     SetRequest& request, std::string& error) {
    request = SetRequest{};
    if (words.empty()) {
        error = std::string("set needs a setting: ") + kSetUsage;
        return false;
    }
    const std::string name = canonicalName(words[0]);
    if (name.empty()) {
        error = "unknown setting " + shown(words[0]) + ": " + kSetUsage;
        return false;
    }
    const bool siteOptionsGiven =
        site.latitude || site.longitude || site.mountType || site.hysteresis;
    if (siteOptionsGiven && name != "site") {
        error = "--latitude, --longitude, --mount-type and --hysteresis go with set site";
        return false;
    }
    std::vector<std::string> rest(words.begin() + 1, words.end());
    auto wrongCount = [&]() {
        error = "wrong arguments for set " + name + ": " + kSetUsage;
        return false;
    };

    if (name == "site" || name == "mountType" || name == "latitude" || name == "longitude" ||
        name == "meridianFlipHysteresis") {
        request.field = "site";
        SiteOptions options = site;
        if (name != "site") {
            if (rest.size() != 1) {
                return wrongCount();
            }
            int64_t number = 0;
            if (name == "latitude") {
                options.latitude = rest[0];
            } else if (name == "longitude") {
                options.longitude = rest[0];
            } else if (!parseInteger(rest[0], number)) {
                error = name + ": not a whole number: " + shown(rest[0]);
                return false;
            } else if (name == "mountType") {
                options.mountType = number;
            } else {
                options.hysteresis = number;
            }
        } else if (!rest.empty()) {
            return wrongCount();
        }
        if (!options.latitude && !options.longitude && !options.mountType && !options.hysteresis) {
            error =
                "set site needs at least one of --latitude, --longitude, --mount-type, "
                "--hysteresis";
            return false;
        }
        int32_t angle = 0;
        if (options.latitude) {
            if (!parseAngleArgument(*options.latitude, true, angle, error)) {
                return false;
            }
            request.latitude = angle;
        }
        if (options.longitude) {
            if (!parseAngleArgument(*options.longitude, false, angle, error)) {
                return false;
            }
            request.longitude = angle;
        }
        if (options.mountType) {
            if (*options.mountType < 0 || *options.mountType > 2) {
                error =
                    "mount type: must be 0 (equatorial german), 1 (equatorial fork) or 2 "
                    "(alt-azimuth)";
                return false;
            }
            request.mountType = static_cast<uint32_t>(*options.mountType);
        }
        if (options.hysteresis) {
            if (*options.hysteresis < 0 || *options.hysteresis > 255) {
                error = "hysteresis: must be 0..255 degrees";
                return false;
            }
            request.hysteresis = static_cast<uint32_t>(*options.hysteresis);
        }
        return true;
    }

    if (name.rfind("reverse", 0) == 0) {
        std::string field = name;
        if (name == "reverse") {
            if (rest.empty()) {
                return wrongCount();
            }
            field = reverseFieldFor(rest[0]);
            if (field.empty()) {
                error =
                    "set reverse: rotation, autoguiding or limitSwitches, not " + shown(rest[0]);
                return false;
            }
            rest.erase(rest.begin());
        }
        if (rest.size() != 2) {
            return wrongCount();
        }
        request.field = field;
        request.axis = parseAxis(rest[0]);
        if (request.axis == -2) {
            error = "set reverse: axis must be ra, de or both, not " + shown(rest[0]);
            return false;
        }
        if (!parseOnOff(rest[1], request.flagOn)) {
            error = "set reverse: on or off, not " + shown(rest[1]);
            return false;
        }
        return true;
    }

    const SettingField* info = findSettingField(name);
    if (info == nullptr) {
        return wrongCount();
    }
    request.field = name;
    if (info->shape == SettingShape::Triples) {
        if (rest.size() != 3) {
            return wrongCount();
        }
        request.axis = parseAxis(rest[0]);
        if (request.axis < 0) {
            error = "set " + name + ": axis must be ra or de, not " + shown(rest[0]);
            return false;
        }
        request.index = parseSlot(rest[1]);
        if (request.index < 0) {
            error = "set " + name + ": idle, track or run, not " + shown(rest[1]);
            return false;
        }
        return parseValue(rest[2], info->name, info->typed.min, info->typed.max, request.values[0],
                          error);
    }
    // Pairs: "RA DE" or "ra|de VALUE".
    if (rest.size() != 2) {
        return wrongCount();
    }
    const int axisIndex = parseAxis(rest[0]);
    if (axisIndex == 0 || axisIndex == 1) {
        request.axis = axisIndex;
        return parseValue(rest[1], info->name, info->typed.min, info->typed.max,
                          request.values[axisIndex], error);
    }
    // A word that is neither an axis nor a number is a misspelt axis, not a bad value.
    int64_t ignored = 0;
    if (axisIndex == -2 && !parseInteger(rest[0], ignored) &&
        std::isalpha(static_cast<unsigned char>(rest[0][0]))) {
        error = "set " + name + ": " + shown(rest[0]) + " is neither an axis (ra, de) nor a number";
        return false;
    }
    request.axis = -1;
    return parseValue(rest[0], info->name, info->typed.min, info->typed.max, request.values[0],
                      error) &&
           parseValue(rest[1], info->name, info->typed.min, info->typed.max, request.values[1],
                      error);
}

bool buildSetOperations(const SetRequest& request, const MountSettings& current,
                        std::vector<OpCall>& calls, std::string& error, MountSettings* expected) {
    calls.clear();
    MountSettings unused;
    MountSettings& after = expected != nullptr ? *expected : unused;
    after = current;
    const std::string& field = request.field;
    const unsigned level = current.featureLevel;
    const SettingField* info = findSettingField(field == "site" ? "latitude" : field);
    if (info == nullptr) {
        error = "unknown setting " + field;
        return false;
    }
    if (level < info->minLevel) {
        error = "this controller (feature level " + std::to_string(level) + ") has no " +
                (field == "site" ? std::string("site settings") : field + " setting") +
                " (needs feature level " + std::to_string(info->minLevel) + " or more)";
        return false;
    }

    if (field == "site") {
        SiteSettings s;
        s.mountType = request.mountType.value_or(current.mountType);
        s.latitude = request.latitude.value_or(current.latitude);
        s.longitude = request.longitude.value_or(current.longitude);
        s.hysteresis = request.hysteresis.value_or(current.meridianFlipHysteresis);
        if (s.latitude != current.latitude) {
            s.changeMask |= site::kLatitudeChanged;
        }
        if (s.longitude != current.longitude) {
            s.changeMask |= site::kLongitudeChanged;
        }
        if (s.mountType != current.mountType) {
            s.changeMask |= site::kMountTypeChanged;
        }
        if (s.hysteresis != current.meridianFlipHysteresis) {
            s.changeMask |= site::kHysteresisChanged;
        }
        after.mountType = static_cast<uint8_t>(s.mountType);
        after.latitude = s.latitude;
        after.longitude = s.longitude;
        after.meridianFlipHysteresis = static_cast<uint8_t>(s.hysteresis);
        if (s.changeMask != 0) {
            calls.push_back(call("applySiteSettings",
                                 {s.changeMask, s.mountType, static_cast<uint32_t>(s.latitude),
                                  static_cast<uint32_t>(s.longitude), s.hysteresis}));
        }
        return true;
    }

    if (field.rfind("reverse", 0) == 0) {
        uint32_t flags[3] = {current.reverseRotation, current.reverseAutoguiding,
                             current.reverseLimitSwitches};
        const int which = field == "reverseRotation" ? 0 : field == "reverseAutoguiding" ? 1 : 2;
        const uint32_t bits = request.axis == -1 ? 3u : (1u << request.axis);
        flags[which] = request.flagOn ? (flags[which] | bits) : (flags[which] & ~bits);
        after.reverseRotation = static_cast<uint8_t>(flags[0] & 3u);
        after.reverseAutoguiding = static_cast<uint8_t>(flags[1] & 3u);
        after.reverseLimitSwitches = static_cast<uint8_t>(flags[2] & 3u);
        calls.push_back(call("setReverseFlags", {flags[0] & 3u, flags[1] & 3u, flags[2] & 3u}));
        return true;
    }

    if (info->shape == SettingShape::Triples) {
        const int a = request.axis;
        const uint32_t value = static_cast<uint32_t>(request.values[0]);
        const uint32_t selector = kAxisMask[a] + static_cast<uint32_t>(request.index);
        info->set(after, a, request.index, request.values[0]);
        if (field == "motorCurrent") {
            const uint32_t max = current.maxCurrent[a];
            if (max != 0 && value > max) {
                error = "motorCurrent: " + std::to_string(value) + " mA is above the " +
                        (a == 0 ? "RA" : "DE") + " axis's maximum current of " +
                        std::to_string(max) + " mA";
                return false;
            }
            calls.push_back(call("setMotorCurrent", {selector, value}));
        } else {
            calls.push_back(call("setDecay", {selector, value}));
        }
        return true;
    }

    // Pairs: the axis not named keeps the controller's value.
    uint32_t values[2] = {};
    for (int a = 0; a < 2; ++a) {
        const bool given = request.axis == -1 || request.axis == a;
        values[a] = given ? static_cast<uint32_t>(request.values[a])
                          : static_cast<uint32_t>(info->get(current, a, 0));
        if (given) {
            info->set(after, a, 0, request.values[a]);
        }
    }
    if (field == "thirdOvertone" || field == "incCurrentAt") {
        for (int a = 0; a < 2; ++a) {
            if (request.axis != -1 && request.axis != a) {
                continue;
            }
            if (field == "thirdOvertone") {
                calls.push_back(call("setOvertone", {kAxisMask[a], values[a]}));
            } else {
                calls.push_back(call("setCurrentBoost", {kAxisMask[a], values[a], values[a]}));
            }
        }
        return true;
    }
    const char* operation = field == "gearRatio"      ? "setGearRatios"
                            : field == "maxSpeed"     ? "setMaxSpeeds"
                            : field == "acceleration" ? "setAccelerations"
                            : field == "deceleration" ? "setDecelerations"
                                                      : "setGuidingRates";
    calls.push_back(call(operation, {values[0], values[1]}));
    return true;
}

}  // namespace vornic::cli
