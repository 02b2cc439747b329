#pragma once
// A serial port as TelescopeControl uses it: opened by the worker thread, written by the worker
// thread, read by the serial reader thread, stopped and closed by the worker (or at shutdown).
//
// read() waits for the line and for the stop signal at once. It returns after the first byte plus a
// quiet gap of about 1 ms, or when `max` bytes are in. After the line has failed (an adapter
// pulled out) read() reports Failed once; the reader then calls waitForStop(), which blocks
// without spinning until signalStop().

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vornic::platform {

enum class OpenError {
    None,
    NoSuchDevice,      // the path does not exist
    PermissionDenied,  // not allowed to open it (on Linux: not in the dialout group)
    Busy,              // another program holds it
    NotATerminal,      // exists but is not a serial device
    BadBaudRate,
    Other,
};

struct OpenResult {
    OpenError error = OpenError::None;
    int systemError = 0;    // errno / GetLastError value, for the command line and traces
    char detail[200] = {};  // human-readable detail (may name the program holding the port)
    [[nodiscard]] bool ok() const { return error == OpenError::None; }
};

enum class ReadStatus { Data, Stopped, Failed };

struct ReadResult {
    ReadStatus status = ReadStatus::Stopped;
    size_t count = 0;
};

class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // 8 data bits, no parity, one stop bit, raw, exclusive. Fails if already open.
    [[nodiscard]] virtual OpenResult open(const char* devicePath, uint32_t baudRate) = 0;
    [[nodiscard]] virtual bool isOpen() const = 0;

    // Writes all bytes; gives up after timeoutMs. Returns true when everything was written.
    virtual bool write(const uint8_t* bytes, size_t count, unsigned timeoutMs) = 0;

    // Reader thread only; see above.
    [[nodiscard]] virtual ReadResult read(uint8_t* buffer, size_t max) = 0;
    virtual void waitForStop() = 0;

    // Any thread: makes a waiting read()/waitForStop() return Stopped. Stays set until resetStop().
    virtual void signalStop() = 0;
    virtual void resetStop() = 0;

    // Lets bytes already written leave first (the last one is often a stop), waiting no longer
    // than they need on the line at the port's rate and at most 250 ms; then discards received
    // bytes, and output that a stalled line still holds, and closes. The reader must have ended.
    virtual void close() = 0;
};

std::unique_ptr<SerialPort> makeSerialPort();

// Words for an OpenError, for messages to people.
const char* openErrorText(OpenError error);

}  // namespace vornic::platform
