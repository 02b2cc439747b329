#pragma once
// The small JSON files that people hand to kz2-sim (its state file) and vornic-cli (backups):
// reading them without ever blocking, writing them without ever harming what is at the path, and
// quoting what is in them without letting their bytes reach a terminal raw.
//
// Guarantees for hostile input (asserted by the fuzz targets that read these files):
// - `shown` returns at most limit + 3 characters, all printable ASCII; nothing in its input is
//   passed through unescaped.
// - `describeJsonError` returns a short, printable message with a line and column, never the
//   parser's own identifiers or the whole offending text.
// - `readRegularFile` reads only regular files, opens without blocking (a FIFO or a device cannot
//   hang the caller) and never reads more than maxBytes + 1 bytes.
// - `replaceFile` replaces only a regular file (or creates a new one); a symbolic link is followed
//   to the file it points to, which is replaced, and the link stays. Anything else at the path (a
//   device, a FIFO, a directory) is refused and named. The new text goes into a file created
//   exclusively next to the target, never through a link, and is synced before it takes the
//   target's place, so the target is either the old file or the whole new one. A new file gets
//   mode 0644 less the umask; a replaced one never more than it had.
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vornic::sim {

// `text` made fit to quote: bytes outside printable ASCII as \xNN (\n, \t, \r as such), and at
// most `limit` characters of the result kept, "..." marking a cut.
std::string shown(std::string_view text, size_t limit = 40);

// "a directory", "a FIFO", "a character device", ... for a file mode.
const char* fileKind(mode_t mode);

enum class ReadResult { ok, missing, failed };

// The whole text of a regular file of at most `maxBytes`. `missing` when nothing is at the path;
// `failed` with the reason (naming the path) in `error` otherwise.
ReadResult readRegularFile(const std::string& path, size_t maxBytes, std::string& text,
                           std::string& error);

// Where a write to `path` lands: the path itself when nothing or a regular file is there, the end
// of the chain when it is a symbolic link. False, naming what is there, for anything else.
bool resolveWriteTarget(const std::string& path, std::string& target, std::string& error);

// Whether `path` can be replaced by `replaceFile`: the target is acceptable and its directory
// takes a new file (tried with a file that is removed at once).
bool checkWritable(const std::string& path, std::string& error);

// Replaces the file at `path` (or at the end of its link chain) with `text` as described above.
bool replaceFile(const std::string& path, const std::string& text, std::string& error);

// Parses `text` into `out`, refusing a key given twice in one object (the parser alone would keep
// the last one silently, so a file could say two things and be read as one). False with either
// the syntax error in our words in `error`, or the dotted path of the first repeated key in
// `duplicate` ("settings.maxSpeed"). Never throws.
bool parseJsonOnce(std::string_view text, nlohmann::ordered_json& out, std::string& duplicate,
                   std::string& error);

// A JSON syntax error of `text` in our own words: "line L, column C: expected ...".
std::string describeJsonError(std::string_view text, const nlohmann::json::exception& e);

}  // namespace vornic::sim
