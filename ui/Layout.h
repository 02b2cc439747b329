#pragma once
// The layout of every dialog (main dialog 100 and the secondary dialogs 101 to 106): one table
// that every toolkit backend builds its windows from, and that the in-memory model and the tests
// read.
//
// Coordinates are dialog units (horizontal: a quarter of the dialog font's average character
// width; vertical: an eighth of its height), relative to the dialog's client area. A drop-down
// list's height includes its opened list; closed it is kClosedComboHeight high.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "ui/ControlModel.h"

namespace vornic::ui {

enum class ControlKind {
    kLabel,          // static text, left-aligned
    kLabelRight,     // static text, right-aligned
    kLabelCentre,    // static text, centred
    kEdit,           // editable field
    kReadOnlyEdit,   // field the program writes and the user can only read or copy
    kButton,         // push button
    kPushLikeCheck,  // check box drawn as a push button; the program sets its state
    kCheckBox,       // check box
    kRadioButton,    // radio button
    kGroupBox,       // frame with a caption around related controls
    kDropDownList,   // combo box with a fixed list
    kSlider,         // horizontal trackbar
    kEtchedLine,     // horizontal separator
    kPictureButton,  // push button that shows a picture (image:: ids) instead of text
    kTable,          // rows under column headings, one row selectable; `text` names it
};

// Style flags of a control.
namespace style {
inline constexpr uint32_t kTabStop = 1u << 0;
inline constexpr uint32_t kGroup = 1u << 1;  // starts a group (tab and arrow-key order)
inline constexpr uint32_t kBorder = 1u << 2;
inline constexpr uint32_t kAutoHScroll = 1u << 3;  // edit scrolls sideways as the user types
inline constexpr uint32_t kVScroll = 1u << 4;      // drop-down list has a scroll bar
inline constexpr uint32_t kAutoTicks = 1u << 5;    // slider draws a tick per position
inline constexpr uint32_t kNotify = 1u << 6;       // static text reports clicks
inline constexpr uint32_t kAuto = 1u << 7;         // check box toggles itself when clicked
inline constexpr uint32_t kLink = 1u << 8;         // drawn as a web link: underlined, link colour,
                                                   // hand cursor, transparent background
inline constexpr uint32_t kTitle = 1u << 9;        // drawn in a bold font, 16 pixels at 96 dpi
inline constexpr uint32_t kLive = 1u << 10;        // screen readers announce each new text
inline constexpr uint32_t kCollapse = 1u << 11;    // while hidden, gives its rows back to the
                                                   // dialog's kFill control (arrangedRect)
inline constexpr uint32_t kFill = 1u << 12;        // grows upward into the rows given back
}  // namespace style

// Frame flags of a dialog.
namespace frame {
inline constexpr uint32_t kPopup = 1u << 0;
inline constexpr uint32_t kVisible = 1u << 1;
inline constexpr uint32_t kCaption = 1u << 2;
inline constexpr uint32_t kSysMenu = 1u << 3;
inline constexpr uint32_t kModalFrame = 1u << 4;
inline constexpr uint32_t kClientEdge = 1u << 5;
}  // namespace frame

inline constexpr int kClosedComboHeight = 14;

struct Rect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

struct ControlLayout {
    ControlId id = 0;
    ControlKind kind = ControlKind::kLabel;
    uint32_t style = 0;
    const char* text = "";  // UTF-8
    Rect rect;
    const char* toolTip = "";  // shown when the pointer rests on the control; UTF-8
};

struct DialogLayout {
    int id = 0;
    const char* caption = "";
    int x = 0;  // top-left corner relative to the owner, dialog units
    int y = 0;
    int width = 0;
    int height = 0;
    const char* fontName = "";
    int fontPoints = 0;
    uint32_t frameStyle = 0;
    std::span<const ControlLayout> controls;
};

// One item of a window's menu bar: a command like a button's.
struct MenuItemLayout {
    ControlId id = 0;
    const char* text = "";         // UTF-8
    bool needsConnection = false;  // disabled while no controller is connected
};

struct MenuLayout {
    const char* title = "";
    std::span<const MenuItemLayout> items;
};

// The menu bar of dialog `dialogId`, above its controls; empty when it has none.
[[nodiscard]] std::span<const MenuLayout> dialogMenus(int dialogId);

// Every dialog, main dialog first.
[[nodiscard]] std::span<const DialogLayout> dialogLayouts();
// The layout of dialog `dialogId`, or nullptr.
[[nodiscard]] const DialogLayout* findDialogLayout(int dialogId);
// Control `id` of `dialog`, or nullptr.
[[nodiscard]] const ControlLayout* findControl(const DialogLayout& dialog, ControlId id);

// Whether the user can act on the control (everything but labels, group boxes and lines; a label
// that reports clicks counts).
[[nodiscard]] bool isInteractive(const ControlLayout& control);
// The area the control covers when nothing is opened (a drop-down list closed).
[[nodiscard]] Rect visibleRect(const ControlLayout& control);

// Where `control` of `dialog` stands while the controls for which `hidden` is true are hidden. A
// hidden kCollapse control gives back its rows, from its top down to the next control under it:
// the controls under it move up by as much, down to the dialog's kFill control, which keeps its
// bottom edge and grows; nothing under the kFill control moves. With no kCollapse control hidden
// every control stands where the table puts it (its visibleRect).
[[nodiscard]] Rect arrangedRect(const DialogLayout& dialog, const ControlLayout& control,
                                const std::function<bool(ControlId)>& hidden);
// Whether hiding or showing a control of `dialog` can move others (it has a kCollapse control).
[[nodiscard]] bool hasCollapsingRows(const DialogLayout& dialog);

// A table's column is as wide as its widest cell or heading, as the toolkit measured it, plus a
// little air, and never narrower than a minimum that keeps a short column a fair target; no column
// stretches to the table's width, so what the columns leave of it stays empty at the right. All
// in the toolkit's pixels; the air and the minimum are kColumnAir and kColumnMinWidth dialog units.
inline constexpr int kColumnAir = 8;
inline constexpr int kColumnMinWidth = 44;
[[nodiscard]] int columnWidth(int neededPixels, int airPixels, int minimumPixels);

// The order in which the template lists the controls: the table's, except that a label that names
// a control without text of its own (a field, slider, list or picture button left of, above,
// right of or below it) comes right before that control, which is where Windows' accessibility
// looks for a control's name when nothing names it explicitly.
[[nodiscard]] std::vector<size_t> templateOrder(const DialogLayout& layout);

// The command Enter gives in `dialog` while `focused` has the keyboard focus: a focused push button
// is pressed, as the Win32 dialog manager does; anywhere else Enter means the dialog's default
// button, id 1 (kIdOk), whether or not the dialog has one.
[[nodiscard]] ControlId enterCommand(const DialogLayout& dialog, ControlId focused);

}  // namespace vornic::ui
