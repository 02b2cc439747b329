#include "app/SafetyNet.h"

#include <chrono>
#include <utility>

#include "controller/SettingTable.h"
#include "settings/RestoreEngine.h"
#include "ui/MainDialogIds.h"
#include "ui/SecondaryDialogs.h"

namespace vornic {

namespace {

// Reports kept for a wait; a wait needs only the few its operation provokes.
constexpr size_t kMaxSeen = 256;

std::string capitalised(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') {
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    }
    return text;
}

// What the window calls each setting; a setting of both axes gets "RA " or "DE " in front, one
// of three motor states the state's name.
struct Words {
    const char* field;
    const char* name;
};
constexpr Words kWords[] = {{"gearRatio", "gear ratio"},
                            {"maxSpeed", "max speed"},
                            {"acceleration", "acceleration"},
                            {"deceleration", "deceleration"},
                            {"motorCurrent", "current"},
                            {"decay", "decay"},
                            {"thirdOvertone", "3rd. overtone"},
                            {"incCurrentAt", "inc. current at"},
                            {"guidingRate", "guiding corrections"},
                            {"reverseRotation", "reverse rotation"},
                            {"reverseAutoguiding", "reverse autoguiding"},
                            {"reverseLimitSwitches", "reverse limit switches"},
                            {"mountType", "Mount type"},
                            {"latitude", "Latitude"},
                            {"longitude", "Longitude"},
                            {"meridianFlipHysteresis", "Meridian flip hysteresis"}};

std::string wordsFor(const SettingField& field) {
    for (const Words& w : kWords) {
        if (std::string_view(w.field) == field.name) {
            return w.name;
        }
    }
    return field.name;
}

// The last part of a path, as the file dialog showed it.
std::string fileName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reads a backup file whole; `error` says why it cannot be used, in words fit for the status line.
bool readBackup(const std::string& path, settings::SettingsImage& image, std::string& error) {
    std::string text;
    if (!settings::readFileText(path, text, error)) {
        error = "Nothing was sent: " + error;
        return false;
    }
    if (!settings::parseBackupText(text, image, error)) {
        error = "Nothing was sent: " + fileName(path) + ": " + error;
        return false;
    }
    return true;
}

// The statuses a read-back that goes as it should passes through: closing and opening the port and
// the handshake.
bool isReadBackStep(StatusCode code) {
    return code == status::kConnectionClosed || code == status::kOpeningPort ||
           code == status::kConnecting || code == status::kConnectionEstablished;
}

bool isAxisMask(const SettingField& field) {
    return std::string_view(field.name).rfind("reverse", 0) == 0;
}

std::string valueText(const SettingField& field, int64_t value) {
    const std::string_view name = field.name;
    if (name == "latitude") {
        return ui::angleText(static_cast<int32_t>(value), "N ", "S ");
    }
    if (name == "longitude") {
        return ui::angleText(static_cast<int32_t>(value), "E ", "W ");
    }
    if (name == "mountType") {
        static const char* const kTypes[] = {"Equatorial german", "Equatorial fork",
                                             "Alt - Azimut"};
        return value >= 0 && value < 3 ? kTypes[value] : std::to_string(value);
    }
    return std::to_string(value);
}

// One row for each value that differs, in the window's words: "RA max speed", "DE run current",
// "RA reverse rotation" (on/off), "Latitude" (N 52:13:01).
std::vector<ui::SettingRow> rowsOf(const settings::SettingsImage& image, const MountSettings& now) {
    static const char* const kAxes[] = {"RA ", "DE "};
    static const char* const kStates[] = {"idle ", "track ", "run "};
    std::vector<ui::SettingRow> rows;
    for (const auto& d : settings::differences(image, now)) {
        const SettingField* field = findSettingField(d.field);
        if (field == nullptr) {
            continue;
        }
        const std::string words = wordsFor(*field);
        if (isAxisMask(*field)) {
            const int64_t is = field->get(now, 0, 0);
            const int64_t was = field->get(image.values, 0, 0);
            for (int axis = 0; axis < 2; ++axis) {
                const int64_t bit = int64_t{1} << axis;
                if ((is & bit) != (was & bit)) {
                    rows.push_back({kAxes[axis] + words, (is & bit) != 0 ? "on" : "off",
                                    (was & bit) != 0 ? "on" : "off"});
                }
            }
            continue;
        }
        forEachSettingElement(field->shape, [&](int axis, int index) {
            const int64_t is = field->get(now, axis, index);
            const int64_t was = field->get(image.values, axis, index);
            if (is == was) {
                return;
            }
            std::string name = words;
            if (field->shape == SettingShape::Triples) {
                name = kAxes[axis] + (kStates[index] + words);
            } else if (field->shape == SettingShape::Pair) {
                name = kAxes[axis] + words;
            }
            rows.push_back({name, valueText(*field, is), valueText(*field, was)});
        });
    }
    return rows;
}

}  // namespace

// The TelescopeControl as the engine's link, driven from the net's thread (or, for a backup, the
// UI thread while no task runs). Each wait looks at the reports the net saw since the request.
class SafetyNet::Link final : public settings::RestoreLink {
  public:
    explicit Link(SafetyNet& net) : net_(net) {
        std::lock_guard<platform::Lock> guard(net_.lock_);
        settings_ = net_.current_;
        port_ = net_.portNumber_;
        baud_ = net_.baudRate_;
    }

    settings::LinkStep send(const settings::OpCall& call) override {
        // Once the window is going nothing more goes to the controller.
        if (net_.closing_) {
            return {false, "the window was closed"};
        }
        begin();
        settings::invoke(*net_.control_, call);
        return wait(settings::expectationFor(call, settings_.featureLevel), 0);
    }

    settings::LinkStep readBack() override {
        if (net_.closing_) {
            return {false, "the window was closed"};
        }
        {
            std::lock_guard<platform::Lock> guard(net_.lock_);
            net_.readingBackLink_ = true;
            net_.readBackClosed_ = false;
            net_.readBackFailureShown_ = false;
        }
        SafetyNet* net = &net_;
        net_.tasks_.postTask([net] { net->uiReadingBack_ = true; });
        begin();
        net_.control_->disconnect();
        using K = settings::Expectation::Kind;
        settings::LinkStep step =
            wait({K::Status, status::kConnectionClosed, 0, "the port to close"}, 0);
        if (step.ok) {
            begin();
            net_.control_->connect(port_, baud_);
            step = wait({K::Settings, 0, report::kConnected, "the controller's settings"},
                        net_.options_.connectWaitMs);
        }
        const bool lost = !step.ok;
        bool tellClosed = false;
        {
            std::lock_guard<platform::Lock> guard(net_.lock_);
            net_.readingBackLink_ = false;
            // The port was closed and did not come back, and the window has heard of no failure:
            // the close it was not told of is its news now.
            tellClosed = lost && net_.readBackClosed_ && !net_.readBackFailureShown_;
        }
        net_.tasks_.postTask([net, lost] {
            net->uiReadingBack_ = false;
            net->changedSinceRead_ = net->changedSinceRead_ && lost;
            if (lost) {
                net->connected_ = false;
                net->stateChanged();
            }
        });
        // After the task above, so that the window no longer takes it for a read-back's close.
        if (tellClosed) {
            net_.next_.onStatus(status::kConnectionClosed);
        }
        return step;
    }

    const MountSettings& settings() const override { return settings_; }
    bool interrupted() const override { return net_.closing_; }
    void clearInterrupted() override {}  // closing the window cannot be taken back

  private:
    void begin() {
        std::lock_guard<platform::Lock> guard(net_.lock_);
        net_.seen_.clear();
        net_.collecting_ = true;
    }

    settings::LinkStep wait(const settings::Expectation& expect, uint32_t timeoutMs) {
        using K = settings::Expectation::Kind;
        const bool settle = expect.kind == K::Settle;
        const uint32_t limit =
            timeoutMs != 0 ? timeoutMs : (settle ? net_.options_.settleMs : net_.options_.waitMs);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
        std::lock_guard<platform::Lock> guard(net_.lock_);
        for (;;) {
            while (!net_.seen_.empty()) {
                const Seen seen = net_.seen_.front();
                net_.seen_.pop_front();
                if (seen.type == Seen::Type::Settings) {
                    if (seen.kind == report::kTooOld) {
                        return done({false, "the controller's firmware is too old"});
                    }
                    settings_ = seen.settings;
                    if (expect.kind == K::Settings && seen.kind == expect.reportKind) {
                        return done({});
                    }
                } else if (seen.type == Seen::Type::Status) {
                    if (isErrorStatus(seen.code)) {
                        const char* text = statusText(seen.code);
                        return done({false, text != nullptr ? text : "Error"});
                    }
                    if (expect.kind == K::Status && seen.code == expect.status) {
                        return done({});
                    }
                } else if (expect.kind == K::Voltage) {
                    return done({});
                }
            }
            if (net_.closing_) {
                return done({false, "the window was closed"});
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                return done(settle
                                ? settings::LinkStep{}
                                : settings::LinkStep{
                                      false, std::string("no answer: waited for ") + expect.what});
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
            net_.wake_.wait(net_.lock_, static_cast<uint32_t>(left));
        }
    }

    // Called with the lock held.
    settings::LinkStep done(settings::LinkStep step) {
        net_.collecting_ = false;
        net_.seen_.clear();
        return step;
    }

    SafetyNet& net_;
    MountSettings settings_;
    uint32_t port_ = 0;
    uint32_t baud_ = 9600;
};

SafetyNet::SafetyNet(TelescopeListener& next, ui::AppModel& tasks,
                     std::function<ui::ControlModel*()> window, Options options)
    : next_(next),
      tasks_(tasks),
      window_(std::move(window)),
      options_(std::move(options)),
      store_(options_.snapshotRoot) {}

SafetyNet::~SafetyNet() {
    shutdown();
}

void SafetyNet::attach(iTelescopeControl& control) {
    control_ = &control;
    watched_ = std::make_unique<WatchedControl>(control, static_cast<CommandWatcher&>(*this));
    started_ = thread_.start([this] { runJobs(); });
}

void SafetyNet::shutdown() {
    closing_ = true;
    {
        std::lock_guard<platform::Lock> guard(lock_);
        jobs_.clear();
        wake_.notifyAll();
    }
    if (started_) {
        // Every wait ends within one step once closing_ is set; a write to disk is all that can
        // take longer.
        while (!thread_.join(1000)) {
        }
        started_ = false;
    }
}

std::string SafetyNet::lastSnapshot() const {
    std::lock_guard<platform::Lock> guard(lock_);
    return lastSnapshot_;
}

void SafetyNet::runJobs() {
    for (;;) {
        std::function<void()> job;
        {
            std::lock_guard<platform::Lock> guard(lock_);
            while (jobs_.empty() && !closing_) {
                wake_.wait(lock_, 1000);
            }
            if (closing_) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

void SafetyNet::queueJob(std::function<void()> job) {
    std::lock_guard<platform::Lock> guard(lock_);
    jobs_.push_back(std::move(job));
    wake_.notifyAll();
}

void SafetyNet::stateChanged() {
    if (changed_) {
        changed_();
    }
}

bool SafetyNet::startTask() {
    if (busy_ || closing_) {
        return false;
    }
    busy_ = true;
    return true;
}

void SafetyNet::finishTask(std::function<void()> onUiThread) {
    SafetyNet* net = this;
    tasks_.postTask([net, onUiThread = std::move(onUiThread)] {
        net->busy_ = false;
        onUiThread();
    });
}

// --- reports (worker thread) ---

void SafetyNet::onStatus(StatusCode code) {
    bool ours = false;
    bool held = false;
    {
        std::lock_guard<platform::Lock> guard(lock_);
        ours = readingBackLink_;
        held = ours && isReadBackStep(code);
        readBackClosed_ = readBackClosed_ || (held && code == status::kConnectionClosed);
        readBackFailureShown_ = readBackFailureShown_ || (ours && !held && endsConnection(code));
    }
    // The steps of a sound read-back are no news for the window: the connection never ended for
    // the user, so its status line keeps what it said and its controls stay as they are. A failure
    // on the way goes through as any other.
    if (!held) {
        next_.onStatus(code);
    }
    {
        std::lock_guard<platform::Lock> guard(lock_);
        if (collecting_ && seen_.size() < kMaxSeen) {
            seen_.push_back({Seen::Type::Status, code, 0, {}});
            wake_.notifyAll();
        }
    }
    SafetyNet* net = this;
    if (code == status::kParametersStored) {
        tasks_.postTask([net] {
            if (net->savePending_) {
                net->savePending_ = false;
                net->notSaved_ = false;
                net->stateChanged();
            }
        });
    } else if (endsConnection(code) && !ours) {
        tasks_.postTask([net] {
            net->connected_ = false;
            net->savePending_ = false;
            net->stateChanged();
        });
    }
}

void SafetyNet::onSettings(const MountSettings& settings, ReportKind kind) {
    bool ours = false;
    {
        std::lock_guard<platform::Lock> guard(lock_);
        ours = readingBackLink_;
    }
    // What a read-back finds is shown, as settings the program read again, not as a new connect.
    next_.onSettings(settings, ours && kind == report::kConnected ? report::kReadBack : kind);
    bool userConnect = false;
    {
        std::lock_guard<platform::Lock> guard(lock_);
        if (kind != report::kTooOld) {
            current_ = settings;
        }
        if (collecting_ && seen_.size() < kMaxSeen) {
            seen_.push_back({Seen::Type::Settings, 0, kind, settings});
            wake_.notifyAll();
        }
        userConnect = kind == report::kConnected && !readingBackLink_;
        if (userConnect) {
            baseline_ = settings;
            images_.clear();
        }
    }
    SafetyNet* net = this;
    if (userConnect) {
        tasks_.postTask([net] {
            net->connected_ = true;
            net->notSaved_ = false;
            net->savePending_ = false;
            net->changedSinceRead_ = false;
            net->stateChanged();
        });
        const MountSettings copy = settings;
        queueJob([net, copy] { net->writeSnapshot(copy); });
    } else if (kind == report::kDefaultsReloaded) {
        tasks_.postTask([net] {
            net->notSaved_ = true;
            net->stateChanged();
        });
    }
}

void SafetyNet::onVoltage(uint32_t hundredthsOfVolt) {
    next_.onVoltage(hundredthsOfVolt);
    std::lock_guard<platform::Lock> guard(lock_);
    if (collecting_ && seen_.size() < kMaxSeen) {
        seen_.push_back({Seen::Type::Voltage, 0, 0, {}});
        wake_.notifyAll();
    }
}

// --- what the dialogs ask for (UI thread) ---

void SafetyNet::connecting(uint32_t portNumber, uint32_t baudRate) {
    std::lock_guard<platform::Lock> guard(lock_);
    portNumber_ = portNumber;
    baudRate_ = baudRate;
}

void SafetyNet::settingChanging() {
    changedSinceRead_ = true;
    // A store acknowledged after this change does not cover it.
    savePending_ = false;
    if (connected_ && !notSaved_) {
        notSaved_ = true;
        stateChanged();
    }
}

void SafetyNet::storing() {
    savePending_ = true;
}

// --- snapshots ---

void SafetyNet::writeSnapshot(const MountSettings& settings) {
    std::string path;
    std::string error;
    if (store_.write(settings, std::time(nullptr), path, error)) {
        std::lock_guard<platform::Lock> guard(lock_);
        lastSnapshot_ = path;
        return;
    }
    SafetyNet* net = this;
    tasks_.postTask([net, error] {
        ui::ControlModel* window = net->window_ ? net->window_() : nullptr;
        if (window != nullptr) {
            window->setText(ui::kIdStatusLine, "Error: snapshot not written: " + error);
        }
    });
}

std::string SafetyNet::defaultBackupName() const {
    std::lock_guard<platform::Lock> guard(lock_);
    return settings::backupFileName(current_, std::time(nullptr));
}

bool SafetyNet::backUp(const std::string& path, std::string& error) {
    if (!connected_) {
        error = "Not connected";
        return false;
    }
    if (!startTask()) {
        error = "Busy: another settings task is running";
        return false;
    }
    MountSettings settings;
    if (changedSinceRead_) {
        // The controller does not answer most writes, so what it holds now is read from it.
        Link link(*this);
        const settings::LinkStep step = link.readBack();
        if (!step.ok) {
            busy_ = false;
            error = "cannot read the controller back: " + step.reason;
            return false;
        }
        settings = link.settings();
        changedSinceRead_ = false;
    } else {
        std::lock_guard<platform::Lock> guard(lock_);
        settings = current_;
    }
    busy_ = false;
    const settings::Json doc = settings::makeBackup(settings, settings::isoDateNow());
    return settings::writeFileText(path, doc.dump(2) + "\n", error);
}

// --- preview, restore, the list (the net's thread) ---

bool SafetyNet::loadSource(const std::string& source, const MountSettings& now,
                           settings::SettingsImage& image, ui::Preview& preview) {
    std::string error;
    if (source.empty()) {
        std::lock_guard<platform::Lock> guard(lock_);
        image = settings::wholeImage(baseline_);
    } else {
        if (!readBackup(source, image, error)) {
            preview.error = error;
            return false;
        }
    }
    if (!settings::checkAgainstController(image, now, error)) {
        preview.error = error;
        return false;
    }
    if (!settings::checkSameController(image, now, error)) {
        preview.otherController = true;
        preview.warning = capitalised(error) + ".";
    }
    return true;
}

void SafetyNet::preview(const std::string& source, std::function<void(ui::Preview)> done) {
    ui::Preview answer;
    answer.source = source;
    if (!connected_) {
        answer.error = "Not connected";
        done(answer);
        return;
    }
    if (!startTask()) {
        answer.error = "Busy: another settings task is running";
        done(answer);
        return;
    }
    // A file is checked whole before anything goes to the controller.
    if (!source.empty()) {
        settings::SettingsImage image;
        std::string error;
        if (!readBackup(source, image, error)) {
            busy_ = false;
            answer.error = error;
            done(answer);
            return;
        }
    }
    SafetyNet* net = this;
    const bool readAgain = changedSinceRead_;
    queueJob([net, answer, readAgain, done = std::move(done)]() mutable {
        Link link(*net);
        const settings::LinkStep step = readAgain ? link.readBack() : settings::LinkStep{};
        settings::SettingsImage image;
        if (!step.ok) {
            answer.error = "Cannot read the controller back: " + step.reason;
        } else if (net->loadSource(answer.source, link.settings(), image, answer)) {
            answer.ok = true;
            answer.rows = rowsOf(image, link.settings());
            std::lock_guard<platform::Lock> guard(net->lock_);
            net->images_[answer.source] = image;
        }
        net->finishTask([answer, done = std::move(done)] { done(answer); });
    });
}

void SafetyNet::restore(const ui::Preview& preview, bool confirmedOther,
                        std::function<void(ui::RestoreOutcome)> done) {
    ui::RestoreOutcome answer;
    settings::SettingsImage image;
    bool known = false;
    {
        std::lock_guard<platform::Lock> guard(lock_);
        const auto found = images_.find(preview.source);
        if (found != images_.end()) {
            image = found->second;
            known = true;
        }
    }
    if (!connected_ || !preview.ok || !known) {
        answer.message = !connected_ ? "Not connected; nothing was sent"
                                     : "Nothing was sent: there is no preview of this to restore";
        done(answer);
        return;
    }
    if (preview.otherController && !confirmedOther) {
        answer.message = "Nothing was sent: the file comes from another controller";
        done(answer);
        return;
    }
    if (!startTask()) {
        answer.message = "Busy: another settings task is running; nothing was sent";
        done(answer);
        return;
    }
    SafetyNet* net = this;
    const std::string whose =
        preview.source.empty() ? "the settings at connect" : "the file's settings";
    queueJob([net, image, whose, done = std::move(done)]() mutable {
        ui::RestoreOutcome outcome;
        Link link(*net);
        bool sent = false;
        // What the controller holds now is the way back, so it is read from the controller.
        settings::LinkStep step = link.readBack();
        std::string error;
        if (!step.ok) {
            outcome.message =
                "Cannot read the controller back: " + step.reason + "; nothing was sent";
        } else if (!settings::checkAgainstController(image, link.settings(), error)) {
            outcome.message = error + "; nothing was sent";
        } else {
            // Counted as the preview lists them, one row for each value.
            const size_t differing = rowsOf(image, link.settings()).size();
            settings::RestoreOptions options;
            options.whose = whose;
            const settings::RestoreResult result = settings::restoreSettings(link, image, options);
            sent = result.sent > 0 || !result.putBackPlan.empty();
            outcome.ok = result.ok();
            if (result.end == settings::RestoreResult::End::NothingToDo) {
                outcome.message = "Nothing to restore: the controller already holds these settings";
            } else if (result.ok()) {
                outcome.message = "Restored and verified: " + std::to_string(differing) +
                                  (differing == 1 ? " setting" : " settings");
            } else {
                outcome.message = capitalised(result.message);
            }
        }
        net->finishTask([net, outcome, sent, done = std::move(done)] {
            // What was put back after a setting that did not take is not read again here.
            net->changedSinceRead_ = net->changedSinceRead_ || sent;
            if (sent && net->connected_ && !net->notSaved_) {
                net->notSaved_ = true;
                net->stateChanged();
            }
            done(outcome);
        });
    });
}

void SafetyNet::snapshots(std::function<void(std::vector<ui::SnapshotEntry>)> done) {
    if (!startTask()) {
        done({});
        return;
    }
    SafetyNet* net = this;
    const bool connected = connected_;
    const bool readAgain = changedSinceRead_;
    queueJob([net, connected, readAgain, done = std::move(done)]() mutable {
        std::vector<ui::SnapshotEntry> entries;
        MountSettings identity;
        {
            std::lock_guard<platform::Lock> guard(net->lock_);
            identity = net->current_;
        }
        Link link(*net);
        const bool haveNow = connected && (!readAgain || link.readBack().ok);
        for (const auto& file : net->store_.list(identity)) {
            ui::SnapshotEntry entry{file.path, file.date, -1};
            std::string text;
            std::string error;
            settings::SettingsImage image;
            if (haveNow && settings::readFileText(file.path, text, error) &&
                settings::parseBackupText(text, image, error)) {
                entry.differing = static_cast<int>(rowsOf(image, link.settings()).size());
            }
            entries.push_back(std::move(entry));
        }
        net->finishTask([entries, done = std::move(done)] { done(entries); });
    });
}

}  // namespace vornic
