#include "settings/Operations.h"

#include <cstdlib>
#include <iterator>
#include <sstream>

#include "text/Number.h"
#include "text/Quote.h"

namespace vornic::settings {

const std::vector<OperationInfo>& operationTable() {
    static const std::vector<OperationInfo> kOperations = {
        {"connect", 2, "portNumber baudRate"},
        {"disconnect", 0, ""},
        {"startMove", 2, "direction speedIndex"},
        {"stopMove", 1, "direction"},
        {"setTracking", 1, "on"},
        {"setExp", 1, "on"},
        {"sendCode20", 0, ""},
        {"storeSettings", 0, ""},
        {"sendCode22", 0, ""},
        {"reloadDefaults", 0, ""},
        {"setGearRatios", 2, "ra de"},
        {"setReverseFlags", 3, "rotation autoguiding limitSwitches"},
        {"setMotorCurrent", 2, "selector milliAmps"},
        {"setDecay", 2, "selector decay"},
        {"setMaxSpeeds", 2, "ra de"},
        {"setAccelerations", 2, "ra de"},
        {"setDecelerations", 2, "ra de"},
        {"setOvertone", 2, "axisMask value"},
        {"setCurrentBoost", 3, "axisMask first second"},
        {"setGuidingRates", 2, "ra de"},
        {"setPositionPair", 2, "first second"},
        {"applySiteSettings", 5, "changeMask mountType latitude longitude hysteresis"},
        {"measureVoltage", 0, ""},
        {"initScope", 1, "positionCode"},
        {"defineParkPosition", 0, ""},
    };
    return kOperations;
}

const OperationInfo* findOperation(const std::string& name) {
    for (const auto& info : operationTable()) {
        if (name == info.name) {
            return &info;
        }
    }
    return nullptr;
}

OpCall makeCall(const char* name, std::initializer_list<uint32_t> args) {
    OpCall call;
    call.info = findOperation(name);
    size_t i = 0;
    for (const uint32_t arg : args) {
        if (i < std::size(call.args)) {
            call.args[i++] = arg;
        }
    }
    return call;
}

std::optional<uint32_t> parseNumber(const std::string& text) {
    bool negative = false;
    uint64_t magnitude = 0;
    if (!readWholeNumber(text, true, 0xFFFFFFFFull, negative, magnitude)) {
        return std::nullopt;
    }
    if (!negative) {
        return static_cast<uint32_t>(magnitude);
    }
    // A negative number is taken as its 32-bit two's complement, as far as it fits in int32_t.
    if (magnitude > 0x80000000ull) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(0x100000000ull - magnitude);
}

namespace {

constexpr int64_t kAnyU32 = 0xFFFFFFFF;
constexpr int64_t kAnyI32 = INT32_MIN;

struct ArgumentRule {
    int64_t min;
    int64_t max;
    const char* allowed;  // the values taken, when they are a list rather than a range
    bool (*takes)(int64_t);
};

bool isSelector(int64_t v) {
    return (v >= 0x80 && v <= 0x82) || (v >= 0x40 && v <= 0x42);
}
bool isAxisMask(int64_t v) {
    return v == 0x80 || v == 0x40 || v == 0xC0;
}
bool isPositionCode(int64_t v) {
    return v == 2 || (v >= 4 && v <= 13);
}
bool isBaud(int64_t v) {
    return v == 9600 || v == 115200;
}

// What each argument of an operation can carry: the width of its field in the request frame, or
// the codes that have a meaning. A value outside would be cut or ignored by the engine without a
// word, so it is refused before anything is sent.
ArgumentRule ruleFor(const std::string& name, int index) {
    const ArgumentRule u8{0, 0xFF, nullptr, nullptr};
    const ArgumentRule u16{0, 0xFFFF, nullptr, nullptr};
    const ArgumentRule u32{0, kAnyU32, nullptr, nullptr};
    const ArgumentRule any32{kAnyI32, kAnyU32, nullptr, nullptr};
    const ArgumentRule onOff{0, 1, nullptr, nullptr};
    const ArgumentRule selector{0, 0, "0x80..0x82 (RA) or 0x40..0x42 (DE)", isSelector};
    const ArgumentRule mask{0, 0, "0x80 (RA), 0x40 (DE) or 0xC0 (both)", isAxisMask};
    if (name == "connect") {
        return index == 0 ? ArgumentRule{1, 256, nullptr, nullptr}
                          : ArgumentRule{0, 0, "9600 or 115200", isBaud};
    }
    if (name == "startMove") {
        return index == 0 ? ArgumentRule{0, 3, nullptr, nullptr}
                          : ArgumentRule{0, 31, nullptr, nullptr};
    }
    if (name == "stopMove") {
        return {0, 4, nullptr, nullptr};
    }
    if (name == "setTracking" || name == "setExp") {
        return onOff;
    }
    if (name == "setGearRatios") {
        return u32;
    }
    if (name == "setMotorCurrent") {
        return index == 0 ? selector : u16;
    }
    if (name == "setDecay") {
        return index == 0 ? selector : u8;
    }
    if (name == "setMaxSpeeds") {
        return u16;
    }
    if (name == "setOvertone") {
        return index == 0 ? mask : ArgumentRule{-128, 127, nullptr, nullptr};
    }
    if (name == "setCurrentBoost") {
        return index == 0 ? mask : u16;
    }
    if (name == "setPositionPair") {
        return any32;
    }
    if (name == "applySiteSettings") {
        switch (index) {
            case 0:
                return {0, 15, nullptr, nullptr};
            case 2:
            case 3:
                return any32;
            default:
                return u8;
        }
    }
    if (name == "initScope") {
        return {0, 0, "2 or 4..13", isPositionCode};
    }
    return u8;  // reverse flags, accelerations, decelerations, guiding rates
}

std::string argumentName(const OperationInfo& info, int index) {
    std::istringstream words(info.arguments);
    std::string word;
    for (int i = 0; i <= index && words >> word; ++i) {
    }
    return word;
}

}  // namespace

std::optional<int64_t> parseSignedNumber(const std::string& text) {
    const auto value = parseNumber(text);
    if (!value) {
        return std::nullopt;
    }
    if (!text.empty() && text[0] == '-') {
        return -static_cast<int64_t>(0x100000000ull - *value) % 0x100000000ll;
    }
    return static_cast<int64_t>(*value);
}

bool checkArgument(const OperationInfo& info, int index, int64_t value, std::string& error) {
    const ArgumentRule rule = ruleFor(info.name, index);
    const bool taken =
        rule.takes != nullptr ? rule.takes(value) : (value >= rule.min && value <= rule.max);
    if (taken) {
        return true;
    }
    error =
        std::string(info.name) + ": " + argumentName(info, index) + " " + std::to_string(value) +
        (rule.allowed != nullptr
             ? std::string(" is not one it takes; it must be ") + rule.allowed
             : " is out of range " + std::to_string(rule.min) + ".." + std::to_string(rule.max));
    return false;
}

bool parseOperations(const std::vector<std::string>& words, std::vector<OpCall>& calls,
                     std::string& error) {
    std::vector<std::string> tokens;
    for (const auto& word : words) {
        std::istringstream stream(word);
        std::string token;
        while (stream >> token) {
            tokens.push_back(token);
        }
    }
    calls.clear();
    int expected = 0;
    for (const auto& token : tokens) {
        if (const OperationInfo* info = findOperation(token)) {
            if (!calls.empty() && expected > 0) {
                error = std::string(calls.back().info->name) + " needs " +
                        std::to_string(calls.back().info->argCount) +
                        " argument(s): " + calls.back().info->arguments;
                return false;
            }
            calls.push_back(OpCall{info, {}});
            expected = info->argCount;
            continue;
        }
        const auto number = parseSignedNumber(token);
        if (calls.empty() || !number) {
            error = number ? "a number before any operation name: " + shown(token)
                           : "unknown operation or bad number: " + shown(token);
            return false;
        }
        if (expected == 0) {
            error = std::string(calls.back().info->name) + " takes " +
                    std::to_string(calls.back().info->argCount) +
                    " argument(s), got more: " + shown(token);
            return false;
        }
        OpCall& call = calls.back();
        const int index = call.info->argCount - expected;
        if (!checkArgument(*call.info, index, *number, error)) {
            return false;
        }
        call.args[index] = static_cast<uint32_t>(*number);
        --expected;
    }
    if (calls.empty()) {
        error = "no operation given";
        return false;
    }
    if (expected > 0) {
        error = std::string(calls.back().info->name) + " needs " +
                std::to_string(calls.back().info->argCount) +
                " argument(s): " + calls.back().info->arguments;
        return false;
    }
    return true;
}

void invoke(iTelescopeControl& control, const OpCall& call) {
    const uint32_t* a = call.args;
    const std::string name = call.info->name;
    if (name == "connect") {
        control.connect(a[0], a[1]);
    } else if (name == "disconnect") {
        control.disconnect();
    } else if (name == "startMove") {
        control.startMove(a[0], a[1]);
    } else if (name == "stopMove") {
        control.stopMove(a[0]);
    } else if (name == "setTracking") {
        control.setTracking(a[0]);
    } else if (name == "setExp") {
        control.setExp(a[0]);
    } else if (name == "sendCode20") {
        control.sendCode20();
    } else if (name == "storeSettings") {
        control.storeSettings();
    } else if (name == "sendCode22") {
        control.sendCode22();
    } else if (name == "reloadDefaults") {
        control.reloadDefaults();
    } else if (name == "setGearRatios") {
        control.setGearRatios(a[0], a[1]);
    } else if (name == "setReverseFlags") {
        control.setReverseFlags(a[0], a[1], a[2]);
    } else if (name == "setMotorCurrent") {
        control.setMotorCurrent(a[0], a[1]);
    } else if (name == "setDecay") {
        control.setDecay(a[0], a[1]);
    } else if (name == "setMaxSpeeds") {
        control.setMaxSpeeds(a[0], a[1]);
    } else if (name == "setAccelerations") {
        control.setAccelerations(a[0], a[1]);
    } else if (name == "setDecelerations") {
        control.setDecelerations(a[0], a[1]);
    } else if (name == "setOvertone") {
        control.setOvertone(a[0], static_cast<int32_t>(a[1]));
    } else if (name == "setCurrentBoost") {
        control.setCurrentBoost(a[0], a[1], a[2]);
    } else if (name == "setGuidingRates") {
        control.setGuidingRates(a[0], a[1]);
    } else if (name == "setPositionPair") {
        control.setPositionPair(a[0], a[1]);
    } else if (name == "applySiteSettings") {
        SiteSettings site;
        site.changeMask = a[0];
        site.mountType = a[1];
        site.latitude = static_cast<int32_t>(a[2]);
        site.longitude = static_cast<int32_t>(a[3]);
        site.hysteresis = a[4];
        control.applySiteSettings(site);
    } else if (name == "measureVoltage") {
        control.measureVoltage();
    } else if (name == "initScope") {
        control.initScope(a[0]);
    } else if (name == "defineParkPosition") {
        control.defineParkPosition();
    }
}

Expectation expectationFor(const OpCall& call, uint32_t featureLevel) {
    using K = Expectation::Kind;
    const std::string name = call.info->name;
    auto waitStatus = [](uint32_t code, const char* what) {
        return Expectation{K::Status, code, 0, what};
    };
    if (name == "connect") {
        return Expectation{K::Settings, 0, report::kConnected, "the settings after connecting"};
    }
    if (name == "disconnect") {
        return waitStatus(status::kConnectionClosed, "the port to close");
    }
    if (name == "startMove") {
        return waitStatus(status::kManualMovement, "the move to start");
    }
    if (name == "stopMove") {
        return waitStatus(status::kReady, "the move to stop");
    }
    if (name == "storeSettings") {
        return waitStatus(status::kParametersStored, "the settings to be stored");
    }
    if (name == "reloadDefaults") {
        return Expectation{K::Settings, 0, report::kDefaultsReloaded, "the reloaded defaults"};
    }
    if (name == "setGearRatios") {
        return Expectation{K::Settings, 0, report::kGearRatios, "the gear ratios to be read back"};
    }
    if (name == "measureVoltage") {
        return Expectation{K::Voltage, 0, 0, "the supply voltage"};
    }
    if (name == "applySiteSettings") {
        // Nothing is sent when no change bit is set.
        if ((call.args[0] & 0x0Fu) != 0) {
            return waitStatus(status::kSettingsDone, "the site settings to be done");
        }
        return {};
    }
    if (name == "initScope") {
        const uint32_t code = call.args[0];
        const bool known = code == 2 || (code >= 4 && code <= 13);
        if (featureLevel >= 6 && known) {
            return waitStatus(status::kSynchronized, "the telescope to be synchronised");
        }
        return {};
    }
    if (name == "defineParkPosition") {
        if (featureLevel >= 4) {
            return waitStatus(status::kParkMarked, "the park position to be marked");
        }
        return waitStatus(status::kNoParking, "the park position to be marked");
    }
    return {};
}

}  // namespace vornic::settings
