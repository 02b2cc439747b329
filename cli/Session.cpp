#include "cli/Session.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "app/PortList.h"
#include "text/Quote.h"

namespace vornic::cli {

namespace {

// The port number under which the device the user named is put into the port table.
constexpr uint32_t kPortNumber = 1;

// Seven handshake requests of at most 8 s each, and some room.
constexpr std::chrono::milliseconds kHandshakeSafetyNet{60000};

using Clock = std::chrono::steady_clock;

}  // namespace

bool isErrorStatus(StatusCode code) {
    return vornic::isErrorStatus(code);
}

Session::Session(SessionConfig config, Printer printer)
    : config_(std::move(config)), printer_(std::move(printer)) {
    ports_.set(kPortNumber, platform::devicePathForName(config_.devicePath));
    auto port = std::make_unique<ObservedSerialPort>(
        platform::makeSerialPort(), static_cast<LineWatcher&>(*this), config_.trace);
    control_ = std::make_unique<TelescopeControl>(reports_, std::move(port), ports_);
    heartBeat_.attachListener(control_.get());
    heartBeat_.start();
}

Session::~Session() {
    shutdown();
}

void Session::shutdown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    heartBeat_.detachListener();
    (void)heartBeat_.stop();
    control_->shutdown();
}

void Session::lineFailed() {
    reports_.lineLost();
}

Outcome Session::connect() {
    control_->connect(kPortNumber, config_.baud);
    // The handshake bounds itself: the link reports a time-out when any of its requests goes
    // unanswered for 8 s. The wait here is only a safety net, so a short --timeout meant for
    // commands does not cut a handshake that is still making progress.
    const std::chrono::milliseconds limit = std::max(config_.timeout, kHandshakeSafetyNet);
    return waitFor(Expectation{Expectation::Kind::Settings, 0, report::kConnected,
                               "the controller's settings"},
                   limit);
}

Outcome Session::reconnect() {
    control_->disconnect();
    Outcome closed = waitFor(
        Expectation{Expectation::Kind::Status, status::kConnectionClosed, 0, "the port to close"});
    if (!closed.ok()) {
        return closed;
    }
    return connect();
}

bool Session::handle(const Report& report, const Expectation& expect, Outcome& outcome) {
    if (printer_) {
        printer_(report);
    }
    using K = Expectation::Kind;
    switch (report.type) {
        case Report::Type::Status:
            if (isErrorStatus(report.code)) {
                outcome.result = Outcome::Result::ErrorStatus;
                outcome.code = report.code;
                return true;
            }
            if (expect.kind == K::Status && report.code == expect.status) {
                outcome.result = Outcome::Result::Ok;
                return true;
            }
            return false;
        case Report::Type::Settings:
            if (report.kind == report::kTooOld) {
                settings_ = report.settings;
                outcome.result = Outcome::Result::ErrorStatus;
                outcome.code = status::kTooOld;
                return true;
            }
            settings_ = report.settings;
            haveSettings_ = true;
            if (expect.kind == K::Settings && report.kind == expect.reportKind) {
                outcome.result = Outcome::Result::Ok;
                return true;
            }
            return false;
        case Report::Type::Voltage:
            if (expect.kind == K::Voltage) {
                outcome.result = Outcome::Result::Ok;
                return true;
            }
            return false;
        case Report::Type::LineLost:
            outcome.result = Outcome::Result::LineLost;
            return true;
    }
    return false;
}

Outcome Session::waitFor(const Expectation& expect, std::chrono::milliseconds timeout,
                         bool interruptible) {
    const bool settle = expect.kind == Expectation::Kind::Settle;
    const std::chrono::milliseconds limit =
        timeout.count() > 0 ? timeout : (settle ? config_.settle : config_.timeout);
    const Clock::time_point deadline = Clock::now() + limit;
    Outcome outcome;
    outcome.what = expect.what;
    for (;;) {
        Report report;
        while (reports_.pop(report)) {
            if (handle(report, expect, outcome)) {
                return outcome;
            }
        }
        if (reports_.lost() > 0) {
            outcome.result = Outcome::Result::ReportsLost;
            return outcome;
        }
        if (interruptible && interrupted()) {
            outcome.result = Outcome::Result::Interrupted;
            return outcome;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            outcome.result = settle ? Outcome::Result::Ok : Outcome::Result::Timeout;
            return outcome;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        wake_.wait(static_cast<int>(left.count()));
        wake_.drain();
    }
}

Outcome Session::waitWhile(std::chrono::milliseconds duration) {
    if (duration.count() >= 0) {
        return waitFor(Expectation{},
                       duration.count() > 0 ? duration : std::chrono::milliseconds{1});
    }
    Outcome outcome;
    for (;;) {
        Report report;
        while (reports_.pop(report)) {
            if (handle(report, Expectation{}, outcome)) {
                return outcome;
            }
        }
        if (reports_.lost() > 0) {
            outcome.result = Outcome::Result::ReportsLost;
            return outcome;
        }
        if (interrupted()) {
            outcome.result = Outcome::Result::Interrupted;
            return outcome;
        }
        wake_.wait(-1);
        wake_.drain();
    }
}

void Session::drain() {
    Report report;
    Outcome ignored;
    while (reports_.pop(report)) {
        handle(report, Expectation{}, ignored);
    }
}

std::string Session::openErrorDescription() const {
    return describeOpenError(shown(config_.devicePath, 300), control_->lastOpenError());
}

}  // namespace vornic::cli
