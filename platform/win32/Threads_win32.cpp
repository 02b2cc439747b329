// Threads, locks and events on the Win32 primitives.

#include <windows.h>

#include <utility>

#include "platform/Threads.h"

namespace vornic::platform {

void sleepFor(uint32_t milliseconds) {
    Sleep(milliseconds);
}

struct Lock::State {
    CRITICAL_SECTION section;
};

Lock::Lock() : state_(std::make_unique<State>()) {
    InitializeCriticalSection(&state_->section);
}

Lock::~Lock() {
    DeleteCriticalSection(&state_->section);
}

void Lock::lock() {
    EnterCriticalSection(&state_->section);
}

void Lock::unlock() {
    LeaveCriticalSection(&state_->section);
}

struct Condition::State {
    CONDITION_VARIABLE variable;
};

Condition::Condition() : state_(std::make_unique<State>()) {
    InitializeConditionVariable(&state_->variable);
}

Condition::~Condition() = default;

void Condition::wait(Lock& lock, uint32_t timeoutMs) {
    SleepConditionVariableCS(&state_->variable, &lock.state_->section, timeoutMs);
}

void Condition::notifyAll() {
    WakeAllConditionVariable(&state_->variable);
}

struct Event::State {
    HANDLE event = nullptr;
};

Event::Event() : state_(std::make_unique<State>()) {
    state_->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

Event::~Event() {
    if (state_->event != nullptr) {
        CloseHandle(state_->event);
    }
}

void Event::set() {
    SetEvent(state_->event);
}

void Event::reset() {
    ResetEvent(state_->event);
}

bool Event::wait(uint32_t timeoutMs) {
    if (state_->event == nullptr) {
        // No event could be made: nothing can set it, but the caller still waits its time.
        Sleep(timeoutMs);
        return false;
    }
    return WaitForSingleObject(state_->event, timeoutMs) == WAIT_OBJECT_0;
}

struct Thread::State {
    HANDLE handle = nullptr;
    DWORD id = 0;
};

namespace {

// The thread owns its body (handed over on the heap) and nothing of the Thread object, so one
// left running never touches a freed one.
DWORD WINAPI threadEntry(void* parameter) {
    const std::unique_ptr<std::function<void()>> body(
        static_cast<std::function<void()>*>(parameter));
    (*body)();
    return 0;
}

}  // namespace

Thread::Thread() = default;

Thread::~Thread() {
    detach();
}

bool Thread::start(std::function<void()> body) {
    if (held()) {
        return false;
    }
    auto state = std::make_shared<State>();
    auto* parameter = new std::function<void()>(std::move(body));
    DWORD id = 0;
    const HANDLE handle = CreateThread(nullptr, 0, threadEntry, parameter, 0, &id);
    if (handle == nullptr) {
        delete parameter;
        return false;
    }
    state->handle = handle;
    state->id = id;
    state_ = std::move(state);
    return true;
}

bool Thread::join(uint32_t timeoutMs) {
    if (!held()) {
        return true;
    }
    if (WaitForSingleObject(state_->handle, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    CloseHandle(state_->handle);
    state_.reset();
    return true;
}

void Thread::detach() {
    if (held()) {
        CloseHandle(state_->handle);
        state_.reset();
    }
}

bool Thread::held() const {
    return state_ != nullptr;
}

bool Thread::isCurrent() const {
    return held() && GetCurrentThreadId() == state_->id;
}

}  // namespace vornic::platform
