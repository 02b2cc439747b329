#pragma once
// Snapshots: the settings a controller held when it was connected, one backup file per connect,
// kept per controller so that nothing a user had is lost to a change made afterwards.
//
// <root>/<controller>/<UTC date and time>.json, where <controller> is made from the identity with
// nothing but [A-Za-z0-9._-] (no separator, no "..": an identity cannot reach outside the root),
// and the file name has no ':' so that it is valid everywhere. Two snapshots in one second get
// "-2", "-3", ... Only files named that way are ever listed or removed; anything else in the
// folder is left alone.

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

#include "controller/MountSettings.h"

namespace vornic::settings {

inline constexpr size_t kSnapshotsKept = 50;

// The folder name of a controller, e.g. "HW_1.2.0.0_FW_3.1.0.0_Port_type_1".
[[nodiscard]] std::string controllerFolderName(const MountSettings& controller);

// "vornic-<controller>-<YYYY-MM-DD>.json", the suggested name of a backup.
[[nodiscard]] std::string backupFileName(const MountSettings& controller, std::time_t now);

struct SnapshotFile {
    std::string path;
    std::string name;
    std::string date;  // "2026-12-08 06:15:02 UTC"
};

class SnapshotStore {
  public:
    // `root` holds one folder per controller; "" means there is nowhere to keep snapshots.
    explicit SnapshotStore(std::string root) : root_(std::move(root)) {}

    // The platform's place: the user's data folder, "snapshots".
    [[nodiscard]] static std::string defaultRoot();

    [[nodiscard]] std::string folderFor(const MountSettings& controller) const;

    // Writes the controller's settings as a backup dated `now`, then keeps the newest
    // kSnapshotsKept. False with the reason in `error`; `path` names the file written.
    [[nodiscard]] bool write(const MountSettings& controller, std::time_t now, std::string& path,
                             std::string& error) const;

    // This controller's snapshots, newest first. An absent folder holds none.
    [[nodiscard]] std::vector<SnapshotFile> list(const MountSettings& controller) const;

  private:
    std::string root_;
};

}  // namespace vornic::settings
