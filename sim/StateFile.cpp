#include "sim/StateFile.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <nlohmann/json.hpp>

#include "json/JsonText.h"
#include "platform/Files.h"
#include "text/Quote.h"

namespace vornic::sim {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kFormat = "kz2-sim state 1";
constexpr int kMaxDepth = 8;

const char* const kDecayNames[3] = {"idle", "track", "run"};

const char* kindOf(const Json& j) {
    if (j.is_number_float()) {
        return "a number that is not an integer";
    }
    if (j.is_boolean()) {
        return "true or false";
    }
    if (j.is_string()) {
        return "a string";
    }
    if (j.is_array()) {
        return "a list";
    }
    if (j.is_object()) {
        return "an object";
    }
    if (j.is_null()) {
        return "null";
    }
    return "a number";
}

// Reads checked fields; the first problem found is kept in `error`.
class Reader {
  public:
    explicit Reader(std::string& error) : error_(error) {}

    [[nodiscard]] bool ok() const { return ok_; }

    // `j` must be an object with exactly the given keys.
    bool object(const Json& j, const std::string& path, std::initializer_list<const char*> keys) {
        if (!ok_) {
            return false;
        }
        if (!j.is_object()) {
            return fail(path.empty()
                            ? "the file must hold a JSON object, found " + std::string(kindOf(j))
                            : "field \"" + path + "\": expected an object, found " + kindOf(j));
        }
        for (const auto& item : j.items()) {
            bool known = false;
            for (const char* k : keys) {
                known = known || item.key() == k;
            }
            if (!known) {
                return fail("unknown field \"" + join(path, shown(item.key())) + "\"");
            }
        }
        for (const char* k : keys) {
            if (!j.contains(k)) {
                return fail("field \"" + join(path, k) + "\" is missing");
            }
        }
        return true;
    }

    template <typename T>
    void integer(const Json& value, const std::string& name, int64_t lo, int64_t hi, T& out) {
        if (!ok_) {
            return;
        }
        if (!value.is_number_integer()) {
            fail("field \"" + name + "\": expected an integer, found " + kindOf(value));
            return;
        }
        bool inRange = false;
        std::string found;
        int64_t v = 0;
        if (value.is_number_unsigned()) {
            const auto u = value.get<uint64_t>();
            found = std::to_string(u);
            inRange = hi >= 0 && u <= static_cast<uint64_t>(hi) &&
                      (lo <= 0 || u >= static_cast<uint64_t>(lo));
            v = inRange ? static_cast<int64_t>(u) : 0;
        } else {
            v = value.get<int64_t>();
            found = std::to_string(v);
            inRange = v >= lo && v <= hi;
        }
        if (!inRange) {
            fail("field \"" + name + "\": expected an integer from " + std::to_string(lo) + " to " +
                 std::to_string(hi) + ", found " + found);
            return;
        }
        out = static_cast<T>(v);
    }

    template <typename T>
    void field(const Json& obj, const std::string& path, const char* key, int64_t lo, int64_t hi,
               T& out) {
        if (ok_) {
            integer(obj.at(key), join(path, key), lo, hi, out);
        }
    }

    template <typename T, size_t N>
    void list(const Json& obj, const std::string& path, const char* key, int64_t lo, int64_t hi,
              std::array<T, N>& out) {
        if (!ok_) {
            return;
        }
        const Json& j = obj.at(key);
        const std::string name = join(path, key);
        if (!j.is_array() || j.size() != N) {
            fail("field \"" + name + "\": expected a list of " + std::to_string(N) +
                 " integers (idle, track, run), found " +
                 (j.is_array() ? "a list of " + std::to_string(j.size()) : kindOf(j)));
            return;
        }
        for (size_t i = 0; i < N && ok_; ++i) {
            integer(j[i], name + "[" + std::to_string(i) + "]", lo, hi, out[i]);
        }
    }

    bool fail(const std::string& message) {
        if (ok_) {
            ok_ = false;
            error_ = message;
        }
        return false;
    }

    static std::string join(const std::string& path, std::string_view key) {
        return path.empty() ? std::string(key) : path + "." + std::string(key);
    }

  private:
    std::string& error_;
    bool ok_ = true;
};

Json axisToJson(const AxisImage& a) {
    Json j;
    j["axisBlockReserved"] = a.axisBlockReserved;
    j["gearRatio"] = a.gearRatio;
    j["countsPerRevolution"] = a.countsPerRevolution;
    j["siderealRate"] = a.siderealRate;
    j["maxSpeed"] = a.maxSpeed;
    j["guidingRate"] = a.guidingRate;
    j["maxCurrent"] = a.maxCurrent;
    j["motorCurrent"] = a.motorCurrent;
    j["decay"] = a.decay;
    j["thirdOvertone"] = a.thirdOvertone;
    j["overtoneReserved"] = a.overtoneReserved;
    j["acceleration"] = a.acceleration;
    j["deceleration"] = a.deceleration;
    j["incCurrentAt"] = a.incCurrentAt;
    j["incCurrentReserved"] = a.incCurrentReserved;
    j["settingsReservedByte"] = a.settingsReservedByte;
    j["settingsReservedWord"] = a.settingsReservedWord;
    return j;
}

void axisFromJson(Reader& r, const Json& j, const std::string& path, AxisImage& a) {
    if (!r.object(
            j, path,
            {"axisBlockReserved", "gearRatio", "countsPerRevolution", "siderealRate", "maxSpeed",
             "guidingRate", "maxCurrent", "motorCurrent", "decay", "thirdOvertone",
             "overtoneReserved", "acceleration", "deceleration", "incCurrentAt",
             "incCurrentReserved", "settingsReservedByte", "settingsReservedWord"})) {
        return;
    }
    r.field(j, path, "axisBlockReserved", 0, 0xFF, a.axisBlockReserved);
    r.field(j, path, "gearRatio", 1, kMaxGearRatio, a.gearRatio);
    r.field(j, path, "countsPerRevolution", 0, 0xFFFFFFFF, a.countsPerRevolution);
    r.field(j, path, "siderealRate", INT32_MIN, INT32_MAX, a.siderealRate);
    r.field(j, path, "maxSpeed", 0, 0xFFFF, a.maxSpeed);
    r.field(j, path, "guidingRate", 0, 0xFF, a.guidingRate);
    r.field(j, path, "maxCurrent", 0, 0xFFFF, a.maxCurrent);
    r.list(j, path, "motorCurrent", 0, 0xFFFF, a.motorCurrent);
    for (size_t i = 0; i < 3 && r.ok(); ++i) {
        if (a.motorCurrent[i] > a.maxCurrent) {
            r.fail("field \"" + Reader::join(path, "motorCurrent") + "[" + std::to_string(i) +
                   "]\": the " + kDecayNames[i] + " current " + std::to_string(a.motorCurrent[i]) +
                   " exceeds maxCurrent " + std::to_string(a.maxCurrent));
        }
    }
    r.list(j, path, "decay", 0, 3, a.decay);
    r.field(j, path, "thirdOvertone", INT8_MIN, INT8_MAX, a.thirdOvertone);
    r.field(j, path, "overtoneReserved", 0, 0xFF, a.overtoneReserved);
    r.field(j, path, "acceleration", 0, 0xFF, a.acceleration);
    r.field(j, path, "deceleration", 0, 0xFF, a.deceleration);
    r.field(j, path, "incCurrentAt", 0, 0xFFFF, a.incCurrentAt);
    r.field(j, path, "incCurrentReserved", 0, 0xFFFF, a.incCurrentReserved);
    r.field(j, path, "settingsReservedByte", 0, 0xFF, a.settingsReservedByte);
    r.field(j, path, "settingsReservedWord", 0, 0xFFFFFFFF, a.settingsReservedWord);
}

}  // namespace

std::string stateToJson(const ConfigImage& c) {
    Json j;
    j["format"] = kFormat;
    j["mountType"] = c.mountType;
    j["reverseRotation"] = c.reverseRotation;
    j["reverseAutoguiding"] = c.reverseAutoguiding;
    j["reverseLimitSwitches"] = c.reverseLimitSwitches;
    j["meridianFlipParamA"] = c.meridianFlipParamA;
    j["meridianFlipParamB"] = c.meridianFlipParamB;
    j["meridianFlipHysteresis"] = c.meridianFlipHysteresis;
    j["latitude"] = c.latitude;
    j["longitude"] = c.longitude;
    j["park"] = {{"valid", c.parkValid},
                 {"ra", c.parkPosition[kRa]},
                 {"de", c.parkPosition[kDe]},
                 {"pierSide", c.parkPierSide == PierSide::west ? "west" : "east"}};
    j["ra"] = axisToJson(c.axis[kRa]);
    j["de"] = axisToJson(c.axis[kDe]);
    return j.dump(2) + "\n";
}

bool stateFromJson(std::string_view text, ConfigImage& image, std::string& error) {
    if (text.size() > kMaxStateFileBytes) {
        error = "the file is larger than " + std::to_string(kMaxStateFileBytes) + " bytes";
        return false;
    }
    if (jsonNestingDepth(text) > kMaxDepth) {
        error = "the JSON is nested too deeply";
        return false;
    }
    Json j;
    std::string duplicate;
    if (!parseJsonOnce(text, j, duplicate, error)) {
        if (!duplicate.empty()) {
            error = "field \"" + shown(duplicate, 80) + "\" is given more than once";
        }
        return false;
    }

    ConfigImage c;
    Reader r(error);
    if (!r.object(j, "",
                  {"format", "mountType", "reverseRotation", "reverseAutoguiding",
                   "reverseLimitSwitches", "meridianFlipParamA", "meridianFlipParamB",
                   "meridianFlipHysteresis", "latitude", "longitude", "park", "ra", "de"})) {
        return false;
    }
    const Json& format = j.at("format");
    if (!format.is_string() || format.get<std::string>() != kFormat) {
        return r.fail("field \"format\": expected \"" + std::string(kFormat) + "\"");
    }
    r.field(j, "", "mountType", 0, 2, c.mountType);
    r.field(j, "", "reverseRotation", 0, 3, c.reverseRotation);
    r.field(j, "", "reverseAutoguiding", 0, 3, c.reverseAutoguiding);
    r.field(j, "", "reverseLimitSwitches", 0, 3, c.reverseLimitSwitches);
    r.field(j, "", "meridianFlipParamA", 0, 0xFF, c.meridianFlipParamA);
    r.field(j, "", "meridianFlipParamB", 0, 0xFF, c.meridianFlipParamB);
    r.field(j, "", "meridianFlipHysteresis", 0, 0xFF, c.meridianFlipHysteresis);
    r.field(j, "", "latitude", -kMaxLatitude, kMaxLatitude, c.latitude);
    r.field(j, "", "longitude", -kMaxLongitude, kMaxLongitude, c.longitude);
    if (!r.ok()) {
        return false;
    }

    const Json& park = j.at("park");
    if (!r.object(park, "park", {"valid", "ra", "de", "pierSide"})) {
        return false;
    }
    if (!park.at("valid").is_boolean()) {
        return r.fail("field \"park.valid\": expected true or false, found " +
                      std::string(kindOf(park.at("valid"))));
    }
    c.parkValid = park.at("valid").get<bool>();
    r.field(park, "park", "ra", INT32_MIN, INT32_MAX, c.parkPosition[kRa]);
    r.field(park, "park", "de", INT32_MIN, INT32_MAX, c.parkPosition[kDe]);
    const Json& side = park.at("pierSide");
    if (r.ok()) {
        if (side == "east") {
            c.parkPierSide = PierSide::east;
        } else if (side == "west") {
            c.parkPierSide = PierSide::west;
        } else {
            return r.fail("field \"park.pierSide\": expected \"east\" or \"west\"");
        }
    }

    axisFromJson(r, j.at("ra"), "ra", c.axis[kRa]);
    axisFromJson(r, j.at("de"), "de", c.axis[kDe]);
    if (!r.ok()) {
        return false;
    }
    image = c;
    return true;
}

StateLoad loadState(const std::string& path, ConfigImage& image, std::string& error) {
    std::string text;
    std::string why;
    switch (platform::readRegularFile(path, kMaxStateFileBytes, text, why)) {
        case platform::FileRead::missing:
            return StateLoad::missing;
        case platform::FileRead::failed:
            error = "state file: " + why;
            return StateLoad::invalid;
        case platform::FileRead::ok:
            break;
    }
    if (!stateFromJson(text, image, why)) {
        error = "state file " + shown(path, 200) + ": " + why;
        return StateLoad::invalid;
    }
    return StateLoad::loaded;
}

bool saveState(const std::string& path, const ConfigImage& image, std::string& error) {
    return platform::replaceFile(path, stateToJson(image), error);
}

bool checkStateWritable(const std::string& path, std::string& error) {
    return platform::checkWritable(path, error);
}

}  // namespace vornic::sim
