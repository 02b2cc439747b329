// The command line's Windows pieces: the wake-up event, Ctrl-C and the clock. The built-in
// simulator needs a pseudo-terminal, which Windows has not.

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

void prepareProcess() {
    // Lines end in "\n" as on every other system, so that scripts and the JSON output see the
    // same bytes everywhere.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

std::unique_ptr<BuiltInSimulator> startBuiltInSimulator(uint32_t /*level*/, std::string& error) {
    error =
        "--simulate is not available on Windows: the built-in simulator needs a pseudo-terminal. "
        "Give the controller's port with --port COMn";
    return nullptr;
}

}  // namespace vornic::cli
