#include "cli/Reports.h"

namespace vornic::cli {

template <typename Fill>
void ReportQueue::push(Fill&& fill) {
    {
        std::lock_guard lock(mutex_);
        if (count_ == kCapacity) {
            lost_.fetch_add(1);
            return;
        }
        fill(ring_[(head_ + count_) % kCapacity]);
        ++count_;
    }
    wake_.wake();
}

void ReportQueue::onStatus(StatusCode code) {
    push([code](Report& r) {
        r.type = Report::Type::Status;
        r.code = code;
    });
}

void ReportQueue::onSettings(const MountSettings& settings, ReportKind kind) {
    push([&settings, kind](Report& r) {
        r.type = Report::Type::Settings;
        r.kind = kind;
        r.settings = settings;
    });
}

void ReportQueue::onVoltage(uint32_t hundredthsOfVolt) {
    push([hundredthsOfVolt](Report& r) {
        r.type = Report::Type::Voltage;
        r.hundredths = hundredthsOfVolt;
    });
}

void ReportQueue::lineLost() {
    push([](Report& r) { r.type = Report::Type::LineLost; });
}

bool ReportQueue::pop(Report& out) {
    std::lock_guard lock(mutex_);
    if (count_ == 0) {
        return false;
    }
    out = ring_[head_];
    head_ = (head_ + 1) % kCapacity;
    --count_;
    return true;
}

}  // namespace vornic::cli
