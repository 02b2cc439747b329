#include <windows.h>

#include "platform/SystemText.h"

namespace vornic::platform {

std::string systemErrorText(int code) {
    const auto error = static_cast<DWORD>(code);
    wchar_t text[256] = {};
    // The user's language where the system has it; the wide call, so that no letter of it is
    // lost to a code page.
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, 256, nullptr);
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                          text[length - 1] == L'.' || text[length - 1] == L' ')) {
        --length;
    }
    std::string out;
    if (length > 0) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr,
                                              0, nullptr, nullptr);
        if (bytes > 0) {
            out.assign(static_cast<size_t>(bytes), '\0');
            WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), bytes,
                                nullptr, nullptr);
        }
    }
    return out.empty() ? "system error " + std::to_string(error) : out;
}

const char* openErrorAdvice(OpenError error) {
    switch (error) {
        case OpenError::NoSuchDevice:
            return "Check the name and the cable; `vornic-cli ports` lists the ports present.";
        case OpenError::PermissionDenied:
            return "Ask the computer's administrator for access to the port.";
        case OpenError::Busy:
            return "Close the other program and try again.";
        case OpenError::NotATerminal:
            return "Name the COM port of the controller, e.g. COM5.";
        default:
            return "";
    }
}

}  // namespace vornic::platform
