// The backup-file loader against arbitrary file contents, then diff and restore planning of
// whatever loads against controllers at several feature levels. Asserts the guarantees written in
// settings/Backup.h: no exception, a short printable one-line message for every refusal, every
// loaded value within the range its origin allows, and restore operations only with arguments their
// operations take.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "settings/Backup.h"

namespace {

using namespace vornic;
using namespace vornic::settings;
using vornic::fuzz::printableMessage;
using vornic::fuzz::require;

// Arguments an operation takes as signed values, in the two's complement they travel in.
int64_t argumentValue(const OpCall& call, int index) {
    const std::string name = call.info->name;
    const bool isSigned = (name == "setOvertone" && index == 1) ||
                          (name == "applySiteSettings" && (index == 2 || index == 3)) ||
                          name == "setPositionPair";
    return isSigned ? static_cast<int64_t>(static_cast<int32_t>(call.args[index]))
                    : static_cast<int64_t>(call.args[index]);
}

MountSettings controllerAt(uint32_t level, uint8_t seed) {
    MountSettings s;
    s.featureLevel = level;
    for (int a = 0; a < 2; ++a) {
        s.gearRatio[a] = 172800u + seed;
        s.maxSpeed[a] = 800;
        s.maxCurrent[a] = seed % 2 == 0 ? 1500 : 0;
        s.guidingRate[a] = 8;
        s.thirdOvertone[a] = static_cast<int8_t>(seed);
    }
    s.latitude = seed * 1000;
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    SettingsImage image;
    std::string error;
    if (!parseBackupText(text, image, error)) {
        require(printableMessage(error, 600, false), "a refusal is one short printable line");
        return 0;
    }
    const auto& fields = settingFields();
    for (size_t i = 0; i < fields.size(); ++i) {
        if (!image.has(i)) {
            continue;
        }
        const SettingField& f = fields[i];
        const int64_t min = image.fromController ? f.held.min : f.typed.min;
        const int64_t max = image.fromController ? f.held.max : f.typed.max;
        const int elements = f.shape == SettingShape::Scalar ? 1
                             : f.shape == SettingShape::Pair ? 2
                                                             : 6;
        for (int e = 0; e < elements; ++e) {
            const int axis = f.shape == SettingShape::Triples ? e / 3 : e;
            const int index = f.shape == SettingShape::Triples ? e % 3 : 0;
            const int64_t v = f.get(image.values, axis, index);
            require(v >= min && v <= max, "every loaded value lies within its range");
        }
    }
    for (const uint32_t level : {3u, 4u, 6u}) {
        const MountSettings controller = controllerAt(level, size > 0 ? data[0] : 0);
        if (!checkAgainstController(image, controller, error)) {
            require(printableMessage(error, 600, false), "a refusal is one short printable line");
            continue;
        }
        for (size_t i = 0; i < fields.size(); ++i) {
            if (image.has(i)) {
                forEachSettingElement(fields[i].shape, [&](int axis, int index) {
                    require(holdableRange(fields[i], controller, axis)
                                .holds(fields[i].get(image.values, axis, index)),
                            "nothing passes that the controller cannot hold");
                });
            }
        }
        if (!checkSameController(image, controller, error)) {
            require(printableMessage(error, 600, false), "a refusal is one short printable line");
        }
        (void)differences(image, controller);
        for (const OpCall& call : restorePlan(image, controller)) {
            require(call.info != nullptr, "restore plans only known operations");
            for (int a = 0; a < call.info->argCount; ++a) {
                require(checkArgument(*call.info, a, argumentValue(call, a), error),
                        "restore sends only arguments the operation takes");
            }
        }
    }
    return 0;
}
