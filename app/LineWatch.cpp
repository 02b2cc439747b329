#include "app/LineWatch.h"

namespace vornic {

platform::OpenResult WatchedSerialPort::open(const char* path, uint32_t baud) {
    reported_ = false;
    return inner_->open(path, baud);
}

platform::ReadResult WatchedSerialPort::read(uint8_t* buffer, size_t max) {
    const platform::ReadResult result = inner_->read(buffer, max);
    if (result.status == platform::ReadStatus::Failed && !reported_) {
        reported_ = true;
        if (lost_) {
            lost_();
        }
    }
    return result;
}

}  // namespace vornic
