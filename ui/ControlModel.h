#pragma once
// The abstract control model the dialog logic is written against.
//
// Every dialog (main dialog 100, Set gear ratio 101, Advanced settings 102, Initialize telescope
// 103, About 104) is logic over a ControlModel keyed by control id. A toolkit backend (Qt Widgets,
// Win32 dialog resources) maps ids to real widgets and feeds user events back to the logic; the
// tests' in-memory model (tests/support) records everything. No logic lives in a backend.
//
// Menu items are commands like buttons: a chosen item reaches onCommand with its id and kClicked,
// and setEnabled / isEnabled work on its id.
//
// Events that reach the logic besides a click: an edit field lost the keyboard focus
// (Notification::KillFocus, the Win32 EN_KILLFOCUS 512) and a slider interaction ended
// (onHScroll with kScrollEndTrack, the Win32 TB_ENDTRACK 8).

#include <cstdint>
#include <string>
#include <vector>

namespace vornic::ui {

using ControlId = int;

// Notification codes of onCommand, numbered as Win32 does.
namespace notify {
inline constexpr int kClicked = 0;      // BN_CLICKED
inline constexpr int kSelChange = 1;    // CBN_SELCHANGE; a table's row chosen by the user
inline constexpr int kKillFocus = 512;  // EN_KILLFOCUS
}  // namespace notify

inline constexpr int kScrollEndTrack = 8;    // TB_ENDTRACK
inline constexpr int kScrollThumbTrack = 5;  // TB_THUMBTRACK (ignored by the logic)

// Pictures for the four arrow buttons.
namespace image {
inline constexpr int kArrowLeft = 100;
inline constexpr int kArrowRight = 101;
inline constexpr int kArrowUp = 102;
inline constexpr int kArrowDown = 103;
}  // namespace image

// The toolkit's file dialog: a file to write, or an existing file to read.
enum class FileChoice { kSave, kOpen };

// Result of reading a field as a number (GetDlgItemInt): `ok` false when the text is not one, in
// which case `value` is 0.
struct IntRead {
    bool ok = false;
    uint32_t value = 0;  // for signed reads, the two's-complement bits of the signed value
};

class DialogLogic;

class ControlModel {
  public:
    virtual ~ControlModel() = default;

    // Text of any control (edit text, static text, button caption), UTF-8.
    virtual void setText(ControlId id, const std::string& text) = 0;
    [[nodiscard]] virtual std::string text(ControlId id) const = 0;

    // Decimal numbers in edit fields.
    virtual void setUnsigned(ControlId id, uint32_t value) = 0;
    virtual void setSigned(ControlId id, int32_t value) = 0;
    [[nodiscard]] virtual IntRead readUnsigned(ControlId id) const = 0;
    [[nodiscard]] virtual IntRead readSigned(ControlId id) const = 0;

    // Check boxes, push-like check boxes and radio buttons.
    virtual void setChecked(ControlId id, bool checked) = 0;
    [[nodiscard]] virtual bool isChecked(ControlId id) const = 0;

    // Sliders. setSliderPos clamps to the range.
    virtual void setSliderRange(ControlId id, int minimum, int maximum) = 0;
    virtual void setSliderPos(ControlId id, int position) = 0;
    [[nodiscard]] virtual int sliderPos(ControlId id) const = 0;

    // Drop-down lists and combo boxes; setSelection and selection also pick a table's row.
    virtual void addItem(ControlId id, const std::string& text) = 0;
    virtual void setSelection(ControlId id, int index) = 0;
    [[nodiscard]] virtual int selection(ControlId id) const = 0;  // -1 for none

    // Tables: column headings, then rows of cells (a row with fewer cells than headings leaves
    // the rest empty; extra cells are not shown). New rows drop the selection.
    virtual void setColumns(ControlId id, const std::vector<std::string>& headings) = 0;
    virtual void setRows(ControlId id, const std::vector<std::vector<std::string>>& rows) = 0;

    // A hidden control is neither drawn, reachable nor read out.
    virtual void setVisible(ControlId id, bool visible) = 0;

    virtual void setEnabled(ControlId id, bool enabled) = 0;
    [[nodiscard]] virtual bool isEnabled(ControlId id) const = 0;

    // A picture on a button (image:: ids).
    virtual void setImage(ControlId id, int imageId) = 0;

    // Runs a secondary dialog modally, owned by this dialog, and returns its end result.
    virtual int runModal(DialogLogic& dialog) = 0;

    // Ends this (modal) dialog with a result.
    virtual void endDialog(int result) = 0;

    // Opens a web address in the user's browser (About box link).
    virtual void openUrl(const std::string& url) = 0;

    // Asks for a file with the toolkit's own dialog, owned by this one; a save dialog offers
    // `suggestedName` and asks before replacing a file. Returns the path (UTF-8), "" when the
    // user cancelled.
    [[nodiscard]] virtual std::string chooseFile(FileChoice choice,
                                                 const std::string& suggestedName) = 0;
};

// The logic of one dialog. The backend calls onInit once the controls exist, then routes events.
class DialogLogic {
  public:
    virtual ~DialogLogic() = default;
    [[nodiscard]] virtual int dialogId() const = 0;
    virtual void onInit(ControlModel& model) = 0;
    // Returns true when the command was handled.
    virtual bool onCommand(ControlModel& model, ControlId id, int notification) = 0;
    // Dialog close box / Escape. The default ends with 0 (cancel).
    virtual void onClose(ControlModel& model) { model.endDialog(0); }
};

}  // namespace vornic::ui
