#include "support/FakeSettingsNet.h"

#include <utility>

namespace vornic::ui {

namespace {

// Runs the held answer once; false when none was held.
bool release(std::function<void()>& pending) {
    if (!pending) {
        return false;
    }
    auto answer = std::move(pending);
    pending = nullptr;
    answer();
    return true;
}

}  // namespace

void FakeSettingsNet::setState(bool connected, bool notSaved) {
    connected_ = connected;
    notSaved_ = notSaved;
    if (changed_) {
        changed_();
    }
}

void FakeSettingsNet::preview(const std::string& source, std::function<void(Preview)> done) {
    previewSources.push_back(source);
    const auto special = previewFor.find(source);
    Preview answer = special != previewFor.end() ? special->second : previewAnswer;
    answer.source = source;
    pendingPreview_ = [answer, done = std::move(done)] { done(answer); };
    if (!deferAnswers) {
        answerPreview();
    }
}

void FakeSettingsNet::restore(const Preview& preview, bool confirmedOther,
                              std::function<void(RestoreOutcome)> done) {
    restores.push_back({preview, confirmedOther});
    pendingRestore_ = [answer = restoreAnswer, done = std::move(done)] { done(answer); };
    if (!deferAnswers) {
        answerRestore();
    }
}

bool FakeSettingsNet::backUp(const std::string& path, std::string& error) {
    backUps.push_back(path);
    if (!backUpSucceeds) {
        error = backUpError;
    }
    return backUpSucceeds;
}

void FakeSettingsNet::snapshots(std::function<void(std::vector<SnapshotEntry>)> done) {
    ++snapshotCalls;
    pendingSnapshots_ = [list = snapshotList, done = std::move(done)] { done(list); };
    if (!deferAnswers) {
        answerSnapshots();
    }
}

bool FakeSettingsNet::answerPreview() {
    return release(pendingPreview_);
}

bool FakeSettingsNet::answerRestore() {
    return release(pendingRestore_);
}

bool FakeSettingsNet::answerSnapshots() {
    return release(pendingSnapshots_);
}

}  // namespace vornic::ui
