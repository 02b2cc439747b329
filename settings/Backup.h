#pragma once
// Backup files: the controller's writable settings as JSON, and the way back.
//
// A backup holds only what the tool can write back through the operations the dialog uses, and
// only the fields the controller reports at its feature level, so that a backup is always
// restorable onto the controller it came from. A file handed to `diff` or `restore` is untrusted:
// it is read with a size and nesting limit, and every field is checked (type, shape, range, what
// the connected controller supports) before anything is sent; the first bad field is named.
//
// A file may carry fewer settings than a full backup: restore then leaves the missing ones as they
// are. Unknown fields are refused, so that a misspelt name cannot be skipped silently.
//
// A backup written by `backup` carries the controller's identity; its values came from the
// controller and are taken as they are, anywhere within what the controller can hold, so that
// every backup restores onto the controller it came from. A file without an identity was typed by
// hand and gets the ranges that `set` allows.
//
// Guarantees for hostile input (asserted by the backup fuzz target): `parseBackupText` never
// throws and reads at most 1 MiB nested at most 8 deep; on failure it returns a one-line message
// of bounded length with no control characters; on success every given field lies within the
// range the file's origin allows, and `restorePlan` only builds operations whose arguments the
// operation takes.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "controller/MountSettings.h"
#include "controller/SettingTable.h"
#include "settings/Operations.h"
#include "settings/SettingsImage.h"

namespace vornic::settings {

using Json = nlohmann::ordered_json;

// "HW:a.b.c.d | FW:a.b.c.d | Port type:n", the same line the main dialog shows.
std::string identityLine(const MountSettings& settings);

// No backup comes near this; a larger file is refused before it is parsed.
inline constexpr size_t kMaxBackupFileBytes = 1u << 20;

// The backup document of a controller's settings, dated `date` (ISO 8601).
Json makeBackup(const MountSettings& controller, const std::string& date);

// The current UTC time as ISO 8601 ("2024-05-01T12:34:56Z").
std::string isoDateNow();

// Reads a backup file's text: size and nesting limited, syntax, types, shapes and ranges. Returns
// false with the reason (naming the field) in `error`.
[[nodiscard]] bool parseBackupText(const std::string& text, SettingsImage& image,
                                   std::string& error);

// File access, the same on every OS.
// Reads a whole regular file (at most 1 MiB) into `text`; never blocks on a FIFO or a device.
// Returns false with the reason in `error`.
[[nodiscard]] bool readFileText(const std::string& path, std::string& text, std::string& error);

// Whether a backup may go to `path`: nothing or a regular file is there (through any links), and
// its folder takes a new file. False with the reason, naming what is there, otherwise.
[[nodiscard]] bool checkWriteTarget(const std::string& path, std::string& error);

// Replaces the file at `path` through a temporary file made exclusively beside it, synced, then
// renamed into place: the target is either the old file or the whole new one, a device or FIFO is
// never written, and a link is followed to the file it names.
[[nodiscard]] bool writeFileText(const std::string& path, const std::string& text,
                                 std::string& error);

// Checks the image against what the connected controller supports: its feature level, and every
// value within what this controller can hold (a file without an identity: within what `set`
// allows it), e.g. motor currents within each axis's maximum current when it reports one.
[[nodiscard]] bool checkAgainstController(const SettingsImage& image,
                                          const MountSettings& controller, std::string& error);

// Whether the file came from the connected controller: every part of the identity the file gives
// matches. False with both identities named in `error` otherwise.
[[nodiscard]] bool checkSameController(const SettingsImage& image, const MountSettings& controller,
                                       std::string& error);

// The value of one field of a record as JSON (an integer or nested arrays).
Json fieldJson(const SettingField& info, const MountSettings& settings);

struct Difference {
    std::string field;
    Json file;
    Json controller;
};

// The given fields whose values differ from the controller's.
std::vector<Difference> differences(const SettingsImage& image, const MountSettings& controller);

// Every field the controller reports at its feature level, with the values of `settings`: the
// image of a whole backup, and the way back to what a controller held.
SettingsImage wholeImage(const MountSettings& settings);

// The operations that make the controller hold the image's values, sending only what differs, in
// the order: gear ratios, site, then the fire-and-forget motor settings.
std::vector<OpCall> restorePlan(const SettingsImage& image, const MountSettings& controller);

}  // namespace vornic::settings
