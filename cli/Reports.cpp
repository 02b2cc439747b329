#include "cli/Reports.h"

namespace vornic::cli {

void ReportQueue::push(const Report& report) {
    {
        std::lock_guard lock(mutex_);
        if (!ring_.push(report)) {
            lost_.fetch_add(1);
            return;
        }
    }
    wake_.wake();
}

void ReportQueue::onStatus(StatusCode code) {
    Report r;
    r.type = Report::Type::Status;
    r.code = code;
    push(r);
}

void ReportQueue::onSettings(const MountSettings& settings, ReportKind kind) {
    Report r;
    r.type = Report::Type::Settings;
    r.kind = kind;
    r.settings = settings;
    push(r);
}

void ReportQueue::onVoltage(uint32_t hundredthsOfVolt) {
    Report r;
    r.type = Report::Type::Voltage;
    r.hundredths = hundredthsOfVolt;
    push(r);
}

void ReportQueue::lineLost() {
    Report r;
    r.type = Report::Type::LineLost;
    push(r);
}

bool ReportQueue::pop(Report& out) {
    std::lock_guard lock(mutex_);
    return ring_.pop(out);
}

}  // namespace vornic::cli
