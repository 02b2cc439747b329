// vornic-selftest.exe: runs the real program (Application, Win32FrontEnd, the Win32 dialogs) and
// drives its windows from a second thread through window messages only, the way a user's mouse
// and keyboard would reach them: BM_CLICK, typed characters, focus moves (WM_NEXTDLGCTL), key
// presses on a slider, the close box. Meant for Wine under a virtual X server with kz2-sim on a
// pseudo-terminal mapped to a COM port (scripts/windows-ui.sh).
//
//   vornic-selftest.exe --port N --trace FILE --shots FOLDER --data FOLDER [--lost-port M]
//
// --lost-port names a second simulator's port whose line ends after the connection and one
// request more.
// --data is a scratch folder that stands in for %LOCALAPPDATA% (the snapshots go below it) and
// takes the files backed up and restored from; the run leaves there backup.json and
// snapshot.json (the snapshot of the connect it undid to), both meant to match the controller.
// --trace is kz2-sim's trace output: the frames the program sent are read from it. --shots is
// where a bitmap of each dialog is written. Prints one line per check and a last line
// "N passed, N failed"; the exit status is 0 only when nothing failed.
//
//   vornic-selftest.exe --check-running FOLDER
//
// checks a vornic.exe started beside it instead, captures its window and closes it.

#include <windows.h>

#include <commctrl.h>
#include <dbt.h>
#include <oleacc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Application.h"
#include "app/PortList.h"
#include "desktop/win32/Win32Dialog.h"
#include "desktop/win32/Win32FrontEnd.h"
#include "platform/PortTable.h"
#include "platform/SystemText.h"
#include "settings/Backup.h"
#include "ui/AccessibleNames.h"
#include "ui/Layout.h"
#include "ui/MainDialogIds.h"
#include "ui/SecondaryDialogs.h"
#include "ui/SettingsDialogs.h"

namespace {

using vornic::ui::win32::narrow;
using vornic::ui::win32::widen;
using namespace std::chrono_literals;

struct Options {
    int port = 0;
    int lostPort = 0;  // a simulator that hangs up mid-session; 0: none
    std::string trace;
    std::string shots;
    std::string data;  // %LOCALAPPDATA% for the run: the snapshots and the files restored from
};

class Checks {
  public:
    void check(bool ok, const std::string& what) {
        (ok ? passed_ : failed_)++;
        std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
        std::fflush(stdout);
    }
    [[nodiscard]] int passed() const { return passed_; }
    [[nodiscard]] int failed() const { return failed_; }

  private:
    std::atomic<int> passed_{0};
    std::atomic<int> failed_{0};
};

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

std::string textOf(HWND window) {
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    return narrow(buffer);
}

std::string itemText(HWND dialog, int id) {
    return textOf(GetDlgItem(dialog, id));
}

int sliderPos(HWND dialog, int id) {
    return static_cast<int>(SendDlgItemMessageW(dialog, id, TBM_GETPOS, 0, 0));
}

unsigned fieldValue(HWND dialog, int id) {
    return static_cast<unsigned>(std::strtoul(itemText(dialog, id).c_str(), nullptr, 10));
}

// The name a screen reader reads for `control`, asked the way it asks: through the control's
// accessible object.
std::string accessibleNameOf(HWND control) {
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT),
                                          __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object)))) {
        return "(no accessible object)";
    }
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::string out;
    if (object->get_accName(self, &name) == S_OK && name != nullptr) {
        out = narrow(std::wstring(name, SysStringLen(name)));
    }
    SysFreeString(name);
    object->Release();
    return out;
}

// Every control a user can act on in `dialog` is read out by its name from ui/AccessibleNames;
// `sample` pins a few of those names down. Returns "(N controls)" and the mismatches after it.
std::string accessibleNameReport(HWND dialog, int dialogId,
                                 std::initializer_list<std::pair<int, const char*>> sample,
                                 bool& allRight) {
    const vornic::ui::DialogLayout* layout = vornic::ui::findDialogLayout(dialogId);
    std::string wrong;
    int named = 0;
    for (const vornic::ui::ControlLayout& c : layout->controls) {
        std::string expected = vornic::ui::accessibleName(*layout, c);
        for (const auto& [id, name] : sample) {
            expected = id == c.id ? std::string(name) : expected;
        }
        if (expected.empty()) {
            continue;
        }
        ++named;
        const std::string got = accessibleNameOf(GetDlgItem(dialog, c.id));
        if (got != expected) {
            wrong += " " + std::to_string(c.id) + " \"" + got + "\" (not \"" + expected + "\")";
        }
    }
    allRight = wrong.empty() && named > 0;
    return "(" + std::to_string(named) + " controls)" + wrong;
}

// The same, once the window has named its controls: it does so just after it is first painted.
std::string accessibleNamesOnceShown(HWND dialog, int dialogId,
                                     std::initializer_list<std::pair<int, const char*>> sample,
                                     bool& allRight) {
    std::string report;
    waitUntil(
        [&] {
            report = accessibleNameReport(dialog, dialogId, sample, allRight);
            return allRight;
        },
        5s);
    return report;
}

std::vector<std::string> listItems(HWND list) {
    std::vector<std::string> items;
    const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        if (SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 256) {
            SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(text));
        }
        items.push_back(narrow(text));
    }
    return items;
}

// The list item of port COM`number`, shown as "COMn" or by a name that ends in "(COMn)"; -1 if
// it is not listed.
int itemOf(HWND list, int number) {
    const std::string com = "COM" + std::to_string(number);
    const std::vector<std::string> items = listItems(list);
    for (size_t i = 0; i < items.size(); ++i) {
        const std::string& t = items[i];
        if (t == com ||
            (t.size() > com.size() + 2 &&
             t.compare(t.size() - com.size() - 2, std::string::npos, "(" + com + ")") == 0)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The tooltip the dialog's tooltip window holds for control `id`.
std::string toolTipOf(HWND dialog, int id) {
    for (HWND tips = FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr); tips != nullptr;
         tips = FindWindowExW(nullptr, tips, TOOLTIPS_CLASSW, nullptr)) {
        if (GetWindow(tips, GW_OWNER) != dialog) {
            continue;
        }
        wchar_t text[256] = {};
        TOOLINFOW info{};
        info.cbSize = sizeof info;
        info.hwnd = dialog;
        info.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dialog, id));
        info.lpszText = text;
        SendMessageW(tips, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&info));
        return narrow(text);
    }
    return "(no tooltip window)";
}

// The user's actions.
void selectPort(HWND dialog, int number) {
    HWND list = GetDlgItem(dialog, vornic::ui::kIdPortList);
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(itemOf(list, number)), 0);
}
void click(HWND dialog, int id) {
    SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0);
}
// A click on a button that opens a modal dialog: the click returns only when that dialog closes.
void clickLater(HWND dialog, int id) {
    PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}
void focus(HWND dialog, int id) {
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
}
void type(HWND dialog, int id, const std::string& text) {
    focus(dialog, id);
    SendDlgItemMessageW(dialog, id, EM_SETSEL, 0, -1);
    for (char c : text) {
        SendDlgItemMessageW(dialog, id, WM_CHAR, static_cast<WPARAM>(c), 1);
    }
}
void pressKey(HWND control, WPARAM key) {
    SendMessageW(control, WM_KEYDOWN, key, 1);
    SendMessageW(control, WM_KEYUP, key, 0xC0000001);
}

HWND focusOf(HWND dialog) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui);
    return gui.hwndFocus;
}

// What 16 pixels at 96 dpi come to on this screen.
int scaled16() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return MulDiv(16, dpi, 96);
}

// Screen readers' announcements of the status line: live-region events for its window.
std::atomic<HWND> announcedWindow{nullptr};
std::atomic<int> announcements{0};
void CALLBACK countAnnouncement(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD,
                                DWORD) {
    if (window == announcedWindow.load() && object == OBJID_CLIENT) {
        ++announcements;
    }
}

HWND findDialog(const char* caption) {
    HWND found = nullptr;
    waitUntil(
        [&] {
            found = FindWindowW(L"#32770", widen(caption).c_str());
            return found != nullptr && IsWindowVisible(found);
        },
        5s);
    return found;
}

// Writes the window as it is on the screen into a 24-bit bitmap file.
bool capture(HWND window, const std::string& path) {
    SendMessageW(window, WM_NULL, 0, 0);  // the UI thread has handled everything before this
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    std::this_thread::sleep_for(400ms);
    RECT r{};
    GetWindowRect(window, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    if (w <= 0 || h <= 0) {
        return false;
    }
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
    SelectObject(memory, old);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
    std::vector<char> pixels(static_cast<size_t>(stride) * static_cast<size_t>(h));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(h), pixels.data(),
              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(out);
}

// How many pixels `text` darkens when drawn in black in `font` on white.
int inkOf(HFONT font, const wchar_t* text) {
    constexpr int kWidth = 200;
    constexpr int kHeight = 40;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    int ink = 0;
    if (bitmap != nullptr && bits != nullptr) {
        HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
        HGDIOBJ oldFont = SelectObject(dc, font);
        PatBlt(dc, 0, 0, kWidth, kHeight, WHITENESS);
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkMode(dc, TRANSPARENT);
        TextOutW(dc, 2, 2, text, static_cast<int>(wcslen(text)));
        GdiFlush();
        const auto* pixels = static_cast<const DWORD*>(bits);
        for (int i = 0; i < kWidth * kHeight; ++i) {
            ink += (pixels[i] & 0xFFFFFFu) != 0xFFFFFFu ? 1 : 0;
        }
        SelectObject(dc, oldFont);
        SelectObject(dc, oldBitmap);
    }
    if (bitmap != nullptr) {
        DeleteObject(bitmap);
    }
    DeleteDC(dc);
    return ink;
}

// The request frames ("host -> AA ...") the simulator traced after byte `from` of its trace.
std::vector<std::string> framesSince(const std::string& path, std::streamoff from) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(from);
    std::vector<std::string> frames;
    std::string line;
    while (std::getline(in, line)) {
        const size_t at = line.find("host ->");
        if (at != std::string::npos) {
            frames.push_back(line.substr(at + 8));
        }
    }
    return frames;
}

std::streamoff traceSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

std::string hexFrame(std::initializer_list<unsigned> bytes) {
    std::string out;
    char part[4];
    for (unsigned b : bytes) {
        std::snprintf(part, sizeof part, "%s%02X", out.empty() ? "" : " ", b & 0xFFu);
        out += part;
    }
    return out;
}

std::string join(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) {
        out += "[" + l + "] ";
    }
    return out;
}

// The ids enabled only while a controller is connected ("Advanced settings" has its own rule);
// 122 and 150 name no control.
constexpr int kConnectionControls[] = {
    106, 110, 111, 112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 124, 125, 151, 152,
    180, 201, 202, 203, 210, 211, 212, 213, 214, 215, 220, 230, 231, 232, 233, 234, 235,
    240, 241, 242, 250, 251, 252, 253, 260, 301, 302, 303, 310, 311, 312, 313, 314, 315,
    320, 330, 331, 332, 333, 334, 335, 340, 341, 342, 350, 351, 352, 353, 360};
constexpr int kAlwaysEnabled[] = {100, 101, 102, 103, 153, 104, 105, 107, 171, 172};

int countEnabled(HWND dialog, bool enabled) {
    int n = 0;
    for (int id : kConnectionControls) {
        n += (IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE) == enabled ? 1 : 0;
    }
    return n;
}

struct SliderRange {
    int id;
    int min;
    int max;
};
constexpr SliderRange kRanges[] = {
    {115, 0, 31},   {210, 0, 39}, {212, 0, 15},   {214, 0, 15}, {233, 0, 15},
    {234, 0, 15},   {235, 0, 15}, {240, 0, 3},    {241, 0, 3},  {242, 0, 3},
    {250, -20, 20}, {252, 0, 31}, {260, 0, 15},   {310, 0, 39}, {312, 0, 15},
    {314, 0, 15},   {333, 0, 15}, {334, 0, 15},   {335, 0, 15}, {340, 0, 3},
    {341, 0, 3},    {342, 0, 3},  {350, -20, 20}, {352, 0, 31}, {360, 0, 15}};

long long millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// Only the frames that carry parameters: a read-back's requests carry none.
std::vector<std::string> settingFrames(const std::vector<std::string>& frames) {
    std::vector<std::string> out;
    for (const std::string& f : frames) {
        if (std::count(f.begin(), f.end(), ' ') >= 3) {
            out.push_back(f);
        }
    }
    return out;
}

// The cells of list view `id`, row by row.
std::vector<std::vector<std::string>> rowsOf(HWND dialog, int id) {
    HWND list = GetDlgItem(dialog, id);
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const auto columns =
        header != nullptr ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    const auto count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    std::vector<std::vector<std::string>> rows;
    for (int r = 0; list != nullptr && r < count; ++r) {
        rows.emplace_back();
        for (int c = 0; c < columns; ++c) {
            wchar_t text[256] = {};
            LVITEMW cell{};
            cell.iSubItem = c;
            cell.pszText = text;
            cell.cchTextMax = 256;
            SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(r),
                         reinterpret_cast<LPARAM>(&cell));
            rows.back().push_back(narrow(text));
        }
    }
    return rows;
}

std::string joinRows(const std::vector<std::vector<std::string>>& rows) {
    std::string out;
    for (const std::vector<std::string>& row : rows) {
        out += join(row);
    }
    return out.empty() ? "none" : out;
}

// The snapshot files below `root`, one folder per controller.
std::vector<std::string> snapshotFiles(const std::string& root) {
    std::vector<std::string> files;
    WIN32_FIND_DATAW found{};
    HANDLE folders = FindFirstFileW(widen(root + "\\*").c_str(), &found);
    if (folders == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || name == L"." ||
            name == L"..") {
            continue;
        }
        const std::string folder = root + "\\" + narrow(name);
        WIN32_FIND_DATAW file{};
        HANDLE each = FindFirstFileW(widen(folder + "\\*.json").c_str(), &file);
        if (each == INVALID_HANDLE_VALUE) {
            continue;
        }
        do {
            files.push_back(folder + "\\" + narrow(file.cFileName));
        } while (FindNextFileW(each, &file) != FALSE);
        FindClose(each);
    } while (FindNextFileW(folders, &found) != FALSE);
    FindClose(folders);
    return files;
}

// The answer the file dialogs get, set by the driver before each menu item and read on the UI
// thread: a path, or nothing, which leaves the choice to the system's dialog.
class FileAnswer {
  public:
    void set(std::optional<std::string> path) {
        const std::lock_guard<std::mutex> hold(lock_);
        path_ = std::move(path);
    }
    std::optional<std::string> choose() {
        const std::lock_guard<std::mutex> hold(lock_);
        return path_;
    }

  private:
    std::mutex lock_;
    std::optional<std::string> path_;
};

class Driver {
  public:
    Driver(const Options& options, vornic::ui::win32::Win32FrontEnd& frontEnd, Checks& checks,
           std::atomic<int>& linkClicks, FileAnswer& answer)
        : o_(options), fe_(frontEnd), c_(checks), linkClicks_(linkClicks), answer_(answer) {}

    void run() {
        HWND main = nullptr;
        waitUntil([&] { return (main = fe_.mainWindow()) != nullptr; }, 30s);
        c_.check(main != nullptr, "the main dialog opens");
        if (main == nullptr) {
            return;
        }
        waitUntil([&] { return IsWindowVisible(main) != FALSE; }, 5s);
        initialState(main);
        hotPlug(main);
        std::streamoff handshakeEnd = 0;
        if (connect(main, handshakeEnd)) {
            edits(main, handshakeEnd);
            windowInput(main);
            capture(main, o_.shots + "/main.bmp");
            secondaryDialogs(main);
            settingsMenu(main);
            disconnect(main);
            lostLine(main);
            if (endSession(main)) {
                return;
            }
        }
        PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
        c_.check(waitUntil([&] { return IsWindow(main) == FALSE; }, 10s),
                 "the close box ends the program's dialog");
    }

  private:
    void initialState(HWND main) {
        c_.check(textOf(main) == "Vornic 2.4. beta 3.", "caption: " + textOf(main));
        c_.check(SendMessageW(main, WM_GETICON, ICON_BIG, 0) != 0 &&
                     SendMessageW(main, WM_GETICON, ICON_SMALL, 0) != 0,
                 "the window carries the program's icon");
        const vornic::ui::DialogLayout* layout =
            vornic::ui::findDialogLayout(vornic::ui::kMainDialogId);
        int missing = 0;
        for (const vornic::ui::ControlLayout& control : layout->controls) {
            missing += GetDlgItem(main, control.id) == nullptr ? 1 : 0;
        }
        c_.check(missing == 0, "every control of the layout exists (" +
                                   std::to_string(layout->controls.size()) + ", " +
                                   std::to_string(missing) + " missing)");

        c_.check(countEnabled(main, false) == static_cast<int>(std::size(kConnectionControls)),
                 "every connection-dependent control starts disabled");
        c_.check(!IsWindowEnabled(GetDlgItem(main, 123)), "Advanced settings starts disabled");
        int enabled = 0;
        for (int id : kAlwaysEnabled) {
            enabled += IsWindowEnabled(GetDlgItem(main, id)) ? 1 : 0;
        }
        c_.check(enabled == static_cast<int>(std::size(kAlwaysEnabled)),
                 "connection row and fields are enabled");
        HMENU menu = GetMenu(main) != nullptr ? GetSubMenu(GetMenu(main), 0) : nullptr;
        int grayed = 0;
        for (int i = 0; menu != nullptr && i < GetMenuItemCount(menu); ++i) {
            grayed += (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_GRAYED) != 0;
        }
        c_.check(menu != nullptr && grayed == 5,
                 "the Settings menu's items wait for a connection (" + std::to_string(grayed) +
                     " of 5 disabled)");

        HWND ports = GetDlgItem(main, vornic::ui::kIdPortList);
        const std::vector<std::string> items = listItems(ports);
        const std::vector<vornic::platform::PortInfo> present = vornic::platform::listSerialPorts();
        c_.check(items.size() == present.size() && itemOf(ports, o_.port) >= 0,
                 "port list: the ports present, COM" + std::to_string(o_.port) +
                     " among them: " + join(items));
        c_.check(SendMessageW(ports, CB_GETCURSEL, 0, 0) == 0,
                 "port list shows the first: " + textOf(ports));
        c_.check(IsDlgButtonChecked(main, 119) == BST_CHECKED &&
                     IsDlgButtonChecked(main, 118) == BST_UNCHECKED,
                 "Track off checked, Track on not");
        c_.check(IsDlgButtonChecked(main, 101) == BST_UNCHECKED, "115200 Baud unchecked");

        int wrongRanges = 0;
        std::string wrong;
        for (const SliderRange& r : kRanges) {
            const auto lo =
                static_cast<int>(SendDlgItemMessageW(main, r.id, TBM_GETRANGEMIN, 0, 0));
            const auto hi =
                static_cast<int>(SendDlgItemMessageW(main, r.id, TBM_GETRANGEMAX, 0, 0));
            const int expectedPos = r.id == 115 ? 10 : (r.min < 0 ? 0 : r.min);
            if (lo != r.min || hi != r.max || sliderPos(main, r.id) != expectedPos) {
                ++wrongRanges;
                wrong += " " + std::to_string(r.id);
            }
        }
        c_.check(wrongRanges == 0, "slider ranges and start positions" + wrong);
        c_.check(itemText(main, 104).empty() && itemText(main, 211).empty(),
                 "status line and fields start empty");
        int pictures = 0;
        for (int id : {111, 112, 113, 114}) {
            BUTTON_IMAGELIST images{};
            int width = 0;
            int height = 0;
            SendDlgItemMessageW(main, id, BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&images));
            if (images.himl != nullptr) {
                ImageList_GetIconSize(images.himl, &width, &height);
            } else if (const auto shown = reinterpret_cast<HBITMAP>(
                           SendDlgItemMessageW(main, id, BM_GETIMAGE, IMAGE_BITMAP, 0))) {
                BITMAP picture{};
                GetObjectW(shown, sizeof picture, &picture);
                width = picture.bmWidth;
                height = picture.bmHeight;
            }
            pictures += width == scaled16() && height == scaled16() ? 1 : 0;
        }
        c_.check(pictures == 4, "the four arrow buttons show their pictures, " +
                                    std::to_string(scaled16()) + " pixels square");

        // Screen readers name a control after the label right before it.
        struct Named {
            int id;
            const char* label;
        };
        const Named named[] = {{100, "Port:"},
                               {111, "N"},
                               {112, "S"},
                               {113, "E"},
                               {114, "W"},
                               {171, "RA:"},
                               {172, "DE:"},
                               {210, "Max speed:"},
                               {230, "Idle:"},
                               {240, "Decay"},
                               {220, "Max:"},
                               {260, "Guiding corrections: (1/16 of the sidereal speed)"},
                               {352, "Inc. current at:"}};
        std::string unnamed;
        for (const Named& n : named) {
            if (textOf(GetWindow(GetDlgItem(main, n.id), GW_HWNDPREV)) != n.label) {
                unnamed += " " + std::to_string(n.id);
            }
        }
        c_.check(unnamed.empty(), "labels come right before the controls they name" + unnamed);
        bool namesRight = false;
        const std::string names = accessibleNamesOnceShown(main, vornic::ui::kMainDialogId,
                                                           {{111, "Move north"},
                                                            {210, "RA Max speed"},
                                                            {211, "RA Max speed value"},
                                                            {301, "Dec Reverse rotation"}},
                                                           namesRight);
        c_.check(namesRight, "main dialog: accessible names as on Linux " + names);

        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &gui);
        c_.check(gui.hwndFocus == ports, "the port list has the focus");
        c_.check(toolTipOf(main, vornic::ui::kIdStop) == "Stops both axes (Esc)",
                 "the Stop button's tooltip: \"" + toolTipOf(main, vornic::ui::kIdStop) + "\"");

        // Escape reaches the dialog as command 2: it stops a mount, and with none connected it
        // does nothing at all.
        PostMessageW(ports, WM_KEYDOWN, VK_ESCAPE, 1);
        PostMessageW(ports, WM_KEYUP, VK_ESCAPE, 0xC0000001);
        std::this_thread::sleep_for(300ms);
        SendMessageW(main, WM_NULL, 0, 0);
        c_.check(IsWindowVisible(main) != FALSE, "Escape does not close the main dialog");
        capture(main, o_.shots + "/main-start.bmp");
    }

    // `handshakeEnd`: the trace's size once the connection is reported; every frame after it comes
    // from the dialog.
    bool connect(HWND main, std::streamoff& handshakeEnd) {
        selectPort(main, o_.port);
        click(main, vornic::ui::kIdBaud115200);
        c_.check(IsDlgButtonChecked(main, vornic::ui::kIdBaud115200) == BST_CHECKED,
                 "a click ticks 115200 Baud");
        announcedWindow = GetDlgItem(main, vornic::ui::kIdStatusLine);
        constexpr DWORD kLiveRegionChanged = 0x8019;
        HWINEVENTHOOK hook =
            SetWinEventHook(kLiveRegionChanged, kLiveRegionChanged, GetModuleHandleW(nullptr),
                            &countAnnouncement, GetCurrentProcessId(), 0, WINEVENT_INCONTEXT);
        click(main, vornic::ui::kIdConnect);
        const bool connected =
            waitUntil([&] { return itemText(main, 104) == "Connection established."; }, 30s);
        c_.check(hook != nullptr && announcements.load() > 0,
                 "status changes are announced to screen readers (" +
                     std::to_string(announcements.load()) + ")");
        if (hook != nullptr) {
            UnhookWinEvent(hook);
        }
        handshakeEnd = traceSize(o_.trace);
        c_.check(connected,
                 "Connect on COM" + std::to_string(o_.port) + ": \"" + itemText(main, 104) + "\"");
        if (!connected) {
            return false;
        }
        // The report is shown whole before the status line (one UI-thread call).
        c_.check(itemText(main, 105).rfind("HW:", 0) == 0, "identity line: " + itemText(main, 105));
        c_.check(fieldValue(main, 171) > 0 && fieldValue(main, 172) > 0,
                 "gear ratios shown: " + itemText(main, 171) + ", " + itemText(main, 172));
        const unsigned maxSpeed = fieldValue(main, 211);
        c_.check(
            maxSpeed > 0 && sliderPos(main, 210) == static_cast<int>(std::min(maxSpeed / 30, 39u)),
            "RA max speed " + itemText(main, 211) + " and its slider at " +
                std::to_string(sliderPos(main, 210)));
        c_.check(fieldValue(main, 220) > 0, "RA maximum current shown: " + itemText(main, 220));
        c_.check(countEnabled(main, true) == static_cast<int>(std::size(kConnectionControls)),
                 "connection-dependent controls enabled");
        c_.check(IsWindowEnabled(GetDlgItem(main, 123)) != FALSE,
                 "Advanced settings enabled (feature level 6)");
        return true;
    }

    void edits(HWND main, std::streamoff mark) {
        // Filling the controls from the settings report sent nothing: the program's own changes
        // are no user events. Then each user action below sends exactly its one frame.
        std::this_thread::sleep_for(600ms);
        std::vector<std::string> expected;

        // An edit left: RA max speed 630 goes out with DE's last value.
        const unsigned deSpeed = fieldValue(main, 311);
        const std::string typed = fieldValue(main, 211) == 630 ? "660" : "630";
        const unsigned speed = static_cast<unsigned>(std::stoul(typed));
        type(main, 211, typed);
        focus(main, vornic::ui::kIdSidereal);
        expected.push_back(hexFrame({0xAA, 0x07, 0x35, 0x00, 0xC0, speed & 0xFF, speed >> 8,
                                     deSpeed & 0xFF, deSpeed >> 8}));
        c_.check(sliderPos(main, 210) == static_cast<int>(speed / 30),
                 "leaving the field moves its slider to " + std::to_string(sliderPos(main, 210)));

        // A field left unchanged sends nothing.
        focus(main, 311);
        focus(main, vornic::ui::kIdSidereal);

        // A slider released: one step right on RA acceleration.
        const int before = sliderPos(main, 212);
        const unsigned deAcceleration = fieldValue(main, 313);
        HWND slider = GetDlgItem(main, 212);
        focus(main, 212);
        pressKey(slider, VK_RIGHT);
        const int after = sliderPos(main, 212);
        const unsigned acceleration = 16u * static_cast<unsigned>(after);
        c_.check(after == std::min(before + 1, 15),
                 "the arrow key moves the slider to " + std::to_string(after));
        expected.push_back(hexFrame({0xAA, 0x05, 0x37, 0x00, 0xC0, acceleration, deAcceleration}));
        c_.check(fieldValue(main, 213) == acceleration,
                 "the released slider writes its value: " + itemText(main, 213));

        // A decay slider sends on every release, whatever its value.
        HWND decay = GetDlgItem(main, 240);
        const int decayBefore = sliderPos(main, 240);
        focus(main, 240);
        pressKey(decay, decayBefore < 3 ? VK_RIGHT : VK_LEFT);
        const int decayAfter = sliderPos(main, 240);
        expected.push_back(
            hexFrame({0xAA, 0x04, 0x34, 0x00, 0x80, static_cast<unsigned>(decayAfter)}));
        focus(main, vornic::ui::kIdSidereal);

        // The supply voltage: one request, its reading in the field.
        click(main, vornic::ui::kIdMeasureVoltage);
        expected.push_back(hexFrame({0xAA, 0x03, 0x2B, 0x00, 0x00}));
        const bool measured = waitUntil([&] { return itemText(main, 107) == "12.34V"; }, 10s);
        c_.check(measured, "supply voltage shown: \"" + itemText(main, 107) + "\"");

        std::this_thread::sleep_for(1500ms);
        const std::vector<std::string> sent = framesSince(o_.trace, mark);
        c_.check(sent == expected, "frames sent: " + join(sent) + " expected: " + join(expected));
    }

    // Lets the dialog's own thread take what was posted to it.
    static void settle(HWND dialog) {
        std::this_thread::sleep_for(300ms);
        SendMessageW(dialog, WM_NULL, 0, 0);
    }
    static void postKey(HWND control, WPARAM key) {
        PostMessageW(control, WM_KEYDOWN, key, 1);
        PostMessageW(control, WM_KEYUP, key, 0xC0000001);
    }
    // A press and release of the left button at `at` (client coordinates of `control`).
    static void clickAt(HWND control, POINT at) {
        SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
        SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    }

    // Keys, the wheel and the mouse put on the line only what the user meant.
    void windowInput(HWND main) {
        namespace ui = vornic::ui;
        std::this_thread::sleep_for(300ms);
        const std::streamoff mark = traceSize(o_.trace);
        const std::string stop = hexFrame({0xAA, 0x03, 0x21, 0x00, 0xC0});
        std::vector<std::string> expected;

        // Escape in a field stops; Enter on the focused Stop button presses it.
        focus(main, ui::kIdMaxSpeedRa);
        postKey(GetDlgItem(main, ui::kIdMaxSpeedRa), VK_ESCAPE);
        settle(main);
        expected.push_back(stop);
        focus(main, ui::kIdStop);
        postKey(GetDlgItem(main, ui::kIdStop), VK_RETURN);
        settle(main);
        expected.push_back(stop);

        // The wheel over a slider or the port list without the focus changes nothing.
        HWND decel = GetDlgItem(main, ui::kIdDecelSliderRa);
        HWND ports = GetDlgItem(main, ui::kIdPortList);
        const int decelBefore = sliderPos(main, ui::kIdDecelSliderRa);
        const LRESULT portBefore = SendMessageW(ports, CB_GETCURSEL, 0, 0);
        for (HWND w : {decel, ports}) {
            RECT r{};
            GetWindowRect(w, &r);
            SendMessageW(w, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA),
                         MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
        }
        c_.check(sliderPos(main, ui::kIdDecelSliderRa) == decelBefore &&
                     SendMessageW(ports, CB_GETCURSEL, 0, 0) == portBefore,
                 "the wheel without the focus moves no slider and no port");
        c_.check(IsWindowEnabled(ports) == FALSE, "the port list is locked while connected");

        // A click on a current slider's handle: no change, no frame.
        HWND current = GetDlgItem(main, ui::kIdIdleCurrentSliderRa);
        RECT thumb{};
        SendMessageW(current, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
        clickAt(current, {(thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2});

        // One click in a decay slider's channel: one page, one frame, though the release ends
        // the tracking twice (button up, capture gone).
        HWND decay = GetDlgItem(main, ui::kIdTrackDecayRa);
        const int decayBefore = sliderPos(main, ui::kIdTrackDecayRa);
        SendMessageW(decay, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
        const int y = (thumb.top + thumb.bottom) / 2;
        // At the channel's far end: a point just beside the handle may still round to the
        // handle's own position when a step is many pixels wide (at 150 % and more).
        RECT channel{};
        SendMessageW(decay, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
        clickAt(decay, decayBefore < 3 ? POINT{channel.right - 2, y} : POINT{channel.left + 2, y});
        const int decayAfter = sliderPos(main, ui::kIdTrackDecayRa);
        c_.check(decayAfter != decayBefore,
                 "a click in the channel moves the decay slider to " + std::to_string(decayAfter));
        expected.push_back(
            hexFrame({0xAA, 0x04, 0x34, 0x00, 0x81, static_cast<unsigned>(decayAfter)}));
        focus(main, ui::kIdSidereal);

        std::this_thread::sleep_for(1000ms);
        const std::vector<std::string> sent = framesSince(o_.trace, mark);
        c_.check(sent == expected,
                 "window input sends: " + join(sent) + " expected: " + join(expected));
    }

    // Each secondary dialog: opened from its button, checked, captured, left with Cancel / Exit
    // (for the two that could change the controller: Enter on the focused Cancel / Exit).
    void secondaryDialogs(HWND main) {
        namespace ui = vornic::ui;
        struct Secondary {
            int button;
            int dialogId;
            const char* caption;
            const char* shot;
            std::function<void(HWND)> checks;
        };
        const Secondary dialogs[] = {
            {ui::kIdChangeGearRatio, ui::kGearRatioDialogId, "Set gear ratio", "gear-ratio",
             [&](HWND d) {
                 c_.check(itemText(d, ui::gear_dlg::kRa) == itemText(main, 171) &&
                              itemText(d, ui::gear_dlg::kDe) == itemText(main, 172),
                          "Set gear ratio shows " + itemText(d, ui::gear_dlg::kRa));
             }},
            {ui::kIdAdvancedSettings, ui::kAdvancedSettingsDialogId, "Advanced settings",
             "advanced-settings",
             [&](HWND d) {
                 const std::string latitude = itemText(d, ui::site_dlg::kLatitude);
                 c_.check((latitude.rfind("N ", 0) == 0 || latitude.rfind("S ", 0) == 0) &&
                              IsDlgButtonChecked(d, 110) + IsDlgButtonChecked(d, 111) +
                                      IsDlgButtonChecked(d, 112) ==
                                  1,
                          "Advanced settings: latitude " + latitude + ", one mount type");
                 // The arrow keys go round the mount types and never leave them.
                 focus(d, ui::site_dlg::kEquatorialGerman);
                 std::string walk;
                 bool inGroup = true;
                 for (int step = 0; step < 4; ++step) {
                     postKey(focusOf(d), VK_DOWN);
                     settle(d);
                     const int id = GetDlgCtrlID(focusOf(d));
                     walk += " " + std::to_string(id);
                     inGroup = inGroup && id >= ui::site_dlg::kEquatorialGerman &&
                               id <= ui::site_dlg::kAltAzimuth;
                 }
                 c_.check(inGroup,
                          "Down x4 from Equatorial german stays on the mount types:" + walk);
             }},
            {ui::kIdInitScope, ui::kInitScopeDialogId, "Initialize telescope", "init-scope",
             [&](HWND d) {
                 HWND list = GetDlgItem(d, ui::init_dlg::kPositions);
                 c_.check(SendMessageW(list, CB_GETCOUNT, 0, 0) == 10 &&
                              textOf(list) == "Default east side - Equator",
                          "ten positions, the first selected: " + textOf(list));
                 focus(d, ui::init_dlg::kPositions);
                 pressKey(list, VK_END);  // the user picks the last position
                 c_.check(itemText(d, ui::init_dlg::kExplanation) ==
                              "Counterweight points to ground, telescope looks to the western "
                              "Horizon.",
                          "choosing Western Horizon explains it: " +
                              itemText(d, ui::init_dlg::kExplanation));
             }},
            {ui::kIdAbout, ui::kAboutDialogId, "Vornic 2.4", "about",
             [&](HWND d) {
                 LOGFONTW link{};
                 LOGFONTW title{};
                 GetObjectW(reinterpret_cast<HFONT>(
                                SendDlgItemMessageW(d, ui::about_dlg::kLink, WM_GETFONT, 0, 0)),
                            sizeof link, &link);
                 GetObjectW(reinterpret_cast<HFONT>(
                                SendDlgItemMessageW(d, ui::about_dlg::kTitle, WM_GETFONT, 0, 0)),
                            sizeof title, &title);
                 wchar_t linkClass[32] = {};
                 GetClassNameW(GetDlgItem(d, ui::about_dlg::kLink), linkClass, 32);
                 c_.check(narrow(linkClass) == "SysLink" && title.lfWeight == FW_BOLD &&
                              title.lfHeight == scaled16(),
                          "the About box's link is a " + narrow(linkClass) + ", its title bold, " +
                              std::to_string(title.lfHeight) + " pixels");
                 // The keyboard starts on Exit, and Tab goes on to the link.
                 HWND exit = GetDlgItem(d, ui::kIdCancel);
                 const bool startsOnExit = focusOf(d) == exit;
                 postKey(exit, VK_TAB);
                 settle(d);
                 c_.check(startsOnExit && focusOf(d) == GetDlgItem(d, ui::about_dlg::kLink),
                          "About: the focus starts on Exit and Tab reaches the link");
                 // What is drawn, not only what was asked for: a face without a bold variant
                 // draws the bold font's glyphs regular.
                 LOGFONTW regular = title;
                 regular.lfWeight = FW_NORMAL;
                 HFONT regularFont = CreateFontIndirectW(&regular);
                 const int boldInk = inkOf(reinterpret_cast<HFONT>(SendDlgItemMessageW(
                                               d, ui::about_dlg::kTitle, WM_GETFONT, 0, 0)),
                                           L"Vornic 2.4");
                 const int regularInk = inkOf(regularFont, L"Vornic 2.4");
                 DeleteObject(regularFont);
                 c_.check(boldInk * 100 >= regularInk * 115,
                          "the About title is drawn bold: " + std::to_string(boldInk) +
                              " pixels of ink, " + std::to_string(regularInk) + " in regular");
             }},
        };
        const std::streamoff mark = traceSize(o_.trace);
        for (const Secondary& s : dialogs) {
            clickLater(main, s.button);
            HWND d = findDialog(s.caption);
            c_.check(d != nullptr, std::string(s.caption) + " opens");
            if (d == nullptr) {
                continue;
            }
            s.checks(d);
            bool namesRight = false;
            const std::string names = accessibleNamesOnceShown(d, s.dialogId, {}, namesRight);
            c_.check(namesRight,
                     std::string(s.caption) + ": accessible names as on Linux " + names);
            capture(d, o_.shots + "/" + s.shot + ".bmp");
            if (s.button == ui::kIdAbout) {
                HWND link = GetDlgItem(d, ui::about_dlg::kLink);
                SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
                SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
                SendMessageW(d, WM_NULL, 0, 0);
                c_.check(linkClicks_.load() == 1 && IsWindow(d),
                         "a click on the link opens it and the box stays");
                focus(d, ui::about_dlg::kLink);
                postKey(link, VK_RETURN);
                settle(d);
                c_.check(linkClicks_.load() == 2 && IsWindow(d), "so does Enter on the link");
            }
            if (s.button == ui::kIdChangeGearRatio || s.button == ui::kIdInitScope) {
                focus(d, ui::kIdCancel);
                postKey(GetDlgItem(d, ui::kIdCancel), VK_RETURN);
            } else {
                click(d, ui::kIdCancel);
            }
            c_.check(waitUntil([&] { return !IsWindow(d); }, 5s),
                     std::string(s.caption) + ": Cancel / Exit closes it");
        }
        std::this_thread::sleep_for(500ms);
        c_.check(framesSince(o_.trace, mark).empty(),
                 "cancelled dialogs send nothing: " + join(framesSince(o_.trace, mark)));
    }

    // A port registered while the program runs shows up in the list, the selection kept; one
    // that cannot be opened is refused with the system's reason in the status line; and a port
    // that goes away leaves the list. (Wine's ports are known only from the drivers' list.)
    void hotPlug(HWND main) {
        namespace ui = vornic::ui;
        HWND ports = GetDlgItem(main, ui::kIdPortList);
        const std::string selected = textOf(ports);
        const auto announce = [&](bool present) {
            HKEY key = nullptr;
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                            REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
            const wchar_t name[] = L"COM231";
            if (present) {
                RegSetValueExW(key, L"\\Device\\VornicSelfTest", 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(name), sizeof name);
            } else {
                RegDeleteValueW(key, L"\\Device\\VornicSelfTest");
            }
            RegCloseKey(key);
            SendMessageW(main, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
        };
        const size_t before = listItems(ports).size();
        announce(true);
        c_.check(itemOf(ports, 231) >= 0 && listItems(ports).size() == before + 1 &&
                     textOf(ports) == selected,
                 "a port that arrives is listed, the selection kept: " + join(listItems(ports)));

        selectPort(main, 231);
        click(main, ui::kIdConnect);
        waitUntil([&] { return itemText(main, 104).rfind("Error: cannot open", 0) == 0; }, 10s);
        const std::string status = itemText(main, 104);
        const std::string reason = vornic::platform::systemErrorText(ERROR_FILE_NOT_FOUND);
        c_.check(
            status.find("COM231: no such serial port (" + reason + ")") != std::string::npos &&
                status.find("/dev/") == std::string::npos,
            "a port that cannot be opened is named with the system's reason: \"" + status + "\"");

        selectPort(main, o_.port);
        announce(false);
        c_.check(itemOf(ports, 231) < 0 && listItems(ports).size() == before &&
                     itemOf(ports, o_.port) == SendMessageW(ports, CB_GETCURSEL, 0, 0),
                 "a port that leaves is taken off the list, the selection kept: " +
                     join(listItems(ports)));
    }

    // The line ends mid-session: the window says so, lets the port go and clears what it showed
    // of the controller.
    void lostLine(HWND main) {
        namespace ui = vornic::ui;
        if (o_.lostPort == 0) {
            return;
        }
        selectPort(main, o_.lostPort);
        click(main, ui::kIdConnect);
        const bool connected =
            waitUntil([&] { return itemText(main, 104) == "Connection established."; }, 30s);
        c_.check(connected,
                 "Connect on the port about to be lost: \"" + itemText(main, 104) + "\"");
        click(main, ui::kIdMeasureVoltage);
        const bool lost = waitUntil(
            [&] {
                return itemText(main, 104) ==
                       "Error: Connection lost (cable or adapter unplugged?)";
            },
            15s);
        c_.check(lost, "the lost line is reported: \"" + itemText(main, 104) + "\"");
        c_.check(IsWindowEnabled(GetDlgItem(main, ui::kIdPortList)) != FALSE &&
                     itemText(main, 105).empty() && itemText(main, 107).empty() &&
                     countEnabled(main, false) == static_cast<int>(std::size(kConnectionControls)),
                 "after the lost line the port list is free, identity and voltage cleared, the "
                 "controls disabled: \"" +
                     itemText(main, 105) + "\", \"" + itemText(main, 107) + "\"");
    }

    // The session ends (log-off, shutdown) while a hand move runs: the stop goes out before the
    // system is told it may end the program, and the program ends. False when it did not end.
    bool endSession(HWND main) {
        namespace ui = vornic::ui;
        selectPort(main, o_.port);
        click(main, ui::kIdConnect);
        if (!waitUntil([&] { return itemText(main, 104) == "Connection established."; }, 30s)) {
            c_.check(false, "Connect again for the session's end: \"" + itemText(main, 104) + "\"");
            return false;
        }
        click(main, ui::kIdMoveEast);
        waitUntil([&] { return itemText(main, 104) == "Manual movement"; }, 10s);
        std::this_thread::sleep_for(500ms);
        const std::streamoff mark = traceSize(o_.trace);
        const LRESULT mayEnd = SendMessageW(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        SendMessageW(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        // From here the system could end the process: what went out has gone out already.
        std::this_thread::sleep_for(1000ms);
        const std::vector<std::string> sent = framesSince(o_.trace, mark);
        c_.check(mayEnd == TRUE &&
                     sent == std::vector<std::string>{hexFrame({0xAA, 0x03, 0x21, 0x00, 0xC0})},
                 "the session's end during a hand move stops it before it answers: " + join(sent));
        const bool ended = waitUntil([&] { return IsWindow(main) == FALSE; }, 10s);
        c_.check(ended, "the session's end closes the program's dialog");
        return ended;
    }

    // The "Settings" menu over the real safety net, against the simulator: a fresh connection
    // takes the snapshot that undo goes back to; then each step puts exactly its setting frames
    // on the line (a read-back's requests carry no parameters and are left aside), says what it
    // did, and leaves the "Not saved into KZ2" mark as the controller's working settings stand.
    void settingsMenu(HWND main) {
        namespace ui = vornic::ui;
        namespace pd = ui::preview_dlg;
        HMENU bar = GetMenu(main);
        HMENU menu = bar != nullptr ? GetSubMenu(bar, 0) : nullptr;
        std::string items;
        int usable = 0;
        for (int i = 0; menu != nullptr && i < GetMenuItemCount(menu); ++i) {
            wchar_t text[128] = {};
            GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
            items += narrow(text) + "|";
            usable += (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_GRAYED) == 0;
        }
        c_.check(items == "Back up to file...|Restore from file...|Compare with file...|"
                          "Undo changes since connecting...|Snapshots...|" &&
                     usable == 5,
                 "the Settings menu holds, all usable when connected: " + items);

        click(main, ui::kIdDisconnect);
        waitUntil([&] { return itemText(main, 104) == "Connection closed"; }, 10s);
        const std::string root = o_.data + "\\Vornic\\snapshots";
        const std::vector<std::string> earlier = snapshotFiles(root);
        click(main, ui::kIdConnect);
        const bool connected =
            waitUntil([&] { return itemText(main, 104) == "Connection established."; }, 30s);
        const auto reported = std::chrono::steady_clock::now();
        std::string snapshot;
        waitUntil(
            [&] {
                for (const std::string& f : snapshotFiles(root)) {
                    if (std::find(earlier.begin(), earlier.end(), f) == earlier.end()) {
                        snapshot = f;
                    }
                }
                return !snapshot.empty();
            },
            15s);
        c_.check(connected && !snapshot.empty() && !earlier.empty(),
                 "each connect writes a snapshot under %LOCALAPPDATA% (" +
                     std::to_string(millisecondsSince(reported)) +
                     " ms after the connection was reported): " + snapshot);
        if (!connected || snapshot.empty()) {
            return;
        }
        // The command line judges the snapshot against the controller once this run is over.
        CopyFileW(widen(snapshot).c_str(), widen(o_.data + "\\snapshot.json").c_str(), FALSE);

        const unsigned atConnect = fieldValue(main, ui::kIdMaxSpeedRa);
        const unsigned de = fieldValue(main, ui::kIdMaxSpeedDe);
        const unsigned typed = atConnect == 900 ? 960 : 900;
        const unsigned inFile = atConnect == 1200 ? 1170 : 1200;
        const std::string hostile = o_.data + "\\hostile.json";
        const std::string changed = o_.data + "\\changed.json";
        const std::string other = o_.data + "\\other.json";
        // Typed into the system's save dialog, which hands back the path as typed.
        std::string backup = o_.data + "\\backup.json";
        std::replace(backup.begin(), backup.end(), '/', '\\');
        c_.check(writeFiles(snapshot, inFile, atConnect, hostile, changed, other),
                 "the files to restore from are written");

        using Rows = std::vector<std::vector<std::string>>;
        const auto speed = [&](unsigned ra) {
            return hexFrame({0xAA, 0x07, 0x35, 0x00, 0xC0, ra & 0xFF, ra >> 8, de & 0xFF, de >> 8});
        };
        const auto speedRow = [](unsigned now, unsigned then) {
            return Rows{{"RA max speed", std::to_string(now), std::to_string(then)}};
        };
        const std::string notSaved = "Not saved into KZ2";
        const std::string verified = "Restored and verified: 1 setting";
        struct Step {
            const char* what;
            int used;    // a menu item, a button, or the field typed into
            int button;  // pressed in the preview the item opens, 0 for none
            std::string file;
            std::vector<std::string> sent;
            std::string status;  // "" for not looked at
            std::string mark;
            Rows rows;
            const char* shot;  // the preview as it opened, nullptr for none
        };
        // One row a step: what, the item, button or field used, the preview's button, the file;
        // what it sends, the status line; the mark, the preview's rows, its picture.
        // clang-format off
        const Step steps[] = {
            {"a field changed", ui::kIdMaxSpeedRa, 0, "",
             {speed(typed)}, "",
             notSaved, {}, nullptr},
            {"saved and acknowledged", ui::kIdSaveSettings, 0, "",
             {hexFrame({0xAA, 0x02, 0x0D, 0x01})}, "",
             "", {}, nullptr},
            {"compared with the snapshot", ui::kIdMenuCompare, ui::kIdCancel, snapshot,
             {}, "Compared with the file: 1 setting differs",
             "", speedRow(typed, atConnect), "preview-compare"},
            {"a hostile file", ui::kIdMenuRestore, ui::kIdCancel, hostile,
             {}, "Nothing was sent: hostile.json: not valid JSON: a number is too large",
             "", {}, nullptr},
            {"undo cancelled", ui::kIdMenuUndo, ui::kIdCancel, "",
             {}, ui::settings_text::kNothingSent,
             "", speedRow(typed, atConnect), "preview-undo"},
            {"undo restored", ui::kIdMenuUndo, pd::kRestore, "",
             {speed(atConnect)}, verified,
             notSaved, speedRow(typed, atConnect), nullptr},
            {"backed up", ui::kIdMenuBackUp, 0, backup,
             {}, "Settings backed up to " + backup,
             notSaved, {}, nullptr},
            {"restored from a changed file", ui::kIdMenuRestore, pd::kRestore, changed,
             {speed(inFile)}, verified,
             notSaved, speedRow(atConnect, inFile), "preview-restore"},
            {"another controller's file, restored once confirmed",
             ui::kIdMenuRestore, pd::kConfirm, other,
             {speed(atConnect)}, verified,
             notSaved, speedRow(inFile, atConnect), "preview-other-controller"},
        };
        // clang-format on
        for (const Step& step : steps) {
            const std::streamoff mark = traceSize(o_.trace);
            // The save dialog is the system's own, answered as a user would.
            answer_.set(step.used == ui::kIdMenuBackUp ? std::nullopt
                                                       : std::optional<std::string>(step.file));
            Rows rows;
            if (step.used == ui::kIdMenuBackUp) {
                PostMessageW(main, WM_COMMAND, MAKEWPARAM(step.used, 0), 0);
                answerSaveDialog(step.file);
            } else if (step.used == ui::kIdMaxSpeedRa) {
                type(main, step.used, std::to_string(typed));
                focus(main, ui::kIdSidereal);
            } else if (step.used == ui::kIdSaveSettings) {
                click(main, step.used);
            } else {
                PostMessageW(main, WM_COMMAND, MAKEWPARAM(step.used, 0), 0);
            }
            if (step.button != 0) {
                rows = usePreview(step.button, step.shot, step.what, mark);
            }
            waitUntil(
                [&] {
                    return (step.status.empty() || itemText(main, 104) == step.status) &&
                           itemText(main, ui::kIdNotSavedMark) == step.mark;
                },
                20s);
            std::this_thread::sleep_for(700ms);
            const std::vector<std::string> sent = settingFrames(framesSince(o_.trace, mark));
            c_.check(sent == step.sent && rows == step.rows &&
                         (step.status.empty() || itemText(main, 104) == step.status) &&
                         itemText(main, ui::kIdNotSavedMark) == step.mark,
                     std::string(step.what) + ": sent " + join(sent) + ", status \"" +
                         itemText(main, 104) + "\", mark \"" + itemText(main, ui::kIdNotSavedMark) +
                         "\", rows " + joinRows(rows));
        }

        // This controller's snapshots, newest first: the one just taken matches the controller.
        const std::streamoff mark = traceSize(o_.trace);
        PostMessageW(main, WM_COMMAND, MAKEWPARAM(ui::kIdMenuSnapshots, 0), 0);
        HWND d = findDialog("Snapshots");
        c_.check(d != nullptr, "Snapshots opens");
        if (d == nullptr) {
            return;
        }
        waitUntil(
            [&] {
                return itemText(d, ui::snapshots_dlg::kMessage).rfind("Snapshots of", 0) == 0 &&
                       !rowsOf(d, ui::snapshots_dlg::kTable).empty() &&
                       rowsOf(d, ui::snapshots_dlg::kTable)[0][1] != "not known";
            },
            30s);
        const Rows listed = rowsOf(d, ui::snapshots_dlg::kTable);
        c_.check(listed.size() == snapshotFiles(root).size() && !listed.empty() &&
                     listed[0].size() == 2 && listed[0][1] == "0",
                 "Snapshots lists every one, the newest first, matching now: " + joinRows(listed));
        bool namesRight = false;
        const std::string names =
            accessibleNamesOnceShown(d, ui::kSnapshotsDialogId, {}, namesRight);
        c_.check(namesRight, "Snapshots: accessible names as on Linux " + names);
        capture(d, o_.shots + "/snapshots.bmp");
        click(d, ui::kIdCancel);
        waitUntil([&] { return !IsWindow(d); }, 5s);
        std::this_thread::sleep_for(500ms);
        c_.check(settingFrames(framesSince(o_.trace, mark)).empty(),
                 "listing the snapshots sends nothing");
    }

    // The system's "Back up to file" dialog: it suggests the backup's name; `path` is typed over
    // it and OK pressed.
    void answerSaveDialog(const std::string& path) {
        HWND d = findDialog("Back up to file");
        // The explorer-style dialog's name box, or the old style's.
        HWND name = d != nullptr ? GetDlgItem(d, 0x47C) : nullptr;
        name = name != nullptr || d == nullptr ? name : GetDlgItem(d, 0x480);
        if (name == nullptr) {
            c_.check(false, "the system's save dialog opens with a name box");
            if (d != nullptr) {
                PostMessageW(d, WM_COMMAND, IDCANCEL, 0);
            }
            return;
        }
        const std::string suggested = textOf(name);
        capture(d, o_.shots + "/save-dialog.bmp");
        c_.check(suggested.rfind("vornic-HW_", 0) == 0 && suggested.size() > 17 &&
                     suggested.compare(suggested.size() - 5, 5, ".json") == 0,
                 "the system's save dialog suggests \"" + suggested + "\"");
        SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(widen(path).c_str()));
        PostMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
        c_.check(waitUntil([&] { return !IsWindow(d); }, 10s),
                 "the save dialog takes the typed name and OK");
    }

    // Works the preview a menu item opened: waits for its rows, pictures it, presses `button`
    // (for pd::kConfirm: the tick, then "Restore"), waits for the outcome and closes it.
    // `mark`: the trace's size when the item was chosen.
    std::vector<std::vector<std::string>> usePreview(int button, const char* shot, const char* what,
                                                     std::streamoff mark) {
        namespace ui = vornic::ui;
        namespace pd = ui::preview_dlg;
        const auto chosen = std::chrono::steady_clock::now();
        HWND d = findDialog("Settings preview");
        if (d == nullptr) {
            c_.check(false, std::string(what) + ": the preview opens");
            return {};
        }
        waitUntil([&] { return itemText(d, pd::kMessage) != ui::settings_text::kReading; }, 30s);
        const long long shown = millisecondsSince(chosen);
        const std::vector<std::vector<std::string>> rows = rowsOf(d, pd::kTable);
        if (shot != nullptr) {
            capture(d, o_.shots + "/" + shot + ".bmp");
        }
        if (button == pd::kConfirm) {
            const bool locked = IsWindowEnabled(GetDlgItem(d, pd::kRestore)) == FALSE &&
                                IsWindowVisible(GetDlgItem(d, pd::kWarning)) != FALSE;
            bool namesRight = false;
            const std::string names =
                accessibleNamesOnceShown(d, ui::kPreviewDialogId, {}, namesRight);
            c_.check(namesRight, "the preview: accessible names as on Linux " + names);
            click(d, pd::kConfirm);
            c_.check(locked && IsWindowEnabled(GetDlgItem(d, pd::kRestore)) != FALSE,
                     std::string(what) + ": warned, and Restore only after the tick: \"" +
                         itemText(d, pd::kWarning) + "\"");
            button = pd::kRestore;
        }
        const std::vector<std::string> before = settingFrames(framesSince(o_.trace, mark));
        c_.check(before.empty(), std::string(what) + ": nothing is sent before the press in the " +
                                     "preview: " + join(before));
        click(d, button);
        waitUntil(
            [&] {
                return !IsWindow(d) || itemText(d, pd::kMessage) != ui::settings_text::kRestoring;
            },
            30s);
        if (IsWindow(d)) {
            if (button == pd::kRestore) {
                c_.check(!IsWindowVisible(GetDlgItem(d, pd::kRestore)) &&
                             itemText(d, ui::kIdCancel) == "Close",
                         std::string(what) + ": the preview shows \"" + itemText(d, pd::kMessage) +
                             "\" and offers only Close");
            }
            click(d, ui::kIdCancel);
        }
        c_.check(waitUntil([&] { return !IsWindow(d); }, 5s),
                 std::string(what) + ": the preview, ready " + std::to_string(shown) +
                     " ms after the item was chosen, closes");
        return rows;
    }

    // The snapshot with the RA max speed `inFile` (changed.json) and, as if from another
    // controller, with `atConnect` (other.json); and a cut-off file with a number no setting can
    // hold (hostile.json).
    static bool writeFiles(const std::string& snapshot, unsigned inFile, unsigned atConnect,
                           const std::string& hostile, const std::string& changed,
                           const std::string& other) {
        namespace settings = vornic::settings;
        std::string text;
        std::string error;
        if (!settings::readFileText(snapshot, text, error)) {
            return false;
        }
        settings::Json doc = settings::Json::parse(text, nullptr, false);
        if (doc.is_discarded() || !doc.contains("settings") ||
            !doc["settings"].contains("maxSpeed") || !doc.contains("hardwareVersion")) {
            return false;
        }
        doc["settings"]["maxSpeed"][0] = inFile;
        const bool changedWritten = settings::writeFileText(changed, doc.dump(2), error);
        doc["settings"]["maxSpeed"][0] = atConnect;
        doc["hardwareVersion"] = doc["hardwareVersion"].get<uint32_t>() + 1;
        return changedWritten && settings::writeFileText(other, doc.dump(2), error) &&
               settings::writeFileText(hostile, "{\"settings\": {\"maxSpeed\": [1e999", error);
    }

    // Disconnected while a hand move runs: the stop of both axes goes out before the port closes.
    void disconnect(HWND main) {
        click(main, vornic::ui::kIdMoveNorth);
        waitUntil([&] { return itemText(main, 104) == "Manual movement"; }, 10s);
        std::this_thread::sleep_for(500ms);  // the simulator has traced the move by then
        const std::streamoff mark = traceSize(o_.trace);
        click(main, vornic::ui::kIdDisconnect);
        const bool closed =
            waitUntil([&] { return itemText(main, 104) == "Connection closed"; }, 10s);
        c_.check(closed, "Disconnect: \"" + itemText(main, 104) + "\"");
        c_.check(itemText(main, 105).empty() && itemText(main, 107).empty(),
                 "identity and voltage cleared: \"" + itemText(main, 105) + "\", \"" +
                     itemText(main, 107) + "\"");
        std::this_thread::sleep_for(1500ms);
        const std::vector<std::string> sent = framesSince(o_.trace, mark);
        c_.check(sent == std::vector<std::string>{hexFrame({0xAA, 0x03, 0x21, 0x00, 0xC0})},
                 "Disconnect during a hand move stops it first: " + join(sent));
        c_.check(countEnabled(main, false) == static_cast<int>(std::size(kConnectionControls)) &&
                     !IsWindowEnabled(GetDlgItem(main, 123)),
                 "controls disabled again, Advanced settings included");
    }

    const Options& o_;
    vornic::ui::win32::Win32FrontEnd& fe_;
    Checks& c_;
    std::atomic<int>& linkClicks_;
    FileAnswer& answer_;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--port") {
            o.port = std::atoi(argv[i + 1]);
        } else if (name == "--lost-port") {
            o.lostPort = std::atoi(argv[i + 1]);
        } else if (name == "--trace") {
            o.trace = argv[i + 1];
        } else if (name == "--shots") {
            o.shots = argv[i + 1];
        } else if (name == "--data") {
            o.data = argv[i + 1];
        } else {
            return false;
        }
    }
    return o.port >= 1 && o.port <= 256 && !o.trace.empty() && !o.shots.empty() && !o.data.empty();
}

// The shipped vornic.exe, started beside this program: its window shows every control of the
// layout (and is captured into `shots`), and its close box ends it.
int checkRunningProgram(const std::string& shots) {
    Checks checks;
    HWND main = findDialog("Vornic 2.4. beta 3.");
    if (main == nullptr) {
        waitUntil([&] { return (main = findDialog("Vornic 2.4. beta 3.")) != nullptr; }, 30s);
    }
    checks.check(main != nullptr, "vornic.exe shows its main dialog");
    if (main != nullptr) {
        const vornic::ui::DialogLayout* layout =
            vornic::ui::findDialogLayout(vornic::ui::kMainDialogId);
        int missing = 0;
        for (const vornic::ui::ControlLayout& control : layout->controls) {
            missing += GetDlgItem(main, control.id) == nullptr ? 1 : 0;
        }
        checks.check(missing == 0, "vornic.exe: every control of the layout exists");
        capture(main, shots + "/vornic-exe.bmp");
        PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
        checks.check(waitUntil([&] { return IsWindow(main) == FALSE; }, 10s),
                     "vornic.exe: the close box ends it");
    }
    std::printf("%d passed, %d failed\n", checks.passed(), checks.failed());
    return checks.failed() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--check-running") {
        return checkRunningProgram(argv[2]);
    }
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: vornic-selftest --port N --trace FILE --shots FOLDER --data FOLDER "
                     "[--lost-port M] | "
                     "--check-running FOLDER\n");
        return 2;
    }
    Checks checks;
    std::atomic<int> linkClicks{0};
    vornic::platform::PortTable ports;
    vornic::PortList portList(vornic::platform::listSerialPorts, ports, "", "", false);
    vornic::ui::win32::Win32FrontEnd frontEnd;
    frontEnd.setPortList(portList);
    frontEnd.setUrlOpener([&](const std::string& url) {
        if (url == vornic::ui::about_dlg::kUrl) {
            ++linkClicks;
        }
    });
    // The program finds its folder for this user's data where Windows names it.
    _wputenv_s(L"LOCALAPPDATA", widen(options.data).c_str());
    FileAnswer answer;
    frontEnd.setFileChooser(
        [&answer](vornic::ui::FileChoice, const std::string&) { return answer.choose(); });
    Driver driver(options, frontEnd, checks, linkClicks, answer);
    std::thread user([&] {
        // Accessible objects are COM objects.
        const vornic::ui::win32::ComApartment com;
        driver.run();
    });
    vornic::Application application(frontEnd, nullptr, ports);
    const int status = application.run();
    user.join();
    checks.check(status == 0 && application.heartBeatStopped(), "the program ends cleanly");
    std::printf("%d passed, %d failed\n", checks.passed(), checks.failed());
    return checks.failed() == 0 ? 0 : 1;
}
