#pragma once
// Win32Dialog: the Win32 backend of ControlModel.
//
// One Win32Dialog is one modal dialog run with DialogBoxIndirectParamW from a dialog template
// built in memory from the dialog's entry in ui/Layout, so ids, texts and rectangles exist only
// there. The dialog manager then does what it does for any resource dialog: dialog units, the
// shell font, tab order (the table's order), Enter and Escape.
//
// The backend only maps ids to windows and window messages to the dialog logic:
// - WM_COMMAND goes to onCommand with the control id and the notification code unchanged (the
//   logic's codes are numbered as Win32's: BN_CLICKED, CBN_SELCHANGE, EN_KILLFOCUS, ...);
// - WM_HSCROLL goes to the scroll handler with the scroll code and the slider's id (one release
//   may bring TB_ENDTRACK twice, from the button going up and from the capture ending; the logic
//   acts on the first only, since the second finds the slider where the first left it);
// - the mouse wheel reaches a slider or drop-down list only while it has the keyboard focus;
// - Enter presses the focused push button, else gives command 1 (the dialog manager's own rule);
// - a link's click or Enter (WM_NOTIFY) goes to onCommand as the control's BN_CLICKED;
// - WM_CLOSE goes to the logic's onClose;
// - WM_USER goes to the user-message handler (the main dialog's report notifications);
// - WM_DEVICECHANGE, for a device that came or went, goes to the device-change handler;
// - a menu item's WM_COMMAND goes to onCommand like a button's click (its code is 0 as well);
// - a list view row the user selects (LVN_ITEMCHANGED) goes to onCommand as kSelChange.
// Controls the program changes itself (SetDlgItemText, BM_SETCHECK, TBM_SETPOS, CB_SETCURSEL) do
// not notify, and whatever a control reports while the logic is changing it is not passed on, so
// only the user's actions reach the logic.

#include <windows.h>

#include <commctrl.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "desktop/win32/Win32AccessibleNames.h"
#include "ui/ControlModel.h"
#include "ui/Layout.h"

namespace vornic::ui::win32 {

// UTF-8 <-> UTF-16 for the wide Win32 calls.
[[nodiscard]] std::wstring widen(const std::string& text);
[[nodiscard]] std::string narrow(const std::wstring& text);

// The in-memory dialog template of `layout`, ready for DialogBoxIndirectParamW. A dialog without
// an owner is centred on the screen.
[[nodiscard]] std::vector<WORD> buildDialogTemplate(const DialogLayout& layout, bool centred);

// The monochrome triangle of an arrow button (image:: ids 100..103), `size` pixels square (16 at
// 96 dpi); null for other ids and sizes outside 8..256. Made once per size and kept for the life
// of the process.
[[nodiscard]] HBITMAP arrowBitmap(int imageId, int size);
// The same triangle as a button's image list: one picture per button state, the triangle in the
// text colour (grey when disabled) on the button's own face. Null where arrowBitmap is.
[[nodiscard]] HIMAGELIST arrowImages(int imageId, int size);

class Win32Dialog final : public ControlModel {
  public:
    using HScrollHandler = std::function<void(int scrollCode, ControlId slider)>;
    using UserMessageHandler = std::function<void(WPARAM wParam, LPARAM lParam)>;
    using WindowHook = std::function<void(HWND window)>;

    // `owner`: the owner window, or null for the main dialog.
    Win32Dialog(const DialogLayout& layout, DialogLogic& logic, HWND owner);
    ~Win32Dialog() override;
    Win32Dialog(const Win32Dialog&) = delete;
    Win32Dialog& operator=(const Win32Dialog&) = delete;

    void setHScrollHandler(HScrollHandler handler) { hScroll_ = std::move(handler); }
    void setUserMessageHandler(UserMessageHandler handler) { userMessage_ = std::move(handler); }
    // Called with the window once the logic has initialised it, and with null when it is gone.
    void setWindowHook(WindowHook hook) { windowHook_ = std::move(hook); }
    // Replaces ShellExecuteW for opening web addresses (the self-test opens no browser).
    void setUrlOpener(std::function<void(const std::string&)> opener) {
        urlOpener_ = std::move(opener);
    }

    // The drop-down list `id` shows these rows, in this order, instead of the logic's items: a
    // row stands for the logic's item `item` (0-based) and shows its own label; items without a
    // row are left out. selection() and setSelection() still speak of the logic's items. May be
    // called again while the dialog runs: the list is rebuilt and the selected item stays
    // selected. (The port list: the logic numbers ports, the user sees the ports present.)
    struct ItemRow {
        int item = 0;
        std::string label;
    };
    void setItemRows(ControlId id, std::vector<ItemRow> rows);
    // Called when a device arrives or leaves.
    void setDeviceChangeHandler(std::function<void()> handler) {
        deviceChange_ = std::move(handler);
    }

    // Called once the dialog has been closed for the session's end (log-off, shutdown), before the
    // system is told it may end the process.
    void setSessionEndHandler(std::function<void()> handler) { sessionEnd_ = std::move(handler); }
    // Answers chooseFile instead of the system's file dialogs; dialogs opened from this one use it
    // too. An answer of nullopt leaves that one choice to the system's dialog.
    using FileChooser = std::function<std::optional<std::string>(FileChoice, const std::string&)>;
    void setFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }

    // Runs the dialog modally until endDialog. Returns the end result, -1 if it could not be
    // created.
    int exec();

    [[nodiscard]] HWND window() const { return window_; }

    // ControlModel
    void setText(ControlId id, const std::string& text) override;
    [[nodiscard]] std::string text(ControlId id) const override;
    void setUnsigned(ControlId id, uint32_t value) override;
    void setSigned(ControlId id, int32_t value) override;
    [[nodiscard]] IntRead readUnsigned(ControlId id) const override;
    [[nodiscard]] IntRead readSigned(ControlId id) const override;
    void setChecked(ControlId id, bool checked) override;
    [[nodiscard]] bool isChecked(ControlId id) const override;
    void setSliderRange(ControlId id, int minimum, int maximum) override;
    void setSliderPos(ControlId id, int position) override;
    [[nodiscard]] int sliderPos(ControlId id) const override;
    void addItem(ControlId id, const std::string& text) override;
    void setSelection(ControlId id, int index) override;
    [[nodiscard]] int selection(ControlId id) const override;
    void setEnabled(ControlId id, bool enabled) override;
    [[nodiscard]] bool isEnabled(ControlId id) const override;
    void setImage(ControlId id, int imageId) override;
    int runModal(DialogLogic& dialog) override;
    void endDialog(int result) override;
    void openUrl(const std::string& url) override;
    void setColumns(ControlId id, const std::vector<std::string>& headings) override;
    void setRows(ControlId id, const std::vector<std::vector<std::string>>& rows) override;
    void setVisible(ControlId id, bool visible) override;
    [[nodiscard]] std::string chooseFile(FileChoice choice,
                                         const std::string& suggestedName) override;

  private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
    void onInitDialog(HWND window);
    // The title font and the arrow pictures, for the DPI of the window's monitor.
    void styleTitles();
    void showImages();
    void addToolTips();
    void showRows(ControlId id);
    // A table's columns sized to their contents.
    void fitColumns(ControlId id);
    // Places the controls for the rows that hidden controls give back.
    void arrange();
    void addMenus();
    [[nodiscard]] bool isMenuItem(ControlId id) const;
    [[nodiscard]] HWND item(ControlId id) const;

    // Scope in which the logic changes controls: notifications are not passed on.
    class Programmatic;

    const DialogLayout& layout_;
    DialogLogic& logic_;
    HWND owner_;
    HWND window_ = nullptr;
    HScrollHandler hScroll_;
    UserMessageHandler userMessage_;
    WindowHook windowHook_;
    std::function<void(const std::string&)> urlOpener_;
    std::function<void()> sessionEnd_;
    std::function<void()> deviceChange_;
    std::map<ControlId, std::vector<ItemRow>> rows_;
    std::map<ControlId, std::vector<std::string>> headings_;
    std::map<ControlId, RECT> built_;      // where arrange() starts from, client pixels
    std::map<ControlId, int> itemCounts_;  // the logic's items added to each list
    FileChooser fileChooser_;
    HMENU menu_ = nullptr;  // the menu bar, destroyed with the window
    ControlNames names_;
    std::vector<HFONT> fonts_;  // made for the title controls, freed with the window
    std::vector<std::pair<ControlId, int>> images_;  // picture buttons and their image:: ids
    int programmatic_ = 0;
    bool ended_ = false;      // EndDialog was called
    bool destroyed_ = false;  // WM_DESTROY arrived: the controls are going
};

}  // namespace vornic::ui::win32
