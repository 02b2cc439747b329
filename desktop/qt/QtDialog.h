#pragma once
// QtDialog: the Qt Widgets backend of ControlModel.
//
// One QtDialog is one modal dialog window built from its entry in ui/Layout: every control of the
// table becomes a widget at the place the table gives in dialog units, converted to pixels from the
// dialog font's metrics the way the Win32 dialog manager does it (a horizontal unit is a quarter
// of the font's average character width, a vertical unit an eighth of its height). So the
// proportions hold at any font size and scale factor, and no id, text or rectangle exists twice.
//
// The backend only maps ids to widgets and user events to the dialog logic:
// - a click on a button, check box, radio button or link: onCommand(id, kClicked);
// - an edit field that loses the keyboard focus (Tab, a click elsewhere, another window coming to
//   the front, the window closing): onCommand(id, kKillFocus);
// - a new selection made by the user in a drop-down list: onCommand(id, kSelChange);
// - the end of a slider interaction (mouse release, a click in the channel, the release of an
//   arrow, Page or Home/End key however long it was held, a wheel step, a value set by assistive
//   technology): the scroll handler with kScrollEndTrack;
// - Enter: a click on the focused push button, or onCommand(1) when the focus is on no push
//   button; Escape: onCommand(2); as the Win32 dialog manager reports them;
// - the mouse wheel acts on a slider or drop-down list only while it has the keyboard focus;
// - the close box: the logic's onClose;
// - a menu item chosen: onCommand(id, kClicked), as a button;
// - a row chosen by the user in a table: onCommand(id, kSelChange).
// Changes the program makes itself (setChecked, setSliderPos, ...) never count as user events.
//
// Check boxes toggle themselves (they are automatic); "Track on"/"Track off" and the radio
// buttons do not: their checked state is only what the logic sets. A Toggle through the
// accessibility interface reaches the logic exactly like a click.

#include <QDialog>
#include <QPointer>
#include <QRect>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/ControlModel.h"
#include "ui/Layout.h"

class QAction;
class QWidget;
class QFont;
class QLabel;
class QKeyEvent;

namespace vornic::ui::qt {

// Dialog units to pixels for one font.
struct DialogUnits {
    int baseX = 6;   // average character width, pixels
    int baseY = 13;  // character height, pixels
    [[nodiscard]] int x(int units) const { return (units * baseX + 2) / 4; }
    [[nodiscard]] int y(int units) const { return (units * baseY + 4) / 8; }
    [[nodiscard]] static DialogUnits forFont(const QFont& font);
};

// The 16 x 16 (at scale 1) triangle of an arrow button, image::kArrow* ids.
[[nodiscard]] QIcon arrowIcon(int imageId);

class QtDialog;

// The window itself: routes the close box, Enter and Escape to the logic.
class DialogWindow final : public QDialog {
  public:
    explicit DialogWindow(QtDialog& owner, QWidget* parent);

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  public:
    void reject() override {}  // only the logic ends the dialog

  private:
    QtDialog& owner_;
    bool painted_ = false;
};

class QtDialog final : public ControlModel {
  public:
    using HScrollHandler = std::function<void(int scrollCode, ControlId slider)>;
    using ShownHook = std::function<void(QtDialog&)>;

    // `parent`: the owner window, or nullptr for the main dialog.
    QtDialog(const DialogLayout& layout, DialogLogic& logic, QWidget* parent);
    ~QtDialog() override;
    QtDialog(const QtDialog&) = delete;
    QtDialog& operator=(const QtDialog&) = delete;

    // Slider events go here (the main dialog's owner sets it to DlgConfig::onHScroll).
    void setHScrollHandler(HScrollHandler handler) { hScroll_ = std::move(handler); }
    // The drop-down list `id` shows these rows, in this order, instead of the logic's items: a
    // row stands for the logic's item `item` (0-based) and shows its own label; items without a
    // row are left out. selection() and setSelection() still speak of the logic's items. May be
    // called again while the dialog runs: the list is rebuilt and the selected item stays
    // selected. (The port list: the logic numbers ports, the user sees the devices behind them.)
    struct ItemRow {
        int item = 0;
        std::string label;
        std::string toolTip;
    };
    void setItemRows(ControlId id, std::vector<ItemRow> rows);
    // Called just before the drop-down list `id` opens, while the items may still change.
    void setDropDownHook(ControlId id, std::function<void()> hook);
    // Called when the window becomes the active window again.
    void setActivatedHook(std::function<void()> hook) { activated_ = std::move(hook); }
    // Told of every user command just before the logic hears it (the front end follows Connect).
    void setCommandHook(std::function<void(ControlId, int)> hook) {
        commandHook_ = std::move(hook);
    }
    // Opens web addresses (the desktop's browser unless set); dialogs opened from this one use it
    // too.
    void setUrlOpener(std::function<void(const std::string&)> opener) {
        urlOpener_ = std::move(opener);
    }
    // Answers chooseFile instead of the toolkit's file dialog (tests); dialogs opened from this
    // one use it too.
    using FileChooser = std::function<std::string(FileChoice, const std::string&)>;
    void setFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }
    // Called once the window is shown and the modal loop runs.
    void setShownHook(ShownHook hook) { shown_ = std::move(hook); }
    // Called after onInit, before the window is shown.
    void setInitHook(ShownHook hook) { init_ = std::move(hook); }
    // Called once, after the window's first paint has put it on the screen whole.
    void setPaintedHook(ShownHook hook) { painted_ = std::move(hook); }

    // Runs the dialog modally: onInit, show, events until endDialog. Returns the end result.
    int exec();

    [[nodiscard]] DialogWindow& window() { return *window_; }
    [[nodiscard]] QWidget* widget(ControlId id) const;
    // The menu item `id`, or nullptr.
    [[nodiscard]] QAction* action(ControlId id) const;
    [[nodiscard]] const DialogLayout& layout() const { return layout_; }
    [[nodiscard]] const DialogUnits& units() const { return units_; }
    [[nodiscard]] bool ended() const { return ended_; }
    // The secondary dialog running on top of this one, or nullptr.
    [[nodiscard]] QtDialog* modalChild() const { return child_; }

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
    friend class DialogWindow;

    void build();
    int buildMenus();  // returns the menu bar's height
    void fitTexts();
    // Places the controls for the rows that hidden controls give back.
    void arrange();
    void alignWithField(const ControlLayout& label, QLabel& widget);
    QWidget* makeWidget(const ControlLayout& c);
    void command(ControlId id, int notification);
    void endTrack(ControlId id);
    void queueEndTrack(ControlId id);
    void closeRequested();
    void fieldLeft(QWidget* field);
    void sliderKeyDown(QWidget* widget, const QKeyEvent& key);
    void sliderKeyUp(QWidget* widget);
    void showRows(ControlId id);

    const DialogLayout& layout_;
    DialogLogic& logic_;
    DialogUnits units_;
    QPointer<DialogWindow> window_;
    std::map<ControlId, QWidget*> widgets_;
    std::map<ControlId, QRect> built_;  // where arrange() starts from
    std::map<ControlId, QAction*> actions_;
    std::map<ControlId, std::vector<std::string>> headings_;
    std::map<QWidget*, ControlId> ids_;
    std::map<ControlId, std::vector<ItemRow>> rows_;
    std::map<ControlId, int> itemCounts_;
    std::map<ControlId, bool> endTrackQueued_;
    std::map<ControlId, bool> keysDown_;  // a slider's movement key is held
    HScrollHandler hScroll_;
    ShownHook shown_;
    ShownHook init_;
    ShownHook painted_;
    std::function<void()> activated_;
    std::function<void(ControlId, int)> commandHook_;
    std::function<void(const std::string&)> urlOpener_;
    FileChooser fileChooser_;
    QtDialog* child_ = nullptr;
    bool programmatic_ = false;  // the logic is changing a control: no user events
    bool ended_ = false;
    int result_ = 0;
};

}  // namespace vornic::ui::qt
