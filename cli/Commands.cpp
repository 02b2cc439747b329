#include "cli/Commands.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>

#include "cli/Backup.h"
#include "cli/Format.h"
#include "cli/Session.h"
#include "cli/System.h"
#include "platform/PortTable.h"
#include "settings/RestoreEngine.h"

namespace vornic::cli {

namespace {

using std::chrono::milliseconds;

void errorLine(const std::string& message) {
    static_cast<void>(writeText(stderr, "vornic-cli: " + message + "\n"));
    std::fflush(stderr);
}

// Arguments that the operation takes as signed values are shown signed.
Json argumentJson(const OpCall& call, int index) {
    const std::string name = call.info->name;
    const bool isSigned = (name == "setOvertone" && index == 1) ||
                          (name == "applySiteSettings" && (index == 2 || index == 3));
    if (isSigned) {
        return static_cast<int32_t>(call.args[index]);
    }
    return call.args[index];
}

void echoOperation(Output& out, const OpCall& call) {
    std::string line = std::string("> ") + call.info->name;
    Json args = Json::array();
    for (int i = 0; i < call.info->argCount; ++i) {
        const Json value = argumentJson(call, i);
        // Appended piece by piece: GCC 12 warns (wrongly) about overlap in " " + dump().
        line += ' ';
        line += value.dump();
        args.push_back(value);
    }
    out.text(line);
    Json j;
    j["type"] = "operation";
    j["name"] = call.info->name;
    j["args"] = args;
    out.json(j);
}

std::string statusReason(StatusCode code, const Session& session) {
    switch (code) {
        case status::kCannotOpenPort:
            return session.openErrorDescription();
        case status::kTimeout:
            return "the controller did not answer in time; check that it is switched on, that it "
                   "is on " +
                   session.config().devicePath + " and that the baud rate (" +
                   std::to_string(session.config().baud) + ") matches";
        case status::kUnknownDevice:
        case status::kIncompatibleDevice:
            return "the device on " + session.config().devicePath +
                   " is not a controller this program supports";
        case status::kCommunicationError:
            return "the controller link was still waiting for the answer to an earlier request, "
                   "so the operation was refused";
        case status::kAlreadyConnected:
            return "a connection is already open";
        case status::kNotConnectedYet:
            return "the controller is not connected (the connection handshake has not finished)";
        case status::kTooOld:
            return "the controller's firmware is too old for this program (" +
                   identityLine(session.settings()) + ")";
        case status::kNoParking:
            return "this controller does not support parking";
        default:
            return statusTextOf(code);
    }
}

// What went wrong, in the words printed for it.
std::string failureText(const Outcome& outcome, const Session& session) {
    using R = Outcome::Result;
    switch (outcome.result) {
        case R::Ok:
            return {};
        case R::ErrorStatus:
            return statusReason(outcome.code, session);
        case R::Timeout: {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g",
                          static_cast<double>(session.config().timeout.count()) / 1000.0);
            return std::string("timed out after ") + seconds + " s waiting for " +
                   (outcome.what.empty() ? "the controller" : outcome.what);
        }
        case R::LineLost:
            return "the serial line to the controller was lost (hang-up); check the cable, the "
                   "USB adapter and the controller's power";
        case R::Interrupted:
            return "interrupted";
        case R::ReportsLost:
            return "reports from the controller link were lost";
    }
    return "failed";
}

int failure(const Outcome& outcome, const Session& session) {
    if (outcome.ok()) {
        return kExitOk;
    }
    errorLine(failureText(outcome, session));
    return kExitFailed;
}

// Calls one operation and waits for what it provokes.
Outcome perform(Session& session, Output& out, const OpCall& call) {
    echoOperation(out, call);
    invoke(session.control(), call);
    return session.waitFor(expectationFor(call, session.settings().featureLevel));
}

int performAll(Session& session, Output& out, const std::vector<OpCall>& calls) {
    for (const OpCall& call : calls) {
        const Outcome outcome = perform(session, out, call);
        if (!outcome.ok()) {
            return failure(outcome, session);
        }
    }
    return kExitOk;
}

int runPorts(Output& out) {
    const auto ports = platform::listSerialPorts();
    if (ports.empty()) {
        out.text("No serial ports found.");
    }
    for (const auto& port : ports) {
        if (!port.name.empty()) {
            out.text(port.name);
        } else {
            out.text(port.target.empty() ? port.path : port.path + " -> " + port.target);
        }
        Json j;
        j["type"] = "port";
        j["path"] = port.path;
        j["target"] = port.target;
        if (!port.name.empty()) {
            j["name"] = port.name;
        }
        out.json(j);
    }
    return kExitOk;
}

int runMove(Session& session, Output& out, const Invocation& inv) {
    const OpCall start = makeCall("startMove", {inv.direction, inv.speed});
    Outcome outcome = perform(session, out, start);
    // From here on the mount may be moving: whatever happens, the stop is sent.
    if (outcome.ok()) {
        const milliseconds duration =
            inv.seconds < 0
                ? milliseconds{-1}
                : milliseconds{static_cast<int64_t>(std::llround(inv.seconds * 1000.0))};
        outcome = session.waitWhile(duration);
        if (outcome.result == Outcome::Result::Interrupted) {
            outcome = Outcome{};  // Ctrl-C is the ordinary way to end a move
        }
    }
    if (outcome.result == Outcome::Result::LineLost) {
        // Nothing can reach the controller any more: say so instead of pretending to stop it.
        errorLine(
            "the serial line to the controller was lost (hang-up) during the move, so the stop "
            "could not be sent; stop the mount at the controller");
        return kExitFailed;
    }
    const OpCall stop = makeCall("stopMove", {direction::kBoth});
    echoOperation(out, stop);
    session.control().stopMove(direction::kBoth);
    const Outcome stopped = session.waitFor(expectationFor(stop, session.settings().featureLevel),
                                            milliseconds{0}, false);
    if (!outcome.ok()) {
        return failure(outcome, session);
    }
    return stopped.ok() ? kExitOk : failure(stopped, session);
}

int runSync(Session& session, Output& out, const Invocation& inv) {
    const unsigned level = session.settings().featureLevel;
    const uint32_t code = inv.positionCode;
    const bool setPosition = code == 4 || code == 5 || code == 12 || code == 13;
    if (level < 6 && !setPosition) {
        errorLine(std::string("this controller (feature level ") + std::to_string(level) +
                  ") can only be synchronised to Default east side - Equator, West side - "
                  "Equator, Eastern Horizon or Western Horizon, not " +
                  positionName(code));
        return kExitFailed;
    }
    const int result = performAll(session, out, {makeCall("initScope", {code})});
    if (result == kExitOk && level < 6) {
        out.text(std::string("Position set to ") + positionName(code) +
                 " (this controller gives no confirmation).");
    }
    return result;
}

void printDifferences(Output& out, const std::vector<Difference>& list, const char* type,
                      const char* prefix, const char* wantedLabel = "file") {
    for (const auto& d : list) {
        out.text(std::string(prefix) + d.field + ": " + wantedLabel + " " + d.file.dump() +
                 ", controller " + d.controller.dump());
        Json j;
        j["type"] = type;
        j["field"] = d.field;
        j["file"] = d.file;
        j["controller"] = d.controller;
        out.json(j);
    }
}

// The fields a set request may change.
std::vector<std::string> fieldsOfRequest(const SetRequest& request) {
    if (request.field == "site") {
        return {"mountType", "latitude", "longitude", "meridianFlipHysteresis"};
    }
    return {request.field};
}

int runSet(Session& session, Output& out, const Invocation& inv) {
    std::vector<OpCall> calls;
    std::string error;
    MountSettings expected;
    if (!buildSetOperations(inv.set, session.settings(), calls, error, &expected)) {
        errorLine(error);
        return kExitFailed;
    }
    if (calls.empty()) {
        out.text("Nothing to change: the controller already holds these values.");
        return kExitOk;
    }
    const int result = performAll(session, out, calls);
    if (result != kExitOk) {
        return result;
    }
    // The gear ratios come back in their own report; everything else is read back by connecting
    // again, since the controller does not answer those writes.
    if (inv.set.field != "gearRatio") {
        out.text("Reading the settings back to check them:");
        const Outcome again = session.reconnect();
        if (!again.ok()) {
            return failure(again, session);
        }
    }
    SettingsImage wanted;
    wanted.values = expected;
    for (const std::string& name : fieldsOfRequest(inv.set)) {
        for (size_t i = 0; i < settingFields().size(); ++i) {
            if (name == settingFields()[i].name) {
                wanted.present[i] = true;
            }
        }
    }
    const auto notTaken = differences(wanted, session.settings());
    if (!notTaken.empty()) {
        printDifferences(out, notTaken, "notTaken", "Did not take: ", "asked");
        errorLine("the controller did not take " + notTaken.front().field +
                  (notTaken.size() > 1 ? " and " + std::to_string(notTaken.size() - 1) + " more"
                                       : std::string()) +
                  "; it still holds " + notTaken.front().controller.dump());
        return kExitFailed;
    }
    return kExitOk;
}

int runBackup(Session& session, Output& out, const Invocation& inv) {
    const Json doc = makeBackup(session.settings(), isoDateNow());
    std::string error;
    if (!writeFileText(inv.file, doc.dump(2) + "\n", error)) {
        errorLine(error);
        return kExitFailed;
    }
    out.text("Backup written to " + inv.file + ".");
    Json j;
    j["type"] = "backup";
    j["file"] = inv.file;
    j["featureLevel"] = session.settings().featureLevel;
    out.json(j);
    return kExitOk;
}

int runDiff(Session& session, Output& out, const SettingsImage& image) {
    std::string error;
    if (!checkAgainstController(image, session.settings(), error)) {
        errorLine(error);
        return kExitFailed;
    }
    const auto list = differences(image, session.settings());
    printDifferences(out, list, "difference", "");
    if (list.empty()) {
        out.text("No differences.");
    }
    Json j;
    j["type"] = "diff";
    j["differences"] = list.size();
    out.json(j);
    return kExitOk;
}

// The session as the restore engine's link: each operation is echoed, sent and waited for, and a
// read-back is a reconnect, since the controller answers most writes with nothing.
class SessionLink final : public settings::RestoreLink {
  public:
    SessionLink(Session& session, Output& out) : session_(session), out_(out) {}

    settings::LinkStep send(const OpCall& call) override {
        return step(perform(session_, out_, call));
    }
    settings::LinkStep readBack() override { return step(session_.reconnect()); }
    const MountSettings& settings() const override { return session_.settings(); }
    bool interrupted() const override { return cli::interrupted(); }
    void clearInterrupted() override { cli::clearInterrupted(); }

  private:
    settings::LinkStep step(const Outcome& outcome) const {
        return {outcome.ok(), failureText(outcome, session_)};
    }

    Session& session_;
    Output& out_;
};

// Prints the restore's progress where it happens, between the reports of the link.
class RestorePrinter final : public settings::RestoreObserver {
  public:
    explicit RestorePrinter(Output& out) : out_(out) {}

    void failed(const settings::LinkStep& step) override { errorLine(step.reason); }
    void verified(const std::vector<Difference>& notTaken, size_t sent) override {
        printDifferences(out_, notTaken, "notTaken", "Did not take: ");
        Json j;
        j["type"] = "verify";
        j["sent"] = sent;
        j["notTaken"] = notTaken.size();
        out_.json(j);
    }
    void readingBackAfterInterrupt() override {
        out_.text("Interrupted: reading the controller back to put back what changed:");
    }
    void puttingBack() override { out_.text("Putting back the settings that were changed:"); }
    void putBack(const std::vector<Difference>& left, size_t sent) override {
        printDifferences(out_, left, "notPutBack", "Could not put back: ", "earlier");
        Json j;
        j["type"] = "putBack";
        j["sent"] = sent;
        j["notPutBack"] = left.size();
        out_.json(j);
    }

  private:
    Output& out_;
};

int runRestore(Session& session, Output& out, const Invocation& inv, const SettingsImage& image) {
    std::string error;
    if (!inv.otherController && !checkSameController(image, session.settings(), error)) {
        errorLine(error + "; give --other-controller to restore it anyway; nothing was changed");
        return kExitFailed;
    }
    if (!checkAgainstController(image, session.settings(), error)) {
        errorLine(error + "; nothing was changed");
        return kExitFailed;
    }
    SessionLink link(session, out);
    RestorePrinter printer(out);
    settings::RestoreOptions options;
    options.keepPartial = inv.keepPartial;
    const settings::RestoreResult result =
        settings::restoreSettings(link, image, options, &printer);
    using End = settings::RestoreResult::End;
    switch (result.end) {
        case End::NothingToDo:
            out.text("Nothing to restore: the controller already holds the file's settings.");
            break;
        case End::Verified:
            out.text("Verified: the controller holds the file's settings.");
            break;
        case End::KeptPartial:
            errorLine(result.what + "; the others were kept (--keep-partial)" +
                      (inv.save ? "; the settings were not stored in the controller" : ""));
            return kExitFailed;
        default:
            errorLine(result.message);
            return kExitFailed;
    }
    if (inv.save) {
        return performAll(session, out, {makeCall("storeSettings", {})});
    }
    return kExitOk;
}

int runCommand(Session& session, Output& out, const Invocation& inv, const SettingsImage& image) {
    const std::string& c = inv.command;
    if (c == "info") {
        return kExitOk;  // the settings report of the connection is the answer
    }
    if (c == "do") {
        return performAll(session, out, inv.operations);
    }
    if (c == "move") {
        return runMove(session, out, inv);
    }
    if (c == "stop") {
        return performAll(session, out, {makeCall("stopMove", {direction::kBoth})});
    }
    if (c == "track") {
        return performAll(session, out, {makeCall("setTracking", {inv.trackOn ? 1u : 0u})});
    }
    if (c == "voltage") {
        return performAll(session, out, {makeCall("measureVoltage", {})});
    }
    if (c == "save") {
        return performAll(session, out, {makeCall("storeSettings", {})});
    }
    if (c == "reload-defaults") {
        return performAll(session, out, {makeCall("reloadDefaults", {})});
    }
    if (c == "park") {
        return performAll(session, out, {makeCall("defineParkPosition", {})});
    }
    if (c == "sync") {
        return runSync(session, out, inv);
    }
    if (c == "set") {
        return runSet(session, out, inv);
    }
    if (c == "backup") {
        return runBackup(session, out, inv);
    }
    if (c == "diff") {
        return runDiff(session, out, image);
    }
    if (c == "restore") {
        return runRestore(session, out, inv, image);
    }
    errorLine("unknown command " + c);
    return kExitUsage;
}

// Removes the Ctrl-C handler before the session's wake pipe goes away.
struct InterruptGuard {
    explicit InterruptGuard(const WakePipe& wake) { installInterruptHandler(wake); }
    ~InterruptGuard() { removeInterruptHandler(); }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// What was printed is the result: a report that could not be written counts as a failure.
int finishOutput(const Output& out, int result) {
    if (out.writeError() == 0) {
        return result;
    }
    errorLine(std::string("cannot write to standard output: ") + std::strerror(out.writeError()));
    return result == kExitOk ? kExitFailed : result;
}

}  // namespace

void Output::emit(const std::string& line) {
    errno = 0;
    const bool written = writeText(out_, line + "\n") && std::fflush(out_) == 0;
    if (!written && writeError_ == 0) {
        writeError_ = errno != 0 ? errno : EIO;
    }
}

void Output::text(const std::string& line) {
    if (!json_) {
        emit(line);
    }
}

void Output::json(const Json& object) {
    if (json_) {
        emit(object.dump());
    }
}

void Output::report(const Report& r) {
    switch (r.type) {
        case Report::Type::Status:
            if (json_) {
                emit(statusReportJson(r.code).dump());
            } else {
                emit(statusTextOf(r.code));
            }
            return;
        case Report::Type::Settings:
            if (json_) {
                emit(settingsReportJson(r.settings, r.kind).dump());
                return;
            }
            switch (r.kind) {
                case report::kTooOld:
                    emit(statusTextOf(status::kTooOld));
                    emit(identityLine(r.settings));
                    return;
                case report::kGearRatios:
                    emit("Gear ratios: RA " + std::to_string(r.settings.gearRatio[kRa]) + ", DE " +
                         std::to_string(r.settings.gearRatio[kDe]));
                    return;
                case report::kDefaultsReloaded:
                    emit(statusTextOf(status::kDefaultsReloaded));
                    break;
                default:
                    emit(statusTextOf(status::kConnectionEstablished));
                    break;
            }
            if (fullListing_) {
                std::string listing = settingsListing(r.settings);
                if (!listing.empty() && listing.back() == '\n') {
                    listing.pop_back();
                }
                emit(listing);
            } else {
                emit(identityLine(r.settings));
            }
            return;
        case Report::Type::Voltage:
            if (json_) {
                emit(voltageReportJson(r.hundredths).dump());
            } else {
                emit("Supply voltage: " + voltageText(r.hundredths));
            }
            return;
        case Report::Type::LineLost:
            return;  // explained on stderr when the wait ends
    }
}

int runInvocation(const Invocation& inv) {
    Output out(inv.json);
    if (inv.command == "ports") {
        return finishOutput(out, runPorts(out));
    }
    out.setFullListing(inv.command == "info" || inv.command == "reload-defaults");

    // A file handed to diff or restore is checked before anything is opened.
    SettingsImage image;
    if (inv.command == "diff" || inv.command == "restore") {
        std::string text;
        std::string error;
        if (!readFileText(inv.file, text, error) || !parseBackupText(text, image, error)) {
            errorLine(inv.file + ": " + error +
                      (inv.command == "restore" ? "; nothing was changed" : ""));
            return kExitUsage;
        }
    }

    // So is the place a backup goes: a device or FIFO there is refused before connecting.
    if (inv.command == "backup") {
        std::string error;
        if (!checkWriteTarget(inv.file, error)) {
            errorLine(error);
            return kExitUsage;
        }
    }

    std::unique_ptr<BuiltInSimulator> simulator;
    std::string devicePath = inv.port;
    if (inv.simulate) {
        std::string error;
        simulator = startBuiltInSimulator(inv.simulateLevel, error);
        if (!simulator) {
            errorLine(error);
            return kExitFailed;
        }
        devicePath = simulator->devicePath();
    }

    SessionConfig config;
    config.devicePath = devicePath;
    config.baud = inv.baud;
    config.trace = inv.trace;
    config.timeout = milliseconds{static_cast<int64_t>(std::llround(inv.timeoutSeconds * 1000.0))};

    int result = kExitOk;
    {
        Session session(config, [&out](const Report& r) { out.report(r); });
        InterruptGuard interrupts(session.wakePipe());
        const Outcome connected = session.connect();
        if (!connected.ok()) {
            result = failure(connected, session);
        } else {
            result = runCommand(session, out, inv, image);
        }
        session.shutdown();
        session.drain();
    }
    if (simulator) {
        simulator->stop();
    }
    return finishOutput(out, result);
}

}  // namespace vornic::cli
