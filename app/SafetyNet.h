#pragma once
// SafetyNet: the settings safety net of both windows, below them.
//
//  - It sits in the report chain (TelescopeControl -> SafetyNet -> AppModel) and sees every report
//    on the link's worker thread, before AppModel's mailbox can fold two into one. It never blocks
//    there: it copies what it needs under its lock and hands work to its own thread.
//  - The dialogs send through a WatchedControl, which tells it what they ask for (UI thread).
//  - Every connect the user asked for is followed by a snapshot of the settings read in the
//    handshake, written on its own thread; a snapshot that cannot be written is said in the status
//    line and holds nothing up.
//  - Preview, restore and the snapshot list run the one restore engine on its own thread over a
//    link that drives the TelescopeControl and waits for the reports seen here. Reading back is a
//    disconnect and a connect, as on the command line; its steps are kept from the window (the
//    status line keeps what it said, the fields get what was read) unless one fails, and the window
//    is told (readingBack()) so that it does not take it for the user's: no snapshot, the mark and
//    the connect baseline stay, the port list keeps its port.
//  - A preview and the snapshot list read back only when a change was sent since the last read
//    (or the handshake); otherwise they use what that read found. A restore always reads back.
//  - Results come back on the UI thread through AppModel's tasks; once the window is going they
//    are dropped, so none reaches a dialog that is gone. shutdown() ends a running task at once
//    (every wait on the link ends) and waits for the thread.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/WatchedControl.h"
#include "controller/Contract.h"
#include "controller/MountSettings.h"
#include "platform/Threads.h"
#include "settings/SettingsImage.h"
#include "settings/Snapshots.h"
#include "ui/AppModel.h"
#include "ui/ControlModel.h"
#include "ui/SettingsNet.h"

namespace vornic {

class SafetyNet final : public ui::SettingsNet, public TelescopeListener, private CommandWatcher {
  public:
    struct Options {
        std::string snapshotRoot = settings::SnapshotStore::defaultRoot();
        uint32_t waitMs = 15000;         // for the report an operation provokes
        uint32_t connectWaitMs = 60000;  // for a whole handshake
        uint32_t settleMs = 300;         // after an operation the controller does not answer
    };

    // `next` gets every report after this has seen it; `tasks` runs work on the UI thread;
    // `window` yields the main dialog's controls while it runs (for the status line).
    SafetyNet(TelescopeListener& next, ui::AppModel& tasks,
              std::function<ui::ControlModel*()> window, Options options);
    ~SafetyNet() override;
    SafetyNet(const SafetyNet&) = delete;
    SafetyNet& operator=(const SafetyNet&) = delete;

    // The link to drive (before anything is sent) and the one the dialogs are to send through.
    void attach(iTelescopeControl& control);
    [[nodiscard]] iTelescopeControl& dialogControl() { return *watched_; }

    // UI thread: whether a read-back of ours is closing and opening the port.
    [[nodiscard]] bool readingBack() const { return uiReadingBack_; }
    // The file the last snapshot went to, "" before any (any thread).
    [[nodiscard]] std::string lastSnapshot() const;

    // Ends a running task and waits for the thread; later calls answer nothing.
    void shutdown();

    // ui::SettingsNet (UI thread)
    [[nodiscard]] bool connected() const override { return connected_; }
    [[nodiscard]] bool notSaved() const override { return notSaved_; }
    void onStateChanged(std::function<void()> changed) override { changed_ = std::move(changed); }
    void preview(const std::string& source, std::function<void(ui::Preview)> done) override;
    void restore(const ui::Preview& preview, bool confirmedOther,
                 std::function<void(ui::RestoreOutcome)> done) override;
    [[nodiscard]] bool backUp(const std::string& path, std::string& error) override;
    [[nodiscard]] std::string defaultBackupName() const override;
    void snapshots(std::function<void(std::vector<ui::SnapshotEntry>)> done) override;

    // TelescopeListener (the link's worker thread)
    void onStatus(StatusCode code) override;
    void onSettings(const MountSettings& settings, ReportKind kind) override;
    void onVoltage(uint32_t hundredthsOfVolt) override;

  private:
    class Link;
    friend class Link;

    struct Seen {
        enum class Type { Status, Settings, Voltage } type = Type::Status;
        StatusCode code = 0;
        ReportKind kind = 0;
        MountSettings settings;
    };

    // CommandWatcher (UI thread)
    void connecting(uint32_t portNumber, uint32_t baudRate) override;
    void settingChanging() override;
    void storing() override;

    void stateChanged();
    void runJobs();
    void queueJob(std::function<void()> job);
    // Starts a task on the thread unless one runs; false (answered busy) otherwise.
    bool startTask();
    void finishTask(std::function<void()> onUiThread);
    void writeSnapshot(const MountSettings& settings);
    // Reads a file or takes the connect baseline; the image for restore() is kept by source.
    bool loadSource(const std::string& source, const MountSettings& now,
                    settings::SettingsImage& image, ui::Preview& preview);

    TelescopeListener& next_;
    ui::AppModel& tasks_;
    std::function<ui::ControlModel*()> window_;
    Options options_;
    settings::SnapshotStore store_;
    iTelescopeControl* control_ = nullptr;
    std::unique_ptr<WatchedControl> watched_;

    // UI thread
    bool connected_ = false;
    bool notSaved_ = false;
    bool savePending_ = false;
    bool busy_ = false;
    bool uiReadingBack_ = false;
    bool changedSinceRead_ = false;
    std::function<void()> changed_;

    // Shared, under lock_
    mutable platform::Lock lock_;
    platform::Condition wake_;
    std::deque<Seen> seen_;  // reports a link wait looks at
    bool collecting_ = false;
    bool readingBackLink_ = false;
    bool readBackClosed_ = false;        // a read-back's close was kept from the window
    bool readBackFailureShown_ = false;  // a read-back's failure went on to the window
    MountSettings current_;
    MountSettings baseline_;  // what the controller held at the user's connect
    uint32_t portNumber_ = 0;
    uint32_t baudRate_ = 9600;
    std::map<std::string, settings::SettingsImage> images_;  // by preview source
    std::string lastSnapshot_;
    std::deque<std::function<void()>> jobs_;
    std::atomic<bool> closing_{false};
    platform::Thread thread_;
    bool started_ = false;
};

}  // namespace vornic
