#include "desktop/win32/Win32Dialog.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace vornic::ui::win32 {
namespace {

// Predefined window classes, as the dialog template names them by atom.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kComboBoxAtom = 0x0085;

// The dialog template is a run of WORDs; DWORD fields and every item start on a DWORD boundary.
class TemplateWriter {
  public:
    void word(WORD value) { words_.push_back(value); }
    void dword(DWORD value) {
        word(LOWORD(value));
        word(HIWORD(value));
    }
    void text(const std::wstring& value) {
        for (wchar_t c : value) {
            word(static_cast<WORD>(c));
        }
        word(0);
    }
    void alignDword() {
        if (words_.size() % 2 != 0) {
            word(0);
        }
    }
    std::vector<WORD> take() { return std::move(words_); }

  private:
    std::vector<WORD> words_;
};

DWORD frameStyle(uint32_t flags) {
    DWORD s = DS_SETFONT;
    if (flags & frame::kPopup)
        s |= WS_POPUP;
    if (flags & frame::kVisible)
        s |= WS_VISIBLE;
    if (flags & frame::kCaption)
        s |= WS_CAPTION;
    if (flags & frame::kSysMenu)
        s |= WS_SYSMENU;
    if (flags & frame::kModalFrame)
        s |= DS_MODALFRAME;
    return s;
}

struct ItemClass {
    WORD atom = 0;              // a predefined class, or 0 for `name`
    const wchar_t* name = L"";  // a registered class (the common controls)
    DWORD style = 0;
};

ItemClass itemClass(const ControlLayout& c) {
    const bool autoCheck = (c.style & style::kAuto) != 0;
    if (c.style & style::kLink) {
        // The common controls' link: drawn and announced as a link, reached with Tab, followed
        // with Enter or a click.
        return {0, WC_LINK, WS_TABSTOP};
    }
    switch (c.kind) {
        case ControlKind::kLabel:
            return {kStaticAtom, L"", SS_LEFT};
        case ControlKind::kLabelRight:
            return {kStaticAtom, L"", SS_RIGHT};
        case ControlKind::kLabelCentre:
            return {kStaticAtom, L"", SS_CENTER};
        case ControlKind::kEdit:
            return {kEditAtom, L"", ES_LEFT};
        case ControlKind::kReadOnlyEdit:
            return {kEditAtom, L"", ES_LEFT | ES_READONLY};
        case ControlKind::kButton:
            return {kButtonAtom, L"", BS_PUSHBUTTON};
        case ControlKind::kPushLikeCheck:
            return {kButtonAtom, L"", BS_CHECKBOX | BS_PUSHLIKE};
        case ControlKind::kCheckBox:
            return {kButtonAtom, L"",
                    static_cast<DWORD>(autoCheck ? BS_AUTOCHECKBOX : BS_CHECKBOX)};
        case ControlKind::kRadioButton:
            return {kButtonAtom, L"",
                    static_cast<DWORD>(autoCheck ? BS_AUTORADIOBUTTON : BS_RADIOBUTTON)};
        case ControlKind::kGroupBox:
            return {kButtonAtom, L"", BS_GROUPBOX};
        case ControlKind::kDropDownList:
            return {kComboBoxAtom, L"", CBS_DROPDOWNLIST};
        case ControlKind::kSlider:
            return {0, TRACKBAR_CLASSW, TBS_HORZ | TBS_BOTTOM};
        case ControlKind::kEtchedLine:
            return {kStaticAtom, L"", SS_ETCHEDHORZ};
        case ControlKind::kPictureButton:
            // Its picture comes as an image list (see showImages).
            return {kButtonAtom, L"", BS_PUSHBUTTON};
        case ControlKind::kTable:
            return {0, WC_LISTVIEWW,
                    LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER};
    }
    return {kStaticAtom, L"", SS_LEFT};
}

DWORD itemStyle(const ControlLayout& c) {
    DWORD s = WS_CHILD | WS_VISIBLE | itemClass(c).style;
    if (c.style & style::kTabStop)
        s |= WS_TABSTOP;
    if (c.style & style::kGroup)
        s |= WS_GROUP;
    if (c.style & style::kBorder)
        s |= WS_BORDER;
    if (c.style & style::kAutoHScroll)
        s |= ES_AUTOHSCROLL;
    if (c.style & style::kVScroll)
        s |= WS_VSCROLL;
    if (c.style & style::kAutoTicks)
        s |= TBS_AUTOTICKS;
    if ((c.style & style::kNotify) && !(c.style & style::kLink))
        s |= SS_NOTIFY;
    return s;
}

// A link's text marks the whole text as the one link; its notification goes to the logic as the
// control's click.
std::wstring itemText(const ControlLayout& c) {
    return (c.style & style::kLink) ? L"<a>" + widen(c.text) + L"</a>" : widen(c.text);
}

// The wheel acts on a slider or drop-down list only while it has the keyboard focus: turned while
// the pointer merely passes over one (Windows sends the wheel to the window under the pointer),
// it must change no setting and no port.
LRESULT CALLBACK wheelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR) {
    if (message == WM_MOUSEWHEEL && GetFocus() != window) {
        return 0;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

bool takesWheel(const ControlLayout& c) {
    return c.kind == ControlKind::kSlider || c.kind == ControlKind::kDropDownList;
}

// Pixels per logical inch of the window's monitor: per-monitor where the system knows it
// (Windows 10 1607 on), else the system's.
UINT dpiOf(HWND window) {
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto forWindow = reinterpret_cast<DpiForWindow>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (forWindow != nullptr && window != nullptr) {
        if (const UINT dpi = forWindow(window); dpi != 0) {
            return dpi;
        }
    }
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

// Sent to the dialog itself once the system has laid it out for a new DPI.
constexpr UINT kRestyleMessage = WM_APP + 1;
// Windows 8's event for a live region's change; older headers lack it.
constexpr DWORD kEventLiveRegionChanged = 0x8019;

}  // namespace

std::wstring widen(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    }
    return out;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
    }
    return out;
}

std::vector<WORD> buildDialogTemplate(const DialogLayout& layout, bool centred) {
    TemplateWriter t;
    DWORD style = frameStyle(layout.frameStyle);
    if (centred) {
        style |= DS_CENTER;
    }
    t.dword(style);
    t.dword((layout.frameStyle & frame::kClientEdge) ? WS_EX_CLIENTEDGE : 0);
    t.word(static_cast<WORD>(layout.controls.size()));
    t.word(static_cast<WORD>(layout.x));
    t.word(static_cast<WORD>(layout.y));
    t.word(static_cast<WORD>(layout.width));
    t.word(static_cast<WORD>(layout.height));
    t.word(0);  // no menu
    t.word(0);  // the dialog class
    t.text(widen(layout.caption));
    t.word(static_cast<WORD>(layout.fontPoints));
    t.text(widen(layout.fontName));

    for (size_t index : templateOrder(layout)) {
        const ControlLayout& c = layout.controls[index];
        t.alignDword();
        t.dword(itemStyle(c));
        t.dword(0);
        t.word(static_cast<WORD>(c.rect.x));
        t.word(static_cast<WORD>(c.rect.y));
        t.word(static_cast<WORD>(c.rect.w));
        t.word(static_cast<WORD>(c.rect.h));
        t.word(static_cast<WORD>(c.id));
        const ItemClass cls = itemClass(c);
        if (cls.atom != 0) {
            t.word(0xFFFF);
            t.word(cls.atom);
        } else {
            t.text(cls.name);
        }
        t.text(itemText(c));
        t.word(0);  // no creation data
    }
    return t.take();
}

HBITMAP arrowBitmap(int imageId, int size) {
    struct Made {
        int imageId;
        int size;
        HBITMAP bitmap;
    };
    static std::vector<Made> made;  // one per picture and size shown so far: a handful
    if (imageId < image::kArrowLeft || imageId > image::kArrowLeft + 3 || size < 8 || size > 256) {
        return nullptr;
    }
    for (const Made& m : made) {
        if (m.imageId == imageId && m.size == size) {
            return m.bitmap;
        }
    }
    // One bit per pixel, rows padded to 16 bits; 0 draws in the text colour, 1 is the
    // background. The triangle is half the square deep, its base as wide as the square, centred
    // (at 16 pixels: 8 deep, its tip 4 pixels in).
    const int half = size / 2;
    const int inset = size / 4;
    const size_t stride = static_cast<size_t>((size + 15) / 16) * 2;
    std::vector<BYTE> bits(stride * static_cast<size_t>(size), 0xFF);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            int along = 0;   // distance from the tip, 0..half-1
            int across = 0;  // distance from the centre line
            switch (imageId) {
                case image::kArrowUp:
                    along = y - inset;
                    across = x < half ? half - 1 - x : x - half;
                    break;
                case image::kArrowDown:
                    along = inset + half - 1 - y;
                    across = x < half ? half - 1 - x : x - half;
                    break;
                case image::kArrowLeft:
                    along = x - inset;
                    across = y < half ? half - 1 - y : y - half;
                    break;
                default:  // right
                    along = inset + half - 1 - x;
                    across = y < half ? half - 1 - y : y - half;
                    break;
            }
            if (along >= 0 && along < half && across <= along) {
                bits[static_cast<size_t>(y) * stride + static_cast<size_t>(x / 8)] &=
                    static_cast<BYTE>(~(0x80u >> (x % 8)));
            }
        }
    }
    HBITMAP bitmap = CreateBitmap(size, size, 1, 1, bits.data());
    if (bitmap != nullptr) {
        made.push_back({imageId, size, bitmap});
    }
    return bitmap;
}

HIMAGELIST arrowImages(int imageId, int size) {
    struct Made {
        int imageId;
        int size;
        HIMAGELIST images;
    };
    static std::vector<Made> made;
    for (const Made& m : made) {
        if (m.imageId == imageId && m.size == size) {
            return m.images;
        }
    }
    HBITMAP mask = arrowBitmap(imageId, size);  // its background bits mark what stays see-through
    HIMAGELIST images =
        mask != nullptr ? ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, 6, 0) : nullptr;
    if (images == nullptr) {
        return nullptr;
    }
    // One picture per button state, in the order the button asks for them (normal, hot,
    // pressed, disabled, default, stylus hot): the triangle in the text colour, grey when the
    // button is disabled, black where the mask shows the button through.
    constexpr int kDisabledState = 4;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    for (int state = 1; state <= 6; ++state) {
        HBITMAP picture = CreateCompatibleBitmap(screen, size, size);
        HGDIOBJ old = SelectObject(memory, picture);
        HDC maskDc = CreateCompatibleDC(screen);
        HGDIOBJ oldMask = SelectObject(maskDc, mask);
        SetTextColor(memory, GetSysColor(state == kDisabledState ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
        SetBkColor(memory, RGB(0, 0, 0));
        BitBlt(memory, 0, 0, size, size, maskDc, 0, 0, SRCCOPY);
        SelectObject(maskDc, oldMask);
        DeleteDC(maskDc);
        SelectObject(memory, old);
        ImageList_Add(images, picture, mask);
        DeleteObject(picture);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    made.push_back({imageId, size, images});
    return images;
}

class Win32Dialog::Programmatic {
  public:
    explicit Programmatic(Win32Dialog& d) : d_(d) { ++d_.programmatic_; }
    ~Programmatic() { --d_.programmatic_; }
    Programmatic(const Programmatic&) = delete;
    Programmatic& operator=(const Programmatic&) = delete;

  private:
    Win32Dialog& d_;
};

Win32Dialog::Win32Dialog(const DialogLayout& layout, DialogLogic& logic, HWND owner)
    : layout_(layout), logic_(logic), owner_(owner) {}

Win32Dialog::~Win32Dialog() {
    for (HFONT font : fonts_) {
        DeleteObject(font);
    }
}

int Win32Dialog::exec() {
    const std::vector<WORD> dialogTemplate = buildDialogTemplate(layout_, owner_ == nullptr);
    const INT_PTR result = DialogBoxIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate.data()), owner_,
        &Win32Dialog::dialogProc, reinterpret_cast<LPARAM>(this));
    return static_cast<int>(result);
}

INT_PTR CALLBACK Win32Dialog::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Win32Dialog*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        self->onInitDialog(window);
        // The keyboard starts on the first tab stop, as the dialog manager would put it, but
        // never on a link, where Enter would open a web page.
        HWND first = GetNextDlgTabItem(window, nullptr, FALSE);
        const ControlLayout* c =
            first != nullptr ? findControl(self->layout_, GetDlgCtrlID(first)) : nullptr;
        if (c == nullptr || (c->style & style::kLink) == 0) {
            return TRUE;
        }
        SetFocus(GetNextDlgTabItem(window, first, FALSE));
        return FALSE;
    }
    auto* self = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return FALSE;
    }
    return self->handle(message, wParam, lParam);
}

void Win32Dialog::onInitDialog(HWND window) {
    window_ = window;
    addMenus();
    styleTitles();
    for (const ControlLayout& c : layout_.controls) {
        if (c.kind == ControlKind::kTable) {
            // Rows are picked whole and drawn with grid lines, as a table reads.
            SendDlgItemMessageW(window_, c.id, LVM_SETEXTENDEDLISTVIEWSTYLE,
                                LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                                LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
        }
    }
    addToolTips();
    for (const ControlLayout& c : layout_.controls) {
        if (takesWheel(c)) {
            SetWindowSubclass(item(c.id), &wheelProc, 2, 0);
        }
    }
    {
        Programmatic scope(*this);
        logic_.onInit(*this);
    }
    names_.applyOnceShown(window_, layout_);
    if (windowHook_) {
        windowHook_(window_);
    }
}

void Win32Dialog::addMenus() {
    const std::span<const MenuLayout> menus = dialogMenus(layout_.id);
    if (menus.empty()) {
        return;
    }
    menu_ = CreateMenu();
    if (menu_ == nullptr) {
        return;
    }
    for (const MenuLayout& m : menus) {
        HMENU popup = CreatePopupMenu();
        for (const MenuItemLayout& i : m.items) {
            AppendMenuW(popup, MF_STRING, static_cast<UINT_PTR>(i.id), widen(i.text).c_str());
        }
        AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), widen(m.title).c_str());
    }
    // The menu bar takes its height from the client area; the window grows by as much, so the
    // controls keep all the room the layout gives them.
    RECT client{};
    GetClientRect(window_, &client);
    SetMenu(window_, menu_);
    RECT frame = client;
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), TRUE,
                       static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE)));
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // A long bar may wrap onto two lines: what is still missing is added once more.
    RECT now{};
    GetClientRect(window_, &now);
    if (now.bottom < client.bottom) {
        RECT outer{};
        GetWindowRect(window_, &outer);
        SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left,
                     outer.bottom - outer.top + client.bottom - now.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

bool Win32Dialog::isMenuItem(ControlId id) const {
    return menu_ != nullptr &&
           GetMenuState(menu_, static_cast<UINT>(id), MF_BYCOMMAND) != static_cast<UINT>(-1);
}

void Win32Dialog::addToolTips() {
    HWND tips = nullptr;  // owned by the dialog, destroyed with it
    for (const ControlLayout& c : layout_.controls) {
        if (*c.toolTip == '\0') {
            continue;
        }
        if (tips == nullptr) {
            tips = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                   window_, nullptr, GetModuleHandleW(nullptr), nullptr);
            if (tips == nullptr) {
                return;
            }
        }
        std::wstring text = widen(c.toolTip);  // the tool keeps its own copy
        TOOLINFOW info{};
        info.cbSize = sizeof info;
        info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        info.hwnd = window_;
        info.uId = reinterpret_cast<UINT_PTR>(item(c.id));
        info.lpszText = text.data();
        SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    }
}

void Win32Dialog::styleTitles() {
    const UINT dpi = dpiOf(window_);
    std::vector<HFONT> made;
    for (const ControlLayout& c : layout_.controls) {
        if ((c.style & style::kTitle) == 0) {
            continue;
        }
        HFONT current = reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0));
        if (current == nullptr) {
            current = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
        }
        LOGFONTW description{};
        GetObjectW(current, sizeof description, &description);
        // The shell font's face ("MS Shell Dlg") stands for Microsoft Sans Serif on Windows but
        // for a Tahoma under Wine whose bold at this size draws regular glyphs; naming the face
        // the alias stands for on Windows gives the same title there and a bold one everywhere.
        wcscpy(description.lfFaceName, L"Microsoft Sans Serif");
        description.lfOutPrecision = OUT_TT_PRECIS;
        description.lfHeight = MulDiv(16, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
        description.lfWidth = 0;
        description.lfWeight = FW_BOLD;
        if (HFONT font = CreateFontIndirectW(&description)) {
            made.push_back(font);
            SendMessageW(item(c.id), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        }
    }
    // The old fonts go once no control uses them any more.
    for (HFONT font : fonts_) {
        DeleteObject(font);
    }
    fonts_ = std::move(made);
}

void Win32Dialog::showImages() {
    const int size = MulDiv(16, static_cast<int>(dpiOf(window_)), USER_DEFAULT_SCREEN_DPI);
    for (const auto& [id, imageId] : images_) {
        HWND button = item(id);
        BUTTON_IMAGELIST images{
            arrowImages(imageId, size), {0, 0, 0, 0}, BUTTON_IMAGELIST_ALIGN_CENTER};
        if (images.himl != nullptr &&
            SendMessageW(button, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&images)) != 0) {
            continue;
        }
        // Without image lists on buttons: the bare bitmap, on a square of the face colour.
        if (HBITMAP picture = arrowBitmap(imageId, size)) {
            SetWindowLongPtrW(button, GWL_STYLE, GetWindowLongPtrW(button, GWL_STYLE) | BS_BITMAP);
            SendMessageW(button, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
        }
    }
}

INT_PTR Win32Dialog::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            // Also between EndDialog and the window's destruction: hiding the dialog takes the
            // focus from the field the user was in, and that field's value is still sent.
            if (programmatic_ == 0 && !destroyed_) {
                return logic_.onCommand(*this, LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
            }
            return TRUE;
        case WM_HSCROLL:
            if (programmatic_ == 0 && !destroyed_ && hScroll_ && lParam != 0) {
                hScroll_(LOWORD(wParam), GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
            }
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header == nullptr || programmatic_ != 0 || destroyed_) {
                return FALSE;
            }
            const ControlLayout* c = findControl(layout_, static_cast<ControlId>(header->idFrom));
            if (c != nullptr && (c->style & style::kLink) != 0 &&
                (header->code == NM_CLICK || header->code == NM_RETURN)) {
                logic_.onCommand(*this, c->id, notify::kClicked);
                return TRUE;
            }
            if (header->code != LVN_ITEMCHANGED) {
                return FALSE;
            }
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
            const bool selectionMoved =
                (change->uChanged & LVIF_STATE) != 0 &&
                ((change->uOldState ^ change->uNewState) & LVIS_SELECTED) != 0;
            if (selectionMoved && (change->uNewState & LVIS_SELECTED) != 0) {
                static_cast<void>(logic_.onCommand(*this, static_cast<ControlId>(header->idFrom),
                                                   notify::kSelChange));
            }
            return TRUE;
        }
        case WM_CLOSE:
            if (!ended_) {
                logic_.onClose(*this);
            }
            return TRUE;
        case WM_DEVICECHANGE:
            if (deviceChange_ &&
                (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE ||
                 wParam == DBT_DEVNODES_CHANGED)) {
                deviceChange_();
            }
            return FALSE;
        case WM_QUERYENDSESSION:
            // Nothing here holds the session back; the close comes with WM_ENDSESSION, when the
            // end is certain (another program may still cancel it).
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_ENDSESSION:
            // The process may end as soon as this returns: the close box's way out, then the
            // link taken down here rather than after the dialog's loop.
            if (wParam != FALSE) {
                if (!ended_) {
                    logic_.onClose(*this);
                }
                if (sessionEnd_) {
                    sessionEnd_();
                }
            }
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, 0);
            return TRUE;
        case WM_USER:
            if (userMessage_) {
                userMessage_(wParam, lParam);
            }
            return TRUE;
        case WM_DPICHANGED:
            // The system lays the dialog and its font out again for the new DPI (per-monitor
            // awareness v2); the title's font and the pictures are the dialog's own, made again
            // once that is done.
            PostMessageW(window_, kRestyleMessage, 0, 0);
            return FALSE;
        case kRestyleMessage:
            if (!destroyed_) {
                styleTitles();
                showImages();
            }
            return TRUE;
        case WM_DESTROY:
            destroyed_ = true;
            names_.clear();
            for (const ControlLayout& c : layout_.controls) {
                if (takesWheel(c)) {
                    RemoveWindowSubclass(item(c.id), &wheelProc, 2);
                }
            }
            if (windowHook_) {
                windowHook_(nullptr);
            }
            return FALSE;
        default:
            return FALSE;
    }
}

HWND Win32Dialog::item(ControlId id) const {
    return window_ != nullptr ? GetDlgItem(window_, id) : nullptr;
}

void Win32Dialog::setText(ControlId id, const std::string& text) {
    Programmatic scope(*this);
    SetDlgItemTextW(window_, id, widen(text).c_str());
    const ControlLayout* c = findControl(layout_, id);
    if (c != nullptr && (c->style & style::kLive) != 0) {
        // Screen readers read a live region's new text out; older ones follow the name.
        HWND control = item(id);
        NotifyWinEvent(kEventLiveRegionChanged, control, OBJID_CLIENT, CHILDID_SELF);
        NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
    }
}

std::string Win32Dialog::text(ControlId id) const {
    HWND control = item(id);
    if (control == nullptr) {
        return {};
    }
    std::wstring buffer(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    const int n = GetWindowTextW(control, buffer.data(), static_cast<int>(buffer.size()));
    buffer.resize(static_cast<size_t>(n > 0 ? n : 0));
    return narrow(buffer);
}

void Win32Dialog::setUnsigned(ControlId id, uint32_t value) {
    Programmatic scope(*this);
    SetDlgItemInt(window_, id, value, FALSE);
}

void Win32Dialog::setSigned(ControlId id, int32_t value) {
    Programmatic scope(*this);
    SetDlgItemInt(window_, id, static_cast<UINT>(value), TRUE);
}

IntRead Win32Dialog::readUnsigned(ControlId id) const {
    BOOL ok = FALSE;
    const UINT value = GetDlgItemInt(window_, id, &ok, FALSE);
    return ok ? IntRead{true, static_cast<uint32_t>(value)} : IntRead{};
}

IntRead Win32Dialog::readSigned(ControlId id) const {
    BOOL ok = FALSE;
    const UINT value = GetDlgItemInt(window_, id, &ok, TRUE);
    return ok ? IntRead{true, static_cast<uint32_t>(value)} : IntRead{};
}

void Win32Dialog::setChecked(ControlId id, bool checked) {
    Programmatic scope(*this);
    CheckDlgButton(window_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool Win32Dialog::isChecked(ControlId id) const {
    return IsDlgButtonChecked(window_, id) == BST_CHECKED;
}

void Win32Dialog::setSliderRange(ControlId id, int minimum, int maximum) {
    Programmatic scope(*this);
    // Separate minimum and maximum: TBM_SETRANGE packs both into 16 bits each.
    SendDlgItemMessageW(window_, id, TBM_SETRANGEMIN, FALSE, minimum);
    SendDlgItemMessageW(window_, id, TBM_SETRANGEMAX, FALSE, maximum);
}

void Win32Dialog::setSliderPos(ControlId id, int position) {
    Programmatic scope(*this);
    SendDlgItemMessageW(window_, id, TBM_SETPOS, TRUE, position);
}

int Win32Dialog::sliderPos(ControlId id) const {
    return static_cast<int>(SendDlgItemMessageW(window_, id, TBM_GETPOS, 0, 0));
}

void Win32Dialog::addItem(ControlId id, const std::string& text) {
    Programmatic scope(*this);
    const int index = itemCounts_[id]++;
    const auto rows = rows_.find(id);
    if (rows == rows_.end()) {
        SendDlgItemMessageW(window_, id, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(widen(text).c_str()));
        return;
    }
    // The item's row goes where the rows' order puts it among the rows already shown.
    WPARAM at = 0;
    for (const ItemRow& row : rows->second) {
        if (row.item == index) {
            const LRESULT put =
                SendDlgItemMessageW(window_, id, CB_INSERTSTRING, at,
                                    reinterpret_cast<LPARAM>(widen(row.label).c_str()));
            if (put >= 0) {
                SendDlgItemMessageW(window_, id, CB_SETITEMDATA, static_cast<WPARAM>(put),
                                    static_cast<LPARAM>(row.item));
            }
            return;
        }
        at += row.item < index ? 1 : 0;
    }
}

void Win32Dialog::setItemRows(ControlId id, std::vector<ItemRow> rows) {
    rows_[id] = std::move(rows);
    if (window_ != nullptr && itemCounts_[id] > 0) {
        showRows(id);
    }
}

void Win32Dialog::showRows(ControlId id) {
    const int selected = selection(id);
    {
        Programmatic scope(*this);
        SendDlgItemMessageW(window_, id, CB_RESETCONTENT, 0, 0);
        for (const ItemRow& row : rows_[id]) {
            if (row.item < 0 || row.item >= itemCounts_[id]) {
                continue;
            }
            const LRESULT put = SendDlgItemMessageW(
                window_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(row.label).c_str()));
            if (put >= 0) {
                SendDlgItemMessageW(window_, id, CB_SETITEMDATA, static_cast<WPARAM>(put),
                                    static_cast<LPARAM>(row.item));
            }
        }
    }
    setSelection(id, selected);
}

void Win32Dialog::setSelection(ControlId id, int index) {
    Programmatic scope(*this);
    const ControlLayout* c = findControl(layout_, id);
    if (c != nullptr && c->kind == ControlKind::kTable) {
        LVITEMW state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendDlgItemMessageW(window_, id, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                            reinterpret_cast<LPARAM>(&state));
        if (index >= 0) {
            state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendDlgItemMessageW(window_, id, LVM_SETITEMSTATE, static_cast<WPARAM>(index),
                                reinterpret_cast<LPARAM>(&state));
            SendDlgItemMessageW(window_, id, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE);
        }
        return;
    }
    LRESULT shown = index;
    if (rows_.count(id) != 0) {
        shown = CB_ERR;
        const LRESULT count = SendDlgItemMessageW(window_, id, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; index >= 0 && i < count && shown == CB_ERR; ++i) {
            if (SendDlgItemMessageW(window_, id, CB_GETITEMDATA, static_cast<WPARAM>(i), 0) ==
                index) {
                shown = i;
            }
        }
    }
    SendDlgItemMessageW(window_, id, CB_SETCURSEL, static_cast<WPARAM>(shown), 0);
}

int Win32Dialog::selection(ControlId id) const {
    const ControlLayout* c = findControl(layout_, id);
    if (c != nullptr && c->kind == ControlKind::kTable) {
        const LRESULT row = SendDlgItemMessageW(window_, id, LVM_GETNEXTITEM,
                                                static_cast<WPARAM>(-1), LVNI_SELECTED);
        return row < 0 ? -1 : static_cast<int>(row);
    }
    const LRESULT index = SendDlgItemMessageW(window_, id, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) {
        return -1;
    }
    if (rows_.count(id) != 0) {
        return static_cast<int>(
            SendDlgItemMessageW(window_, id, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
    }
    return static_cast<int>(index);
}

void Win32Dialog::setEnabled(ControlId id, bool enabled) {
    Programmatic scope(*this);
    if (HWND control = item(id)) {
        EnableWindow(control, enabled ? TRUE : FALSE);
    } else if (isMenuItem(id)) {
        EnableMenuItem(menu_, static_cast<UINT>(id),
                       MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    }
}

bool Win32Dialog::isEnabled(ControlId id) const {
    if (isMenuItem(id)) {
        return (GetMenuState(menu_, static_cast<UINT>(id), MF_BYCOMMAND) &
                (MF_GRAYED | MF_DISABLED)) == 0;
    }
    HWND control = item(id);
    return control != nullptr && IsWindowEnabled(control) != FALSE;
}

void Win32Dialog::setImage(ControlId id, int imageId) {
    Programmatic scope(*this);
    const auto shown = std::find_if(images_.begin(), images_.end(),
                                    [id](const auto& image) { return image.first == id; });
    if (shown != images_.end()) {
        shown->second = imageId;
    } else {
        images_.emplace_back(id, imageId);
    }
    showImages();
}

int Win32Dialog::runModal(DialogLogic& dialog) {
    const DialogLayout* layout = findDialogLayout(dialog.dialogId());
    if (layout == nullptr) {
        return 0;
    }
    Win32Dialog child(*layout, dialog, window_);
    child.setUrlOpener(urlOpener_);
    child.setFileChooser(fileChooser_);
    return child.exec();
}

void Win32Dialog::endDialog(int result) {
    if (window_ != nullptr && !ended_) {
        ended_ = true;
        EndDialog(window_, result);
    }
}

void Win32Dialog::openUrl(const std::string& url) {
    if (urlOpener_) {
        urlOpener_(url);
        return;
    }
    ShellExecuteW(window_, nullptr, widen(url).c_str(), nullptr, nullptr, SW_SHOW);
}

void Win32Dialog::setColumns(ControlId id, const std::vector<std::string>& headings) {
    Programmatic scope(*this);
    HWND list = item(id);
    if (list == nullptr) {
        return;
    }
    while (SendMessageW(list, LVM_DELETECOLUMN, 0, 0) != FALSE) {
    }
    for (size_t i = 0; i < headings.size(); ++i) {
        std::wstring text = widen(headings[i]);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_SUBITEM;
        column.pszText = text.data();
        column.iSubItem = static_cast<int>(i);
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    headings_[id] = headings;
    fitColumns(id);
}

void Win32Dialog::fitColumns(ControlId id) {
    HWND list = item(id);
    if (list == nullptr) {
        return;
    }
    // Both are widths: left and right are mapped as horizontal units.
    RECT units{kColumnAir, 0, kColumnMinWidth, 0};
    MapDialogRect(window_, &units);
    // A header item pads its text as a cell does; the list view measures the cells itself.
    constexpr LRESULT kHeaderPadding = 12;
    const std::vector<std::string>& headings = headings_[id];
    for (size_t col = 0; col < headings.size(); ++col) {
        const auto at = static_cast<WPARAM>(col);
        SendMessageW(list, LVM_SETCOLUMNWIDTH, at, LVSCW_AUTOSIZE);
        const LRESULT cells = SendMessageW(list, LVM_GETCOLUMNWIDTH, at, 0);
        const std::wstring text = widen(headings[col]);
        const LRESULT heading =
            SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str())) +
            kHeaderPadding;
        const int width = columnWidth(static_cast<int>(std::max(cells, heading)),
                                      static_cast<int>(units.left), static_cast<int>(units.right));
        SendMessageW(list, LVM_SETCOLUMNWIDTH, at, width);
    }
}

void Win32Dialog::setRows(ControlId id, const std::vector<std::vector<std::string>>& rows) {
    Programmatic scope(*this);
    HWND list = item(id);
    if (list == nullptr) {
        return;
    }
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int columns =
        header != nullptr ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    for (size_t r = 0; r < rows.size(); ++r) {
        for (int col = 0; col < columns; ++col) {
            const size_t at = static_cast<size_t>(col);
            std::wstring text = widen(at < rows[r].size() ? rows[r][at] : std::string());
            LVITEMW cell{};
            cell.mask = LVIF_TEXT;
            cell.iItem = static_cast<int>(r);
            cell.iSubItem = col;
            cell.pszText = text.data();
            SendMessageW(list, col == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, r,
                         reinterpret_cast<LPARAM>(&cell));
        }
    }
    fitColumns(id);
}

void Win32Dialog::setVisible(ControlId id, bool visible) {
    Programmatic scope(*this);
    if (HWND control = item(id)) {
        ShowWindow(control, visible ? SW_SHOW : SW_HIDE);
        const ControlLayout* c = findControl(layout_, id);
        if (c != nullptr && (c->style & style::kCollapse) != 0) {
            arrange();
        }
    }
}

void Win32Dialog::arrange() {
    // Each control is placed from where it was created, moved by what the hidden rows change of
    // its top and bottom edges; a control that does not move is left alone (a drop-down list's
    // window holds its opened height).
    if (built_.empty()) {
        for (const ControlLayout& c : layout_.controls) {
            if (HWND control = item(c.id)) {
                RECT r{};
                GetWindowRect(control, &r);
                MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
                built_[c.id] = r;
            }
        }
    }
    const auto hidden = [this](ControlId id) {
        HWND control = item(id);
        return control != nullptr && (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) == 0;
    };
    const auto pixelsY = [this](int units) {
        RECT r{0, units, 0, units};
        MapDialogRect(window_, &r);
        return static_cast<LONG>(r.top);
    };
    for (const ControlLayout& c : layout_.controls) {
        HWND control = item(c.id);
        const auto at = built_.find(c.id);
        if (control == nullptr || at == built_.end()) {
            continue;
        }
        const Rect from = visibleRect(c);
        const Rect to = arrangedRect(layout_, c, hidden);
        RECT r = at->second;
        r.top += pixelsY(to.y) - pixelsY(from.y);
        r.bottom += pixelsY(to.y + to.h) - pixelsY(from.y + from.h);
        RECT now{};
        GetWindowRect(control, &now);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&now), 2);
        if (now.top != r.top || now.bottom != r.bottom) {
            SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
}

std::string Win32Dialog::chooseFile(FileChoice choice, const std::string& suggestedName) {
    if (fileChooser_) {
        if (std::optional<std::string> answer = fileChooser_(choice, suggestedName)) {
            return *answer;
        }
    }
    // Room for the longest path the wide calls take.
    std::wstring path(32768, L'\0');
    const std::wstring suggested = widen(suggestedName);
    if (suggested.size() < path.size()) {
        std::copy(suggested.begin(), suggested.end(), path.begin());
    }
    static const wchar_t kFilter[] = L"Vornic settings (*.json)\0*.json\0All files (*.*)\0*.*\0";
    OPENFILENAMEW request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = window_;
    request.lpstrFilter = kFilter;
    request.lpstrFile = path.data();
    request.nMaxFile = static_cast<DWORD>(path.size());
    request.lpstrDefExt = L"json";
    BOOL chosen = FALSE;
    if (choice == FileChoice::kSave) {
        request.lpstrTitle = L"Back up to file";
        request.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
        chosen = GetSaveFileNameW(&request);
    } else {
        request.lpstrTitle = L"Choose a settings file";
        request.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
        chosen = GetOpenFileNameW(&request);
    }
    if (chosen == FALSE) {
        return {};
    }
    path.resize(wcsnlen(path.c_str(), path.size()));
    return narrow(path);
}

}  // namespace vornic::ui::win32
