#include "cli/Operations.h"

#include <cstdlib>
#include <sstream>

namespace vornic::cli {

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

std::optional<uint32_t> parseNumber(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    size_t pos = 0;
    bool negative = false;
    if (text[0] == '-') {
        negative = true;
        pos = 1;
    }
    int base = 10;
    if (text.size() > pos + 1 && text[pos] == '0' &&
        (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }
    if (pos >= text.size()) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull) {
            return std::nullopt;
        }
    }
    if (negative) {
        if (value > 0x80000000ull) {
            return std::nullopt;
        }
        return static_cast<uint32_t>(0x100000000ull - value);
    }
    return static_cast<uint32_t>(value);
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
        const auto number = parseNumber(token);
        if (calls.empty() || !number) {
            error = number ? "a number before any operation name: " + token
                           : "unknown operation or bad number: " + token;
            return false;
        }
        if (expected == 0) {
            error = std::string(calls.back().info->name) + " takes " +
                    std::to_string(calls.back().info->argCount) +
                    " argument(s), got more: " + token;
            return false;
        }
        OpCall& call = calls.back();
        call.args[call.info->argCount - expected] = *number;
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

}  // namespace vornic::cli
