#pragma once
// How vornic-cli shows the controller's reports: as text for people, or as one JSON object per
// line for scripts. The texts of status codes are exactly the dialog's; the identity line is built
// the same way as in the main dialog.

#include <cstdint>
#include <string>

// The declarations are enough here; the units that build or read JSON include the whole library.
#include <nlohmann/json_fwd.hpp>

#include "controller/Contract.h"
#include "controller/MountSettings.h"

namespace vornic::cli {

using Json = nlohmann::ordered_json;

// "HW:a.b.c.d | FW:a.b.c.d | Port type:n", built into a 255-byte buffer like the dialog does.
std::string identityLine(const MountSettings& settings);

// Supply voltage as the dialog shows it: "12.34V", " 9.05V".
std::string voltageText(uint32_t hundredths);

// The text of a status code, or "" for a code the dialog would ignore.
std::string statusTextOf(StatusCode code);

// The human-readable name of a mount type code.
const char* mountTypeName(uint32_t mountType);

// A latitude or longitude as the Advanced settings dialog shows it: "N 47:30:15", "W 122:25:00".
std::string angleText(int32_t angle, bool latitude);

// Every field of the record, keyed by its field name. Per-axis fields are [ra, de] arrays,
// motorCurrent and decay [[idle, track, run], [idle, track, run]]; every value a plain integer.
Json settingsJson(const MountSettings& settings);

Json statusReportJson(StatusCode code);
Json settingsReportJson(const MountSettings& settings, ReportKind kind);
Json voltageReportJson(uint32_t hundredths);

// The full listing of `info`: identity, feature level and every setting with its unit. Fields the
// controller does not report at its feature level are left out and say so.
std::string settingsListing(const MountSettings& settings);

}  // namespace vornic::cli
