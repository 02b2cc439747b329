#pragma once
// `vornic-cli set NAME VALUE...`: one setting changed through the operation the dialog uses for it.
//
// Parsing checks the words and the value ranges without a controller (usage errors). Turning the
// request into operations needs the controller's current settings: a change on one axis sends the
// other axis's value unchanged, a reverse flag is set within the three bit pairs the controller
// holds, and the site operation carries a change mask for what really differs.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/Operations.h"
#include "controller/MountSettings.h"

namespace vornic::cli {

struct SetRequest {
    // Canonical field name as in MountSettings ("maxSpeed", "motorCurrent", ...), or "site".
    std::string field;
    int axis = -1;           // 0 RA, 1 DE, -1 both (values[0] RA, values[1] DE)
    int index = 0;           // motorCurrent / decay: 0 idle, 1 track, 2 run
    int64_t values[2] = {};  // the value(s), range-checked
    bool flagOn = false;     // reverse flags

    // site (only the given ones change)
    std::optional<int32_t> latitude;
    std::optional<int32_t> longitude;
    std::optional<uint32_t> mountType;
    std::optional<uint32_t> hysteresis;
};

struct SiteOptions {
    std::optional<std::string> latitude;
    std::optional<std::string> longitude;
    std::optional<int64_t> mountType;
    std::optional<int64_t> hysteresis;
};

// Parses the words after `set` (and the site options). Returns false with a usage message.
[[nodiscard]] bool parseSetRequest(const std::vector<std::string>& words, const SiteOptions& site,
                                   SetRequest& request, std::string& error);

// Reads a latitude (N/S) or longitude (E/W) text such as "N 47:30:15", "-8:00:00", "E 8.0.0".
// Stricter than the dialog: the text must hold degrees and at most minutes and seconds below 60,
// within 90 (latitude) or 180 (longitude) degrees.
[[nodiscard]] bool parseAngleArgument(const std::string& text, bool latitude, int32_t& angle,
                                      std::string& error);

// The operations that carry out the request on a controller holding `current`. Returns false
// with the reason when the controller cannot take it (feature level, maximum current). An empty
// list with true means nothing differs. `expected`, when given, receives the settings the
// controller should hold afterwards, for checking the read-back.
[[nodiscard]] bool buildSetOperations(const SetRequest& request, const MountSettings& current,
                                      std::vector<OpCall>& calls, std::string& error,
                                      MountSettings* expected = nullptr);

}  // namespace vornic::cli
