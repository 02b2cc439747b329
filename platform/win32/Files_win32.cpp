// Whole-file reading and writing on Windows. Paths arrive as UTF-8 and are widened, so that any
// name the user can type reaches the file system unchanged.

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/SystemText.h"
#include "text/Quote.h"

namespace vornic::platform {

namespace {

// Names tried for the temporary file before giving up.
constexpr int kTemporaryAttempts = 100;
// Bytes handed to one WriteFile call.
constexpr size_t kWriteChunk = size_t{1} << 20;

std::string systemText(DWORD error) {
    return systemErrorText(static_cast<int>(error));
}

std::string cannot(const char* what, const std::string& path, DWORD error) {
    return std::string("cannot ") + what + " " + shown(path, 200) + ": " + systemText(error);
}

// The UTF-8 `path` as UTF-16; false for a path that is empty, holds a zero byte (the system would
// stop reading it there and so name another file) or is not valid UTF-8.
bool widen(const std::string& path, std::wstring& wide, std::string& error) {
    if (path.empty()) {
        error = "no file name given";
        return false;
    }
    if (path.find('\0') != std::string::npos || path.size() > INT_MAX) {
        error = "cannot use " + shown(path, 200) + " as a file name";
        return false;
    }
    const int length = static_cast<int>(path.size());
    const int count =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), length, nullptr, 0);
    if (count <= 0) {
        error = "cannot use " + shown(path, 200) + " as a file name: it is not valid UTF-8";
        return false;
    }
    wide.assign(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), length, wide.data(), count);
    return true;
}

bool isMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// "a folder", "a device", "a pipe" for an open handle that is not a file on a disk, else null.
const char* notAFile(HANDLE handle) {
    switch (GetFileType(handle)) {
        case FILE_TYPE_DISK: {
            BY_HANDLE_FILE_INFORMATION info{};
            if (GetFileInformationByHandle(handle, &info) &&
                (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                return "a folder";
            }
            return nullptr;
        }
        case FILE_TYPE_CHAR:
            return "a device";
        case FILE_TYPE_PIPE:
            return "a pipe";
        default:
            return "not a regular file";
    }
}

std::wstring folderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) {
        return L".";
    }
    return path.substr(0, slash + 1);
}

// Where a write to `path` lands: the path itself when nothing or a regular file is there, the
// file at the end of a link when it is one. False, naming what is there, for anything else.
bool resolveWriteTarget(const std::string& path, std::wstring& target, std::string& error) {
    std::wstring wide;
    if (!widen(path, wide, error)) {
        return false;
    }
    // No access asked for: this only looks at what is there. Backup semantics let a folder open,
    // so that it can be named rather than fail with a puzzling "access denied".
    const HANDLE handle =
        CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD failure = GetLastError();
        if (isMissing(failure)) {
            target = wide;  // a new file; a missing folder shows up when writing
            return true;
        }
        error = cannot("write", path, failure);
        return false;
    }
    if (const char* kind = notAFile(handle)) {
        CloseHandle(handle);
        error = "cannot write " + shown(path, 200) + ": it is " + kind + ", not a regular file";
        return false;
    }
    // The open followed any link; the file it reached is the one replaced, and the link stays.
    wchar_t finalPath[MAX_PATH * 4];
    const DWORD length =
        GetFinalPathNameByHandleW(handle, finalPath, MAX_PATH * 4, FILE_NAME_NORMALIZED);
    CloseHandle(handle);
    target = (length > 0 && length < MAX_PATH * 4) ? std::wstring(finalPath, length) : wide;
    return true;
}

// A new, empty file next to `target`, created exclusively so that nothing already there under
// that name is ever written through.
HANDLE createTemporary(const std::wstring& target, std::wstring& temporary) {
    static unsigned counter = 0;
    const std::wstring folder = folderOf(target);
    const std::wstring separator = (folder.back() == L'\\' || folder.back() == L'/') ? L"" : L"\\";
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        temporary = folder + separator + L".vornic-" + std::to_wstring(GetCurrentProcessId()) +
                    L"-" + std::to_wstring(counter++) + L".tmp";
        const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
            return file;
        }
    }
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

HANDLE openTemporaryFor(const std::string& path, std::wstring& target, std::wstring& temporary,
                        std::string& error) {
    if (!resolveWriteTarget(path, target, error)) {
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE file = createTemporary(target, temporary);
    if (file == INVALID_HANDLE_VALUE) {
        error = cannot("write", path, GetLastError());
    }
    return file;
}

}  // namespace

FileRead readRegularFile(const std::string& path, size_t maxBytes, std::string& text,
                         std::string& error) {
    std::wstring wide;
    if (!widen(path, wide, error)) {
        return FileRead::failed;
    }
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD failure = GetLastError();
        if (isMissing(failure)) {
            return FileRead::missing;
        }
        error = cannot("read", path, failure);
        return FileRead::failed;
    }
    // Only a file on a disk: a pipe or a device handed to us could keep us waiting for ever.
    if (const char* kind = notAFile(file)) {
        CloseHandle(file);
        error = shown(path, 200) + " is " + kind + ", not a regular file";
        return FileRead::failed;
    }
    text.clear();
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
            error = cannot("read", path, GetLastError());
            CloseHandle(file);
            return FileRead::failed;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, n);
        if (text.size() > maxBytes) {
            CloseHandle(file);
            error = shown(path, 200) + " is too large (more than " + std::to_string(maxBytes) +
                    " bytes)";
            return FileRead::failed;
        }
    }
    CloseHandle(file);
    return FileRead::ok;
}

bool checkWritable(const std::string& path, std::string& error) {
    std::wstring target;
    std::wstring temporary;
    const HANDLE file = openTemporaryFor(path, target, temporary, error);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    DeleteFileW(temporary.c_str());
    return true;
}

bool replaceFile(const std::string& path, const std::string& text, std::string& error) {
    std::wstring target;
    std::wstring temporary;
    const HANDLE file = openTemporaryFor(path, target, temporary, error);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    size_t written = 0;
    bool ok = true;
    while (ok && written < text.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min(text.size() - written, kWriteChunk));
        DWORD n = 0;
        ok = WriteFile(file, text.data() + written, chunk, &n, nullptr) && n > 0;
        written += n;
    }
    ok = ok && FlushFileBuffers(file);
    const DWORD failure = ok ? ERROR_SUCCESS : GetLastError();
    if (!CloseHandle(file) || !ok) {
        error = cannot("write", path, ok ? GetLastError() : failure);
        DeleteFileW(temporary.c_str());
        return false;
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = cannot("write", path, GetLastError());
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

namespace {

std::string narrow(const wchar_t* wide, size_t length) {
    if (length == 0 || length > INT_MAX) {
        return {};
    }
    const int size = static_cast<int>(length);
    const int count = WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0, nullptr, nullptr);
    if (count <= 0) {
        return {};
    }
    std::string text(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, size, text.data(), count, nullptr, nullptr);
    return text;
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool listFiles(const std::string& folder, size_t maxNames, std::vector<std::string>& names,
               std::string& error) {
    names.clear();
    std::wstring wide;
    if (!widen(folder, wide, error)) {
        return false;
    }
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileExW((wide + L"\\*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        error = cannot("read the folder", folder, GetLastError());
        return false;
    }
    do {
        // Folders and links (reparse points) are never ours.
        const DWORD skip =
            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
        if ((found.dwFileAttributes & skip) == 0) {
            std::string name = narrow(found.cFileName, wcslen(found.cFileName));
            if (!name.empty()) {
                names.push_back(std::move(name));
            }
        }
    } while (names.size() < maxNames && FindNextFileW(find, &found));
    FindClose(find);
    return true;
}

bool makeFolders(const std::string& folder, std::string& error) {
    std::wstring wide;
    if (!widen(folder, wide, error)) {
        return false;
    }
    // Each folder on the way is made in turn; a drive ("C:") or a share is taken as it is.
    for (size_t end = wide.find_first_of(L"\\/", 1);; end = wide.find_first_of(L"\\/", end + 1)) {
        const std::wstring part = wide.substr(0, end);
        if (!part.empty() && part.back() != L':' && !isFolder(part) &&
            !CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
            end == std::wstring::npos) {
            error = cannot("make the folder", folder, GetLastError());
            return false;
        }
        if (end == std::wstring::npos) {
            break;
        }
    }
    if (!isFolder(wide)) {
        error = "cannot use " + shown(folder, 200) + " as a folder";
        return false;
    }
    return true;
}

bool removeFile(const std::string& path, std::string& error) {
    std::wstring wide;
    if (!widen(path, wide, error)) {
        return false;
    }
    if (!DeleteFileW(wide.c_str())) {
        error = cannot("remove", path, GetLastError());
        return false;
    }
    return true;
}

std::string userDataFolder() {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || local[0] == L'\0') {
        return {};
    }
    const std::string base = narrow(local, wcslen(local));
    return base.empty() ? std::string() : base + "\\Vornic";
}

}  // namespace vornic::platform
