// The simulated controller's non-volatile memory, kept in a JSON file between runs.
//
// The file is read once at start and written whole on every "store". It is checked field by field
// on loading: anything wrong - bad JSON, a missing or unknown field, a wrong type, a value out of
// range - is refused with a message that names the field, and the file is left as it is.
//
// Guarantees for hostile input (asserted by the sim fuzz target): `stateFromJson` never throws,
// never recurses deeper than a few levels, and on failure leaves the image untouched and gives a
// one-line printable message; on success every field lies within the range the device can hold.
// `loadState` only reads a regular file and never blocks in the open.
#pragma once

#include <string>
#include <string_view>

#include "sim/Kz2Device.h"

namespace vornic::sim {

enum class StateLoad { loaded, missing, invalid };

// Reads the image from `path`. `missing` (no such file) leaves `image` untouched; `invalid` sets
// `error` and also leaves `image` untouched.
[[nodiscard]] StateLoad loadState(const std::string& path, ConfigImage& image, std::string& error);

// Writes the image to `path` through a temporary file, so that a crash never leaves half a file.
// Only a regular file (or the regular file a symbolic link points to) is replaced.
[[nodiscard]] bool saveState(const std::string& path, const ConfigImage& image, std::string& error);

// Whether `saveState` could write `path`: checked at start, so that a "store" is never answered
// for settings that cannot be kept.
[[nodiscard]] bool checkStateWritable(const std::string& path, std::string& error);

// The text form of the file, and its checked reading.
[[nodiscard]] std::string stateToJson(const ConfigImage& image);
[[nodiscard]] bool stateFromJson(std::string_view text, ConfigImage& image, std::string& error);

// Longest state file accepted.
inline constexpr size_t kMaxStateFileBytes = 1 << 20;

}  // namespace vornic::sim
