#pragma once
// SettingsNet: what the main window's "Settings" menu and its dialogs ask of the settings safety
// net (a snapshot at every connect, the "Not saved into KZ2" mark, undo since connecting, back up,
// restore and compare with a file, the snapshots of this controller).
//
// The dialog logic in ui/ is written against this interface only; the desktop application
// implements it below the windows, over the connection and the one restore engine the command line
// uses as well. Every call is made on the UI thread. Whatever needs the controller (reading it back
// for a preview, a restore) runs off the UI thread and reports once, on the UI thread, through the
// callback it was given; a call made while another is running is answered at once with `busy`.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vornic::ui {

// One line of a preview: a setting that differs, as the controller holds it now and as the other
// side (the snapshot taken at connect, a file) holds it. Values are display text.
struct SettingRow {
    std::string setting;
    std::string now;
    std::string other;
};

struct Preview {
    bool ok = false;
    // When !ok: one line naming the problem (a bad file, no connection, no answer); nothing was
    // sent.
    std::string error;
    std::vector<SettingRow> rows;  // empty when the controller already holds the other side
    // The file comes from another controller than the connected one: `warning` names both
    // identities, and a restore needs the user's explicit confirmation.
    bool otherController = false;
    std::string warning;
    // Names what the preview was made from, for restore(): a file path, or "" for the snapshot
    // taken at connect.
    std::string source;
};

struct RestoreOutcome {
    bool ok = false;  // everything asked for took and read back as asked
    // One line for the status line and the dialog, e.g. "Restored and verified: 3 settings", or
    // what did not take and what was put back.
    std::string message;
};

struct SnapshotEntry {
    std::string path;    // the file; give it to preview() as the source
    std::string date;    // as the user reads it, e.g. "2026-12-08 06:15:02 UTC"
    int differing = -1;  // settings that differ from the controller now; -1 when not known
};

class SettingsNet {
  public:
    virtual ~SettingsNet() = default;

    // Whether a controller is connected (the menu items that need one are disabled otherwise).
    [[nodiscard]] virtual bool connected() const = 0;
    // Whether the controller's working settings hold changes not saved into it: the
    // "Not saved into KZ2" mark.
    [[nodiscard]] virtual bool notSaved() const = 0;
    // Called on the UI thread whenever connected() or notSaved() may have changed.
    virtual void onStateChanged(std::function<void()> changed) = 0;

    // The differences between the controller now and `source` ("" = the snapshot taken at
    // connect; otherwise a backup or snapshot file, checked whole first with the command line's
    // rules). Works off the UI thread, and reads the controller back only when a change was sent
    // since it was last read; `done` runs once on the UI thread.
    virtual void preview(const std::string& source, std::function<void(Preview)> done) = 0;

    // Makes the controller hold what `preview` showed: sends only what differs, reads back and
    // verifies; when a setting does not take, puts back what was changed. `confirmedOther` is the
    // user's explicit yes for a file from another controller. `done` runs once on the UI thread.
    virtual void restore(const Preview& preview, bool confirmedOther,
                         std::function<void(RestoreOutcome)> done) = 0;

    // Writes the controller's settings in the command line's backup format to `path` with the
    // safe writer. False with the reason in `error`.
    [[nodiscard]] virtual bool backUp(const std::string& path, std::string& error) = 0;
    // The suggested file name of a backup: "vornic-<controller>-<date>.json".
    [[nodiscard]] virtual std::string defaultBackupName() const = 0;

    // This controller's snapshots, newest first, each compared with the controller as a preview
    // sees it; `done` runs once on the UI thread.
    virtual void snapshots(std::function<void(std::vector<SnapshotEntry>)> done) = 0;
};

}  // namespace vornic::ui
