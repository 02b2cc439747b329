// The command line's Windows pieces: the wake-up event, Ctrl-C, whole-file reading and writing,
// and the clock. The built-in simulator needs a pseudo-terminal, which Windows has not.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <ctime>

#include "cli/Backup.h"
#include "cli/Reports.h"
#include "cli/Session.h"
#include "cli/System.h"
#include "sim/FileText.h"

namespace vornic::cli {

namespace {

// Windows ends the process this long after the console window is closed; the stop of a running
// move must get out before.
constexpr DWORD kCloseGraceMs = 2000;

std::atomic<bool> gInterrupted{false};
std::atomic<HANDLE> gWakeEvent{nullptr};

BOOL WINAPI onConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    gInterrupted.store(true);
    if (const HANDLE event = gWakeEvent.load()) {
        SetEvent(event);
    }
    if (type == CTRL_CLOSE_EVENT) {
        Sleep(kCloseGraceMs);
    }
    return TRUE;
}

HANDLE asHandle(intptr_t value) {
    return value == -1 ? nullptr : reinterpret_cast<HANDLE>(value);
}

std::string systemText(DWORD error) {
    char text[160] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == '.' || text[length - 1] == ' ')) {
        --length;
    }
    return length > 0 ? std::string(text, length) : "system error " + std::to_string(error);
}

}  // namespace

WakePipe::WakePipe() {
    // Auto-reset: one wait consumes every wake-up that came before it.
    if (const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
        ends_[0] = ends_[1] = reinterpret_cast<intptr_t>(event);
    }
}

WakePipe::~WakePipe() {
    if (const HANDLE event = asHandle(ends_[0])) {
        CloseHandle(event);
    }
}

void WakePipe::wake() const {
    if (const HANDLE event = asHandle(ends_[1])) {
        SetEvent(event);
    }
}

void WakePipe::drain() const {
    // The wait that returned has reset the event already.
}

void WakePipe::wait(int timeoutMs) const {
    const HANDLE event = asHandle(ends_[0]);
    const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (event == nullptr) {
        Sleep(limit == INFINITE ? 100 : limit);
        return;
    }
    WaitForSingleObject(event, limit);
}

void installInterruptHandler(const WakePipe& wake) {
    gWakeEvent.store(asHandle(wake.writeEnd()));
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

void removeInterruptHandler() {
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    gWakeEvent.store(nullptr);
}

bool interrupted() {
    return gInterrupted.load();
}

void clearInterrupted() {
    gInterrupted.store(false);
}

bool readFileText(const std::string& path, std::string& text, std::string& error) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot open " + sim::shown(path, 200) + ": " + systemText(GetLastError());
        return false;
    }
    // Only a file on a disk: a pipe or a device handed to us could keep us waiting for ever.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        error = sim::shown(path, 200) + " is not a regular file";
        return false;
    }
    text.clear();
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
            error = "cannot read " + sim::shown(path, 200) + ": " + systemText(GetLastError());
            CloseHandle(file);
            return false;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, n);
        if (text.size() > kMaxBackupFileBytes) {
            CloseHandle(file);
            error = sim::shown(path, 200) + " is too large to be a backup";
            return false;
        }
    }
    CloseHandle(file);
    return true;
}

bool checkWriteTarget(const std::string& path, std::string& error) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = "cannot write " + sim::shown(path, 200) + ": it is a folder, not a regular file";
        return false;
    }
    return true;
}

bool writeFileText(const std::string& path, const std::string& text, std::string& error) {
    if (!checkWriteTarget(path, error)) {
        return false;
    }
    // Made exclusively, so a file or link already there under this name is never written through.
    const std::string temporary = path + ".tmp" + std::to_string(GetCurrentProcessId());
    const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot write " + sim::shown(path, 200) + ": " + systemText(GetLastError());
        return false;
    }
    size_t written = 0;
    bool ok = true;
    while (ok && written < text.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - written, 1u << 20));
        DWORD n = 0;
        ok = WriteFile(file, text.data() + written, chunk, &n, nullptr) && n > 0;
        written += n;
    }
    ok = ok && FlushFileBuffers(file);
    const DWORD failure = ok ? ERROR_SUCCESS : GetLastError();
    if (!CloseHandle(file) || !ok) {
        error = "cannot write " + sim::shown(path, 200) + ": " +
                systemText(ok ? GetLastError() : failure);
        DeleteFileA(temporary.c_str());
        return false;
    }
    if (!MoveFileExA(temporary.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = "cannot write " + sim::shown(path, 200) + ": " + systemText(GetLastError());
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

void prepareProcess() {
    // Lines end in "\n" as on every other system, so that scripts and the JSON output see the
    // same bytes everywhere.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

void utcTime(std::time_t time, std::tm& out) {
    gmtime_s(&out, &time);
}

std::unique_ptr<BuiltInSimulator> startBuiltInSimulator(uint32_t /*level*/, std::string& error) {
    error =
        "--simulate is not available on Windows: the built-in simulator needs a pseudo-terminal. "
        "Give the controller's port with --port COMn";
    return nullptr;
}

}  // namespace vornic::cli
