// The serial port on Windows: a COM port opened for overlapped I/O, without sharing.
//
// Opening reads the driver's state and sets the rate, the frame (8 data bits, no parity, one stop
// bit) and binary transfer without any flow control, whatever an earlier program left. The
// time-outs (read interval 1 ms, everything else 0) make a read wait without limit for its first
// byte and end once the line has been quiet for more than 1 ms after one, or when the buffer is
// full.
//
// Every read and write either completes or is cancelled and waited for before the call returns, so
// no OVERLAPPED or buffer outlives its call: this matters because PurgeComm does not end a pending
// read everywhere (Wine leaves it pending), so the pending read is cancelled explicitly.
//
// Closing first lets what was written drain, for a bounded time, so that a stop sent just before
// a disconnect still leaves the machine; then it discards what came in. Output is discarded only
// when it is still queued after that time (a line held by flow control), so that closing stays
// bounded: a driver that cannot tell what is queued reports an empty queue while the bytes are
// still on their way (a pseudo-terminal's queue, an adapter's FIFO), and discarding output then
// would drop the frame that was just written. For the same reason opening discards only input.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/PortTable.h"
#include "platform/SerialPort.h"
#include "platform/SystemText.h"

namespace vornic::platform {
namespace {

constexpr DWORD kReadWaitMs = 200;
constexpr DWORD kQueueSize = 8096;
// Longest wait for written bytes to leave the driver's queue when the port closes. A frame of
// ours is at most a few dozen bytes, some 30 ms at 9600 baud.
constexpr ULONGLONG kDrainLimitMs = 500;
constexpr DWORD kDrainPollMs = 5;
constexpr DWORD kMaxTransfer = 0x10000;

bool supportedRate(uint32_t rate) {
    static constexpr uint32_t kRates[] = {1200,  2400,   4800,   9600,   19200, 38400,
                                          57600, 115200, 230400, 460800, 921600};
    return std::find(std::begin(kRates), std::end(kRates), rate) != std::end(kRates);
}

// "path: system text (error N)".
void describe(OpenResult& result, const char* path, DWORD error) {
    std::snprintf(result.detail, sizeof result.detail, "%s: %s (error %lu)", path,
                  systemErrorText(static_cast<int>(error)).c_str(),
                  static_cast<unsigned long>(error));
}

OpenResult failure(OpenError kind, DWORD error, const char* path) {
    OpenResult result;
    result.error = kind;
    result.systemError = static_cast<int>(error);
    describe(result, path, error);
    return result;
}

OpenResult openFailure(DWORD error, const char* path) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST:
            return failure(OpenError::NoSuchDevice, error, path);
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            // A COM port is opened without sharing: "access denied" means somebody has it.
            return failure(OpenError::Busy, error, path);
        default:
            return failure(OpenError::Other, error, path);
    }
}

// Binary frames at `rate`, 8N1, and nothing left of what an earlier program set: XON/XOFF would
// eat the bytes 0x11 and 0x13 of a frame, hardware flow control would hold our output for a
// signal the controller never gives, and abort-on-error would fail every later transfer after
// one line error. DTR and RTS are raised, as a plain serial adapter expects.
void applyLineSettings(DCB& state, uint32_t rate) {
    state.BaudRate = rate;
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    state.fBinary = TRUE;
    state.fParity = FALSE;
    state.fOutX = FALSE;
    state.fInX = FALSE;
    state.fTXContinueOnXoff = TRUE;
    state.fOutxCtsFlow = FALSE;
    state.fOutxDsrFlow = FALSE;
    state.fDsrSensitivity = FALSE;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    state.fErrorChar = FALSE;
    state.fNull = FALSE;
    state.fAbortOnError = FALSE;
}

// After a failed transfer: a line error latched by the driver is read and cleared, so that the
// next transfer is not refused for it.
void clearLineError(HANDLE port) {
    DWORD errors = 0;
    ClearCommError(port, &errors, nullptr);
}

// A mutex named after the device ("\\.\COM5" and "COM5" name the same one); null when it exists
// already, that is when another of our programs, or another port object here, has the port: then
// false. Without a mutex (out of handles) `mutex` is null and the driver alone guards the port.
bool claimPort(const char* devicePath, HANDLE& mutex) {
    const char* name = devicePath;
    if (std::strncmp(name, "\\\\.\\", 4) == 0) {
        name += 4;
    }
    char mutexName[200];
    int length = std::snprintf(mutexName, sizeof mutexName, "Local\\vornic_port_");
    for (const char* c = name; *c != '\0' && length < static_cast<int>(sizeof mutexName) - 1; ++c) {
        // Kernel object names may not hold a backslash; case does not matter for devices.
        const char upper = (*c >= 'a' && *c <= 'z') ? static_cast<char>(*c - 'a' + 'A') : *c;
        mutexName[length++] = upper == '\\' ? '/' : upper;
    }
    mutexName[length] = '\0';
    mutex = CreateMutexA(nullptr, FALSE, mutexName);
    if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        mutex = nullptr;
        return false;
    }
    return true;
}

void release(HANDLE mutex) {
    if (mutex != nullptr) {
        CloseHandle(mutex);
    }
}

class Win32SerialPort final : public SerialPort {
  public:
    Win32SerialPort()
        : stopEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          writeEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          readEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

    ~Win32SerialPort() override {
        close();
        for (HANDLE event : {stopEvent_, writeEvent_, readEvent_}) {
            if (event != nullptr) {
                CloseHandle(event);
            }
        }
    }

    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;

    OpenResult open(const char* givenPath, uint32_t baudRate) override {
        // "COM12" as the port list names it opens only as "\\.\COM12".
        const std::string device = devicePathForName(givenPath != nullptr ? givenPath : "");
        const char* devicePath = device.c_str();
        if (isOpen()) {
            OpenResult result = failure(OpenError::Other, ERROR_BUSY, "");
            std::snprintf(result.detail, sizeof result.detail, "a port is already open");
            return result;
        }
        if (devicePath[0] == '\0') {
            OpenResult result = failure(OpenError::NoSuchDevice, ERROR_FILE_NOT_FOUND, "");
            std::snprintf(result.detail, sizeof result.detail, "no device path given");
            return result;
        }
        if (!supportedRate(baudRate)) {
            OpenResult result = failure(OpenError::BadBaudRate, ERROR_INVALID_PARAMETER, "");
            std::snprintf(result.detail, sizeof result.detail, "%s: %u baud is not supported",
                          devicePath, static_cast<unsigned>(baudRate));
            return result;
        }
        if (stopEvent_ == nullptr || writeEvent_ == nullptr || readEvent_ == nullptr) {
            return failure(OpenError::Other, ERROR_NOT_ENOUGH_MEMORY, devicePath);
        }

        // Every program of ours holds a named mutex for its port: some drivers (Wine's among
        // them) let a second open of a COM port through despite the missing share flags.
        HANDLE claim = nullptr;
        if (!claimPort(devicePath, claim)) {
            return failure(OpenError::Busy, ERROR_ACCESS_DENIED, devicePath);
        }
        const HANDLE port =
            CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
        if (port == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            release(claim);
            return openFailure(error, devicePath);
        }
        DCB state{};
        state.DCBlength = sizeof state;
        if (!GetCommState(port, &state)) {
            // Opened, but no serial device: a file or some other device the user named.
            const DWORD error = GetLastError();
            CloseHandle(port);
            release(claim);
            OpenResult result = failure(OpenError::NotATerminal, error, devicePath);
            std::snprintf(result.detail, sizeof result.detail, "%s is not a serial port",
                          devicePath);
            return result;
        }
        applyLineSettings(state, baudRate);
        // The port is used with whatever settings it then has; a failure here shows up as
        // silence, which the handshake's time-outs report. (Wine on a pseudo-terminal refuses
        // the modem lines while taking everything else.)
        SetCommState(port, &state);
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = 1;
        SetCommTimeouts(port, &timeouts);
        SetupComm(port, kQueueSize, kQueueSize);
        // What came in before belongs to an earlier session; what an earlier session wrote is
        // left to go out.
        PurgeComm(port, PURGE_RXCLEAR);
        claim_ = claim;
        port_.store(port);
        return {};
    }

    bool isOpen() const override { return port_.load() != INVALID_HANDLE_VALUE; }

    bool write(const uint8_t* bytes, size_t count, unsigned timeoutMs) override {
        const HANDLE port = port_.load();
        if (port == INVALID_HANDLE_VALUE || (bytes == nullptr && count > 0)) {
            return false;
        }
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        size_t done = 0;
        while (done < count) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = writeEvent_;
            ResetEvent(writeEvent_);
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - done, kMaxTransfer));
            DWORD put = 0;
            if (!WriteFile(port, bytes + done, chunk, &put, &overlapped)) {
                if (GetLastError() != ERROR_IO_PENDING) {
                    clearLineError(port);
                    return false;
                }
                const ULONGLONG now = GetTickCount64();
                const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
                if (WaitForSingleObject(writeEvent_, left) != WAIT_OBJECT_0) {
                    // Too slow: the write ends here, and only once it has really ended may its
                    // OVERLAPPED and our caller's buffer go away.
                    CancelIoEx(port, &overlapped);
                    GetOverlappedResult(port, &overlapped, &put, TRUE);
                    return false;
                }
                if (!GetOverlappedResult(port, &overlapped, &put, FALSE)) {
                    clearLineError(port);
                    return false;
                }
            }
            if (put == 0) {
                return false;
            }
            done += put;
        }
        return true;
    }

    ReadResult read(uint8_t* buffer, size_t max) override {
        const HANDLE port = port_.load();
        if (port == INVALID_HANDLE_VALUE || buffer == nullptr || max == 0) {
            return {stopIsSet() ? ReadStatus::Stopped : ReadStatus::Failed, 0};
        }
        const DWORD want = static_cast<DWORD>(std::min<size_t>(max, kMaxTransfer));
        const HANDLE waitList[] = {readEvent_, stopEvent_};
        for (;;) {
            if (stopIsSet()) {
                return {ReadStatus::Stopped, 0};
            }
            OVERLAPPED overlapped{};
            overlapped.hEvent = readEvent_;
            ResetEvent(readEvent_);
            DWORD got = 0;
            if (!ReadFile(port, buffer, want, &got, &overlapped)) {
                if (GetLastError() != ERROR_IO_PENDING) {
                    clearLineError(port);
                    return {ReadStatus::Failed, 0};
                }
                DWORD which = WAIT_TIMEOUT;
                while ((which = WaitForMultipleObjects(2, waitList, FALSE, kReadWaitMs)) ==
                       WAIT_TIMEOUT) {
                }
                if (which != WAIT_OBJECT_0) {
                    // The stop (or a failed wait): end the read before its buffer goes away.
                    CancelIoEx(port, &overlapped);
                    GetOverlappedResult(port, &overlapped, &got, TRUE);
                    return {which == WAIT_OBJECT_0 + 1 ? ReadStatus::Stopped : ReadStatus::Failed,
                            0};
                }
                if (!GetOverlappedResult(port, &overlapped, &got, FALSE)) {
                    clearLineError(port);
                    return {ReadStatus::Failed, 0};  // e.g. the adapter was pulled out
                }
            }
            if (got > 0) {
                return {ReadStatus::Data, std::min<size_t>(got, max)};
            }
            // A read that brought nothing is followed by the next one; a short wait on the stop
            // keeps a driver that keeps doing this from making us spin.
            WaitForSingleObject(stopEvent_, 1);
        }
    }

    void waitForStop() override {
        if (stopEvent_ != nullptr) {
            WaitForSingleObject(stopEvent_, INFINITE);
        }
    }

    void signalStop() override { SetEvent(stopEvent_); }
    void resetStop() override { ResetEvent(stopEvent_); }

    void close() override {
        const HANDLE port = port_.exchange(INVALID_HANDLE_VALUE);
        if (port == INVALID_HANDLE_VALUE) {
            return;
        }
        const bool drained = drainOutput(port);
        // A reader that did not end in time may still have a read pending.
        CancelIoEx(port, nullptr);
        PurgeComm(port, drained ? PURGE_RXABORT | PURGE_RXCLEAR
                                : PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        CloseHandle(port);
        release(claim_);
        claim_ = nullptr;
    }

  private:
    bool stopIsSet() const {
        return stopEvent_ != nullptr && WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0;
    }

    // Waits, bounded, until the driver's output queue is empty; false when bytes are still
    // queued at the end of the wait. A driver that cannot tell ends the wait at once, as drained.
    [[nodiscard]] static bool drainOutput(HANDLE port) {
        const ULONGLONG deadline = GetTickCount64() + kDrainLimitMs;
        for (;;) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!ClearCommError(port, &errors, &status) || status.cbOutQue == 0) {
                return true;
            }
            if (GetTickCount64() >= deadline) {
                return false;
            }
            Sleep(kDrainPollMs);
        }
    }

    const HANDLE stopEvent_;
    const HANDLE writeEvent_;
    const HANDLE readEvent_;
    std::atomic<HANDLE> port_{INVALID_HANDLE_VALUE};
    HANDLE claim_ = nullptr;  // the port's named mutex while it is open
};

}  // namespace

std::unique_ptr<SerialPort> makeSerialPort() {
    return std::make_unique<Win32SerialPort>();
}

}  // namespace vornic::platform
