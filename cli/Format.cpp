#include "cli/Format.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "settings/Backup.h"
#include "text/Text.h"

namespace vornic::cli {

namespace {

Json pair(const auto(&values)[2]) {
    return Json::array({static_cast<int64_t>(values[0]), static_cast<int64_t>(values[1])});
}

Json triples(const auto(&values)[2][3]) {
    Json result = Json::array();
    for (const auto& row : values) {
        result.push_back(Json::array({static_cast<int64_t>(row[0]), static_cast<int64_t>(row[1]),
                                      static_cast<int64_t>(row[2])}));
    }
    return result;
}

void appendRow(std::string& out, const char* name, long long ra, long long de, const char* unit) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-24s %12lld %12lld  %s\n", name, ra, de, unit);
    out += line;
}

void appendFlagRow(std::string& out, const char* name, uint32_t bits) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-24s %12s %12s\n", name, (bits & 1u) ? "on" : "off",
                  (bits & 2u) ? "on" : "off");
    out += line;
}

}  // namespace

std::string identityLine(const MountSettings& settings) {
    return settings::identityLine(settings);
}

std::string voltageText(uint32_t hundredths) {
    char text[32] = {};
    formatVoltage(hundredths, text, sizeof text);
    return text;
}

std::string statusTextOf(StatusCode code) {
    const char* text = statusText(code);
    return text != nullptr ? text : "";
}

const char* mountTypeName(uint32_t mountType) {
    switch (mountType) {
        case 0:
            return "equatorial german";
        case 1:
            return "equatorial fork";
        case 2:
            return "alt-azimuth";
        default:
            return "unknown";
    }
}

std::string angleText(int32_t angle, bool latitude) {
    char buffer[32] = {};
    appendAngle(buffer, sizeof buffer, 0, angle);
    const char* digits = buffer[0] == '-' ? buffer + 1 : buffer;
    std::string text = angle < 0 ? (latitude ? "S " : "W ") : (latitude ? "N " : "E ");
    return text + digits;
}

Json settingsJson(const MountSettings& s) {
    Json j;
    j["mountType"] = s.mountType;
    j["featureLevel"] = s.featureLevel;
    j["hardwareVersion"] = s.hardwareVersion;
    j["hardwareType"] = s.hardwareType;
    j["firmwareVersion"] = s.firmwareVersion;
    j["portType"] = s.portType;
    j["axisBlockReserved"] = pair(s.axisBlockReserved);
    j["gearRatio"] = pair(s.gearRatio);
    j["countsPerRevolution"] = pair(s.countsPerRevolution);
    j["siderealRate"] = pair(s.siderealRate);
    j["maxSpeed"] = pair(s.maxSpeed);
    j["reverseRotation"] = s.reverseRotation;
    j["reverseAutoguiding"] = s.reverseAutoguiding;
    j["reverseLimitSwitches"] = s.reverseLimitSwitches;
    j["maxCurrent"] = pair(s.maxCurrent);
    j["motorCurrent"] = triples(s.motorCurrent);
    j["decay"] = triples(s.decay);
    j["acceleration"] = pair(s.acceleration);
    j["deceleration"] = pair(s.deceleration);
    j["thirdOvertone"] = pair(s.thirdOvertone);
    j["overtoneReserved"] = pair(s.overtoneReserved);
    j["incCurrentAt"] = pair(s.incCurrentAt);
    j["incCurrentReserved"] = pair(s.incCurrentReserved);
    j["guidingRate"] = pair(s.guidingRate);
    j["settingsReservedByte"] = pair(s.settingsReservedByte);
    j["settingsReservedWord"] = pair(s.settingsReservedWord);
    j["meridianFlipParamA"] = s.meridianFlipParamA;
    j["meridianFlipParamB"] = s.meridianFlipParamB;
    j["meridianFlipHysteresis"] = s.meridianFlipHysteresis;
    j["latitude"] = s.latitude;
    j["longitude"] = s.longitude;
    j["maxRate"] = pair(s.maxRate);
    return j;
}

Json statusReportJson(StatusCode code) {
    Json j;
    j["type"] = "status";
    j["code"] = code;
    j["text"] = statusTextOf(code);
    return j;
}

Json settingsReportJson(const MountSettings& settings, ReportKind kind) {
    Json j;
    j["type"] = "settings";
    j["kind"] = kind;
    j["identity"] = identityLine(settings);
    j["settings"] = settingsJson(settings);
    return j;
}

Json voltageReportJson(uint32_t hundredths) {
    Json j;
    j["type"] = "voltage";
    j["hundredths"] = hundredths;
    j["text"] = voltageText(hundredths);
    return j;
}

std::string settingsListing(const MountSettings& s) {
    std::string out = identityLine(s) + "\n";
    char line[160];
    std::snprintf(line, sizeof line, "Feature level: %u\n", static_cast<unsigned>(s.featureLevel));
    out += line;
    std::snprintf(line, sizeof line, "mountType: %u (%s)\n", static_cast<unsigned>(s.mountType),
                  mountTypeName(s.mountType));
    out += line;

    std::snprintf(line, sizeof line, "  %-24s %12s %12s  %s\n", "Setting", "RA", "DE", "Unit");
    out += line;
    appendRow(out, "gearRatio", s.gearRatio[kRa], s.gearRatio[kDe],
              "motor steps per axis revolution");
    appendRow(out, "countsPerRevolution", s.countsPerRevolution[kRa], s.countsPerRevolution[kDe],
              "position counts per axis revolution");
    appendRow(out, "siderealRate", s.siderealRate[kRa], s.siderealRate[kDe],
              "speed units at the sidereal rate");
    appendRow(out, "maxRate", s.maxRate[kRa], s.maxRate[kDe], "speed units");

    if (s.featureLevel < 3) {
        std::snprintf(line, sizeof line,
                      "Motor settings: not reported by a controller of feature level %u\n",
                      static_cast<unsigned>(s.featureLevel));
        out += line;
    } else {
        appendRow(out, "maxSpeed", s.maxSpeed[kRa], s.maxSpeed[kDe], "x sidereal");
        appendRow(out, "acceleration", s.acceleration[kRa], s.acceleration[kDe], "(0..255)");
        appendRow(out, "deceleration", s.deceleration[kRa], s.deceleration[kDe], "(0..255)");
        appendRow(out, "maxCurrent", s.maxCurrent[kRa], s.maxCurrent[kDe], "mA");
        static const char* const kCurrentNames[3] = {"motorCurrent idle", "motorCurrent track",
                                                     "motorCurrent run"};
        static const char* const kDecayNames[3] = {"decay idle", "decay track", "decay run"};
        for (int i = 0; i < 3; ++i) {
            appendRow(out, kCurrentNames[i], s.motorCurrent[kRa][i], s.motorCurrent[kDe][i], "mA");
        }
        for (int i = 0; i < 3; ++i) {
            appendRow(out, kDecayNames[i], s.decay[kRa][i], s.decay[kDe][i], "(0..3)");
        }
        appendRow(out, "thirdOvertone", s.thirdOvertone[kRa], s.thirdOvertone[kDe], "(-20..20)");
        appendRow(out, "incCurrentAt", s.incCurrentAt[kRa], s.incCurrentAt[kDe],
                  "controller units");
        appendRow(out, "guidingRate", s.guidingRate[kRa], s.guidingRate[kDe],
                  "1/16 of the sidereal rate");
        appendFlagRow(out, "reverseRotation", s.reverseRotation);
        appendFlagRow(out, "reverseAutoguiding", s.reverseAutoguiding);
        appendFlagRow(out, "reverseLimitSwitches", s.reverseLimitSwitches);
    }

    if (s.featureLevel >= 5) {
        std::snprintf(line, sizeof line, "latitude: %s (%d angle units)\n",
                      angleText(s.latitude, true).c_str(), s.latitude);
        out += line;
        std::snprintf(line, sizeof line, "longitude: %s (%d angle units)\n",
                      angleText(s.longitude, false).c_str(), s.longitude);
        out += line;
        std::snprintf(line, sizeof line, "meridianFlipHysteresis: %u degrees\n",
                      static_cast<unsigned>(s.meridianFlipHysteresis));
        out += line;
    } else {
        std::snprintf(line, sizeof line,
                      "Site settings: not reported by a controller of feature level %u\n",
                      static_cast<unsigned>(s.featureLevel));
        out += line;
    }
    return out;
}

}  // namespace vornic::cli
