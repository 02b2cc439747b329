#include "desktop/win32/Win32FrontEnd.h"

#include <commctrl.h>

#include "desktop/win32/Win32Dialog.h"
#include "ui/Layout.h"
#include "ui/MainDialogIds.h"

namespace vornic::ui::win32 {

bool Win32FrontEnd::initCommonControls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;  // 8
    controls.dwICC = ICC_BAR_CLASSES | ICC_COOL_CLASSES | ICC_LINK_CLASS | ICC_LISTVIEW_CLASSES;
    return InitCommonControlsEx(&controls) != FALSE;
}

void Win32FrontEnd::showMessageBox(const char* text, const char* caption) {
    MessageBoxW(nullptr, widen(text != nullptr ? text : "").c_str(),
                widen(caption != nullptr ? caption : "").c_str(), MB_OK);
}

namespace {

// The logic numbers its ports from 1 and its list items from 0.
std::vector<Win32Dialog::ItemRow> itemRows(const PortList& ports) {
    std::vector<Win32Dialog::ItemRow> rows;
    for (const PortRow& row : ports.rows()) {
        rows.push_back({static_cast<int>(row.number) - 1, row.label});
    }
    return rows;
}

}  // namespace

int Win32FrontEnd::runMainDialog(DlgConfig& dialog) {
    const DialogLayout* layout = findDialogLayout(kMainDialogId);
    if (layout == nullptr) {
        return 0;
    }
    // The controls' accessible names come from a COM service.
    const ComApartment com;
    Win32Dialog window(*layout, dialog, nullptr);
    window.setHScrollHandler(
        [&dialog](int scrollCode, ControlId slider) { dialog.onHScroll(scrollCode, slider); });
    window.setUserMessageHandler([&dialog](WPARAM wParam, LPARAM lParam) {
        static_cast<void>(
            dialog.onUserMessage(static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam)));
    });
    window.setUrlOpener(urlOpener_);
    window.setSessionEndHandler(sessionEnd_);
    if (ports_ != nullptr) {
        window.setItemRows(kIdPortList, itemRows(*ports_));
        // The selected port stays in the list even when its device went (it may be the one in
        // use: the list is locked while connected).
        window.setDeviceChangeHandler([this, &window] {
            const int item = window.selection(kIdPortList);
            if (ports_->rescan(item < 0 ? 0 : static_cast<uint32_t>(item) + 1)) {
                window.setItemRows(kIdPortList, itemRows(*ports_));
            }
        });
    }
    if (fileChooser_) {
        window.setFileChooser(fileChooser_);
    }
    window.setWindowHook([this, &dialog](HWND handle) {
        if (handle != nullptr) {
            // The program's icon (resource 1) for the title bar, the task bar and Alt+Tab.
            const HINSTANCE instance = GetModuleHandleW(nullptr);
            for (const int size : {ICON_SMALL, ICON_BIG}) {
                const int pixels = GetSystemMetrics(size == ICON_SMALL ? SM_CXSMICON : SM_CXICON);
                if (HANDLE icon = LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, pixels,
                                             pixels, LR_SHARED)) {
                    SendMessageW(handle, WM_SETICON, static_cast<WPARAM>(size),
                                 reinterpret_cast<LPARAM>(icon));
                }
            }
        } else {
            // The controls are going: nothing more is shown in them or posted to them.
            dialog.windowDestroyed();
        }
        std::lock_guard<platform::Lock> guard(lock_);
        postTarget_ = handle;
        mainWindow_.store(handle);
    });
    const int result = window.exec();
    {
        std::lock_guard<platform::Lock> guard(lock_);
        postTarget_ = nullptr;
        mainWindow_.store(nullptr);
    }
    dialog.windowDestroyed();
    return result;
}

void Win32FrontEnd::post(uint32_t wParam, uint32_t lParam) {
    std::lock_guard<platform::Lock> guard(lock_);
    if (postTarget_ != nullptr) {
        PostMessageW(postTarget_, WM_USER, wParam, lParam);
    }
}

}  // namespace vornic::ui::win32
