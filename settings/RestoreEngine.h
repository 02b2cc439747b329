#pragma once
// The one way settings are made to match an image, shared by the command line's `restore` and the
// windows' undo and restore.
//
// The link has no transactions, so what the controller held before is the way back: only what
// differs is sent, each operation waits for the report it provokes, then the controller is read
// back (what was sent proves nothing) and compared with what was asked. When something did not
// take, or the user interrupted, whatever changed is put back to what the controller held before
// and read back once more, and the record says what could not be put back.
//
// The engine runs on whatever thread drives the link and blocks there; the link does the waiting.

#include <cstddef>
#include <string>
#include <vector>

#include "controller/MountSettings.h"
#include "settings/Backup.h"
#include "settings/Operations.h"

namespace vornic::settings {

// The outcome of one step on the link. `reason` is one line for the user when !ok.
struct LinkStep {
    bool ok = true;
    std::string reason;
};

class RestoreLink {
  public:
    virtual ~RestoreLink() = default;
    // Sends one operation and waits for what it provokes.
    [[nodiscard]] virtual LinkStep send(const OpCall& call) = 0;
    // Reads the controller's settings back from the controller itself; on success settings()
    // holds them.
    [[nodiscard]] virtual LinkStep readBack() = 0;
    // What the controller held when last read (at connect, or by readBack()).
    [[nodiscard]] virtual const MountSettings& settings() const = 0;
    // Whether the user asked to stop; clearInterrupted() takes the request as handled, so that a
    // second one can end the putting back as well.
    [[nodiscard]] virtual bool interrupted() const = 0;
    virtual void clearInterrupted() = 0;
};

// What the engine tells as it goes, for a caller that shows progress (the command line prints
// each line where it happens). Every hook is optional.
class RestoreObserver {
  public:
    virtual ~RestoreObserver() = default;
    // A step on the link failed and the engine stops relying on it.
    virtual void failed(const LinkStep& /*step*/) {}
    // The controller was read back after the restore: `notTaken` still differ.
    virtual void verified(const std::vector<Difference>& /*notTaken*/, size_t /*sent*/) {}
    // The user interrupted: the controller is read back before anything is put back.
    virtual void readingBackAfterInterrupt() {}
    // What changed is about to be put back.
    virtual void puttingBack() {}
    // Read back after putting back: `left` are the changed settings that still differ.
    virtual void putBack(const std::vector<Difference>& /*left*/, size_t /*sent*/) {}
};

struct RestoreResult {
    enum class End {
        NothingToDo,     // the controller already held the image
        Verified,        // everything sent, read back and as asked
        KeptPartial,     // did not take, and the caller asked to keep what did
        PutBack,         // did not take or interrupted; what changed was put back and verified
        NotAllPutBack,   // ... but some of it still differs (`notPutBack`)
        PutBackFailed,   // ... and putting back failed or was interrupted
        ReadBackFailed,  // the controller could not be read back
    };
    End end = End::NothingToDo;
    bool interrupted = false;
    std::vector<OpCall> asked;           // the plan, in order
    size_t sent = 0;                     // operations of the plan that were sent and answered
    std::vector<Difference> notTaken;    // after the read-back, against the image
    std::vector<OpCall> putBackPlan;     // what was sent to put things back
    std::vector<Difference> notPutBack;  // after putting back, against the earlier settings
    MountSettings before;                // what the controller held before
    // What went wrong in one phrase ("2 setting(s) did not take"); "" when all went well.
    std::string what;
    // One line saying how it ended, when it did not go well; "" otherwise.
    std::string message;
    [[nodiscard]] bool ok() const { return end == End::NothingToDo || end == End::Verified; }
};

struct RestoreOptions {
    bool keepPartial = false;  // leave what took when something did not, instead of putting back
    // What was being restored, for the messages ("... may hold part of the file's settings").
    std::string whose = "the file's settings";
};

// Makes the controller hold `image` (checked against it beforehand by the caller).
[[nodiscard]] RestoreResult restoreSettings(RestoreLink& link, const SettingsImage& image,
                                            const RestoreOptions& options,
                                            RestoreObserver* observer = nullptr);

}  // namespace vornic::settings
