#pragma once
// The settings read from a backup file or taken from a controller, and which of them are given.
// Apart from the backup format (settings/Backup.h), so that what only holds an image (the desktop
// program's safety net and everything that includes it) does not parse the JSON library's
// header.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "controller/MountSettings.h"
#include "controller/SettingTable.h"

namespace vornic::settings {

// The settings read from a file: values in a MountSettings record, and which fields were given.
struct SettingsImage {
    MountSettings values;
    std::vector<bool> present = std::vector<bool>(settingFields().size(), false);
    bool fromController = false;  // the file carries the controller's identity
    // The identity of the controller the file came from, as far as the file gives it.
    std::optional<uint32_t> hardwareVersion;
    std::optional<uint32_t> firmwareVersion;
    std::optional<uint8_t> portType;
    [[nodiscard]] bool has(size_t field) const { return present[field]; }
};

}  // namespace vornic::settings
