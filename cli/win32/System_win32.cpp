// The command line's Windows pieces: the wake-up event, Ctrl-C and the clock. The built-in
// simulator needs a pseudo-terminal, which Windows has not.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

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

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr || count != argc) {
        // Not the command line the C runtime split: keep what it gave.
        if (wide != nullptr) {
            LocalFree(wide);
        }
        return {argv, argv + argc};
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        // An unpaired surrogate becomes U+FFFD: such a name then fails with a clear error
        // instead of naming some other file.
        const int bytes =
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
        if (bytes > 0) {
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, argument.data(), bytes, nullptr, nullptr);
        }
        argument.resize(argument.size() - 1);  // the terminator
        arguments.push_back(std::move(argument));
    }
    LocalFree(wide);
    return arguments;
}

bool writeText(std::FILE* stream, const std::string& text) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    }
    // A console shows UTF-16; its code page would turn every byte of a non-ASCII letter into a
    // character of its own. What the stream holds goes first, to keep the order.
    std::fflush(stream);
    if (text.empty()) {
        return true;
    }
    if (text.size() > INT_MAX) {
        return false;
    }
    const int length = static_cast<int>(text.size());
    const int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (count <= 0) {
        return false;
    }
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), count);
    constexpr size_t kChunk = 8192;
    for (size_t done = 0; done < wide.size();) {
        DWORD put = 0;
        const auto chunk = static_cast<DWORD>(std::min(wide.size() - done, kChunk));
        if (!WriteConsoleW(handle, wide.data() + done, chunk, &put, nullptr) || put == 0) {
            return false;
        }
        done += put;
    }
    return true;
}

std::unique_ptr<BuiltInSimulator> startBuiltInSimulator(uint32_t /*level*/, std::string& error) {
    error =
        "--simulate is not available on Windows: the built-in simulator needs a pseudo-terminal. "
        "Give the controller's port with --port COMn";
    return nullptr;
}

}  // namespace vornic::cli
