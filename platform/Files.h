#pragma once
// Whole-file reading and writing for the small files people hand us (the simulator's state file,
// the command line's backups), with the same guarantees on every OS:
// - `readRegularFile` reads only a regular file, opens it without blocking (a FIFO, a pipe or a
//   device cannot hang the caller) and never reads more than maxBytes + 1 bytes.
// - `replaceFile` replaces only a regular file (or creates a new one); anything else at the path
//   (a directory, a device, a FIFO) is refused and named. The new text goes into a file created
//   exclusively next to the target, never through a link, and is flushed to the disk before it
//   takes the target's place, so the target is either the old file or the whole new one.
//   Where the OS has symbolic links, a link is followed to the file it points to, which is
//   replaced, and the link stays; a new file gets mode 0644 less the umask, a replaced one never
//   more than it had.
// Paths are UTF-8 on every OS. Errors name the path, quoted so that no byte of it reaches a
// terminal raw.

#include <cstddef>
#include <string>
#include <vector>

namespace vornic::platform {

enum class FileRead { ok, missing, failed };

// The whole text of a regular file of at most `maxBytes`. `missing` when nothing is at the path;
// `failed` with the reason (naming the path) in `error` otherwise.
[[nodiscard]] FileRead readRegularFile(const std::string& path, size_t maxBytes, std::string& text,
                                       std::string& error);

// Whether `path` can be replaced by `replaceFile`: what is there is acceptable and its folder
// takes a new file (tried with a file that is removed at once).
[[nodiscard]] bool checkWritable(const std::string& path, std::string& error);

// Replaces the file at `path` with `text` as described above.
[[nodiscard]] bool replaceFile(const std::string& path, const std::string& text,
                               std::string& error);

// Folders, for the snapshots kept per controller. Paths are UTF-8, as above.

// The names of the regular files in `folder`, in no particular order: no folders, no links, no
// devices, at most `maxNames`. False with the reason in `error`.
[[nodiscard]] bool listFiles(const std::string& folder, size_t maxNames,
                             std::vector<std::string>& names, std::string& error);

// Makes `folder` and every folder above it that is missing (private to the user where the OS has
// modes). True when it is a folder afterwards.
[[nodiscard]] bool makeFolders(const std::string& folder, std::string& error);

// Removes the file at `path`; a folder is never removed.
[[nodiscard]] bool removeFile(const std::string& path, std::string& error);

// Where the program keeps this user's data: $XDG_DATA_HOME/vornic (by default
// ~/.local/share/vornic); on Windows %LOCALAPPDATA%\Vornic. "" when the system names no such place.
[[nodiscard]] std::string userDataFolder();

}  // namespace vornic::platform
