#pragma once
// FakeSettingsNet: a SettingsNet with no controller behind it, for the window's tests.
//
// It answers with what the test put in its public fields and records every call. Answers come at
// once, from inside the call, unless `deferAnswers` is set; then each waits until the test
// releases it with answerPreview / answerRestore / answerSnapshots, as a real answer comes later
// from the worker, possibly after the dialog that asked has closed.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/SettingsNet.h"

namespace vornic::ui {

class FakeSettingsNet final : public SettingsNet {
  public:
    // State, changed with setState so that the window hears of it.
    void setState(bool connected, bool notSaved);

    // What the next calls answer.
    Preview previewAnswer;                      // its `source` is set to the one asked for
    std::map<std::string, Preview> previewFor;  // by source, instead of previewAnswer
    RestoreOutcome restoreAnswer{true, "Restored and verified: 1 setting"};
    std::vector<SnapshotEntry> snapshotList;
    bool backUpSucceeds = true;
    std::string backUpError;
    std::string backupName = "vornic-KZ2-2026-12-08.json";
    bool deferAnswers = false;

    // What was asked.
    struct RestoreCall {
        Preview preview;
        bool confirmedOther = false;
    };
    std::vector<std::string> previewSources;
    std::vector<RestoreCall> restores;
    std::vector<std::string> backUps;
    int snapshotCalls = 0;

    // Releases the answer held back while `deferAnswers` is set; false when none is waiting.
    bool answerPreview();
    bool answerRestore();
    bool answerSnapshots();

    // SettingsNet
    [[nodiscard]] bool connected() const override { return connected_; }
    [[nodiscard]] bool notSaved() const override { return notSaved_; }
    void onStateChanged(std::function<void()> changed) override { changed_ = std::move(changed); }
    void preview(const std::string& source, std::function<void(Preview)> done) override;
    void restore(const Preview& preview, bool confirmedOther,
                 std::function<void(RestoreOutcome)> done) override;
    [[nodiscard]] bool backUp(const std::string& path, std::string& error) override;
    [[nodiscard]] std::string defaultBackupName() const override { return backupName; }
    void snapshots(std::function<void(std::vector<SnapshotEntry>)> done) override;

  private:
    bool connected_ = false;
    bool notSaved_ = false;
    std::function<void()> changed_;
    std::function<void()> pendingPreview_;
    std::function<void()> pendingRestore_;
    std::function<void()> pendingSnapshots_;
};

}  // namespace vornic::ui
