// The command pipe on Windows: a named pipe private to the process.
//
// The server end is the read end, opened for overlapped reads so that the worker can wait for data
// and for its stop event at once; the client end, opened by this process itself, is written
// synchronously. Opening the client end connects the pipe's single instance.
//
// Writers take the pipe's own write lock (a critical section) around each message, so a message
// stays whole even without TelescopeControl's pipe-write lock. The pipe keeps its own count of the
// bytes written and not yet read: a writer reserves room for its whole message before its bytes go
// in, and waits (on the room event) while there is not enough. So a write never blocks inside
// WriteFile, a message never goes in partly, a waiting writer can give up (abandon, close) without
// leaving half a message behind, and close() never has to pull the pipe out from under a write.
// A message larger than the whole pipe goes in piece by piece as the reader drains, still whole
// because the writer keeps the lock.
//
// Every read either completes or is cancelled and waited for before read() returns, so the read's
// OVERLAPPED and buffer never outlive the call.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/CommandPipe.h"

namespace vornic::platform {
namespace {

// How long one wait lasts before the loop looks again; the events normally end it earlier.
constexpr DWORD kPipeReadWaitMs = 300;
constexpr DWORD kRoomWaitMs = 20;
// Another pipe of this process may still hold the name (tests make many): try numbered names.
constexpr int kNameAttempts = 64;

class NamedCommandPipe final : public CommandPipe {
  public:
    NamedCommandPipe(const char* name, size_t capacity) : capacity_(std::max<size_t>(capacity, 1)) {
        InitializeCriticalSection(&writeLock_);
        InitializeCriticalSection(&countLock_);
        stopEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        closedEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        readEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        roomEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        open(name != nullptr ? name : "");
    }

    ~NamedCommandPipe() override {
        close();
        for (HANDLE handle : {writeEnd_, readEnd_}) {
            if (handle != INVALID_HANDLE_VALUE) {
                CloseHandle(handle);
            }
        }
        for (HANDLE handle : {stopEvent_, closedEvent_, readEvent_, roomEvent_}) {
            if (handle != nullptr) {
                CloseHandle(handle);
            }
        }
        DeleteCriticalSection(&countLock_);
        DeleteCriticalSection(&writeLock_);
    }

    NamedCommandPipe(const NamedCommandPipe&) = delete;
    NamedCommandPipe& operator=(const NamedCommandPipe&) = delete;

    bool write(const uint8_t* bytes, size_t count) override {
        return writeUnless(bytes, count, nullptr);
    }

    bool write(const uint8_t* bytes, size_t count, const std::atomic<bool>& abandon) override {
        return writeUnless(bytes, count, &abandon);
    }

    void wakeWriters() override { SetEvent(roomEvent_); }

    size_t read(uint8_t* buffer, size_t max) override {
        if (buffer == nullptr || max == 0) {
            return 0;
        }
        const DWORD want = static_cast<DWORD>(std::min<size_t>(max, 0x10000));
        for (;;) {
            if (closed_.load() && queued() == 0) {
                return 0;  // a closed, empty pipe can never get data again
            }
            if (readEnd_ == INVALID_HANDLE_VALUE) {
                // The pipe could not be made: nothing ever comes, but the stop still ends the wait.
                waitForStopOrClose();
                return 0;
            }
            OVERLAPPED overlapped{};
            overlapped.hEvent = readEvent_;
            ResetEvent(readEvent_);
            DWORD got = 0;
            if (ReadFile(readEnd_, buffer, want, &got, &overlapped)) {
                if (got > 0) {
                    return taken(got);
                }
                continue;
            }
            if (GetLastError() != ERROR_IO_PENDING) {
                waitForStopOrClose();
                return 0;
            }
            bool stopped = false;
            got = waitForRead(overlapped, stopped);
            if (got > 0) {
                return taken(got);
            }
            if (stopped) {
                return 0;
            }
        }
    }

    void signalStop() override { SetEvent(stopEvent_); }

    void close() override {
        closed_.store(true);
        SetEvent(closedEvent_);
        SetEvent(roomEvent_);
    }

  private:
    void open(const char* name) {
        // Tests pass plain words; a pipe's name must live under \\.\Pipe\.
        char base[260];
        if (std::strncmp(name, "\\\\.\\", 4) == 0) {
            std::snprintf(base, sizeof base, "%s", name);
        } else {
            std::snprintf(base, sizeof base, "\\\\.\\Pipe\\vornic_%s_%lx", name,
                          static_cast<unsigned long>(GetCurrentProcessId()));
        }
        char tried[280];
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            if (attempt == 0) {
                std::snprintf(tried, sizeof tried, "%s", base);
            } else {
                std::snprintf(tried, sizeof tried, "%s_%d", base, attempt);
            }
            // The first instance only: a pipe of that name made by anybody else is not ours.
            const DWORD size = static_cast<DWORD>(std::min<size_t>(capacity_, 0x100000));
            HANDLE server = CreateNamedPipeA(
                tried, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                size, size, 120000, nullptr);
            if (server == INVALID_HANDLE_VALUE) {
                continue;
            }
            HANDLE client = CreateFileA(tried, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
            if (client == INVALID_HANDLE_VALUE) {
                CloseHandle(server);  // somebody else got in first; try another name
                continue;
            }
            readEnd_ = server;
            writeEnd_ = client;
            return;
        }
    }

    // `abandon` is looked at only before the first byte goes in, so an abandoned message leaves
    // nothing behind.
    bool writeUnless(const uint8_t* bytes, size_t count, const std::atomic<bool>* abandon) {
        if ((bytes == nullptr && count > 0) || closed_.load()) {
            return false;
        }
        EnterCriticalSection(&writeLock_);
        bool written = writeEnd_ != INVALID_HANDLE_VALUE;
        size_t done = 0;
        while (written && done < count) {
            const size_t left = count - done;
            const size_t need = std::min(left, capacity_);
            size_t room = 0;
            for (;;) {
                if (closed_.load()) {
                    break;
                }
                // With room the flag does not stop a write: it only ends a wait.
                room = capacity_ - queued();
                if (room >= need || (done == 0 && abandon != nullptr && abandon->load())) {
                    break;
                }
                WaitForSingleObject(roomEvent_, kRoomWaitMs);
            }
            if (closed_.load() || room < need) {
                written = false;
                break;
            }
            const DWORD chunk = static_cast<DWORD>(std::min(left, room));
            addQueued(chunk);  // before the bytes go in, so the reader never counts below zero
            DWORD put = 0;
            if (!WriteFile(writeEnd_, bytes + done, chunk, &put, nullptr) || put != chunk) {
                subtractQueued(chunk - put);
                written = false;
                break;
            }
            done += chunk;
        }
        LeaveCriticalSection(&writeLock_);
        // Another waiting writer may have its turn now.
        SetEvent(roomEvent_);
        return written;
    }

    // Waits for the pending read. Returns the bytes it brought (0 when it brought none); sets
    // `stopped` when the stop or the close ended the wait, after the read has been cancelled.
    DWORD waitForRead(OVERLAPPED& overlapped, bool& stopped) {
        const HANDLE waitList[] = {stopEvent_, closedEvent_, readEvent_};
        DWORD got = 0;
        for (;;) {
            const DWORD which = WaitForMultipleObjects(3, waitList, FALSE, kPipeReadWaitMs);
            if (which == WAIT_OBJECT_0 + 2) {
                if (!GetOverlappedResult(readEnd_, &overlapped, &got, FALSE)) {
                    got = 0;
                    waitForStopOrClose();
                    stopped = true;
                    return 0;
                }
                break;
            }
            if (which == WAIT_OBJECT_0 || which == WAIT_OBJECT_0 + 1) {
                // Bytes that reached the read before the cancel are still handed out.
                CancelIoEx(readEnd_, &overlapped);
                if (!GetOverlappedResult(readEnd_, &overlapped, &got, TRUE)) {
                    got = 0;
                }
                // Bytes still queued come out before the stop or the close is seen.
                stopped = queued() == got;
                break;
            }
            if (which == WAIT_FAILED) {
                Sleep(kRoomWaitMs);  // never spin, whatever went wrong with the handles
            }
        }
        return got;
    }

    void waitForStopOrClose() {
        const HANDLE waitList[] = {stopEvent_, closedEvent_};
        while (WaitForMultipleObjects(2, waitList, FALSE, INFINITE) == WAIT_FAILED) {
            Sleep(kRoomWaitMs);
        }
    }

    size_t taken(DWORD got) {
        subtractQueued(got);
        SetEvent(roomEvent_);
        return got;
    }

    size_t queued() {
        EnterCriticalSection(&countLock_);
        const size_t value = queued_;
        LeaveCriticalSection(&countLock_);
        return value;
    }
    void addQueued(size_t n) {
        EnterCriticalSection(&countLock_);
        queued_ += n;
        LeaveCriticalSection(&countLock_);
    }
    void subtractQueued(size_t n) {
        EnterCriticalSection(&countLock_);
        queued_ -= std::min(n, queued_);
        LeaveCriticalSection(&countLock_);
    }

    const size_t capacity_;
    CRITICAL_SECTION writeLock_;
    CRITICAL_SECTION countLock_;
    size_t queued_ = 0;  // written and not yet read; under countLock_
    HANDLE readEnd_ = INVALID_HANDLE_VALUE;
    HANDLE writeEnd_ = INVALID_HANDLE_VALUE;
    HANDLE stopEvent_ = nullptr;
    HANDLE closedEvent_ = nullptr;
    HANDLE readEvent_ = nullptr;
    HANDLE roomEvent_ = nullptr;
    std::atomic<bool> closed_{false};
};

}  // namespace

std::unique_ptr<CommandPipe> makeCommandPipe(const char* name, size_t capacity) {
    return std::make_unique<NamedCommandPipe>(name, capacity);
}

}  // namespace vornic::platform
