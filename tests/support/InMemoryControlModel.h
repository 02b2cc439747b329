#pragma once
// InMemoryControlModel: a ControlModel with no window system behind it, for tests.
//
// It keeps the state of every control by id and logs each call the dialog logic makes on it, so
// a test can assert what was shown or that nothing changed. It also plays the user: click,
// typeText/leaveField, selectItem, releaseSlider and close feed events to the attached dialog
// logic the way a toolkit would. User actions change state but are not logged, and like a real
// user's they do nothing on a disabled control or on one the dialog does not have.
//
// A model made for a dialog id that has a layout (ui/Layout.h) knows that dialog's controls:
// texts start as the layout gives them, a click on an automatic check box toggles it before the
// logic hears of it, and calls on ids the dialog does not have change nothing (like the window
// system, which ignores them), though they are still logged. A model made without a dialog id
// accepts any id.
//
// runModal(dialog) builds a child model for the dialog, calls onInit, then runs the next script
// queued with scriptNextModal (scripts are shared with every child, so nested dialogs take theirs
// from the same queue) and returns the result given to endDialog, or 0 if the script left the
// dialog open. Once a dialog has ended, further user actions on it do nothing.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/ControlModel.h"

namespace vornic::ui {

struct DialogLayout;

// One call the logic made on the model.
enum class CallKind {
    kSetText,
    kSetUnsigned,
    kSetSigned,
    kSetChecked,
    kSetSliderRange,
    kSetSliderPos,
    kAddItem,
    kSetSelection,
    kSetEnabled,
    kSetImage,
    kRunModal,  // value = the dialog id, value2 = its result
    kEndDialog,
    kOpenUrl,
    kSetColumns,  // text = the headings joined by '|'
    kSetRows,     // value = the number of rows
    kSetVisible,
    kChooseFile,  // value = the FileChoice, text = the suggested name
};

struct ModelCall {
    CallKind kind = CallKind::kSetText;
    ControlId id = 0;    // 0 for calls that concern no control
    int64_t value = 0;   // number, checked/enabled flag, range minimum, image id, dialog result
    int64_t value2 = 0;  // range maximum, modal result
    std::string text;    // text, item, url
    bool operator==(const ModelCall&) const = default;
};

class InMemoryControlModel final : public ControlModel {
  public:
    using ModalScript = std::function<void(InMemoryControlModel& child)>;
    using HScrollHandler = std::function<void(int scrollCode, ControlId slider)>;

    // A model that accepts any control id.
    InMemoryControlModel();
    // A model for dialog `dialogId`: its controls come from the layout when there is one.
    explicit InMemoryControlModel(int dialogId);
    ~InMemoryControlModel() override;

    InMemoryControlModel(const InMemoryControlModel&) = delete;
    InMemoryControlModel& operator=(const InMemoryControlModel&) = delete;

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
    // Answers with the next queued answerFileDialog, "" (cancelled) when none is queued.
    [[nodiscard]] std::string chooseFile(FileChoice choice,
                                         const std::string& suggestedName) override;

    // --- Driving the dialog logic (the user's side) ---

    // The logic that receives the events below; attach() also runs its onInit.
    void setLogic(DialogLogic* logic) { logic_ = logic; }
    void attach(DialogLogic& logic);
    [[nodiscard]] DialogLogic* logic() const { return logic_; }

    // Slider events go here (the owner of the logic sets it, e.g. to DlgConfig::onHScroll).
    void setHScrollHandler(HScrollHandler handler) { hScroll_ = std::move(handler); }

    // Each returns what the logic's onCommand returned (false when nothing received it).
    bool click(ControlId id);
    void typeText(ControlId id, const std::string& text);
    bool leaveField(ControlId id);
    bool enterText(ControlId id, const std::string& text);  // typeText + leaveField
    bool selectItem(ControlId id, int index);               // sets the selection, kSelChange
    bool command(ControlId id, int notification);           // any raw notification
    // Moves the slider (clamped to its range) and reports the end of the interaction.
    void releaseSlider(ControlId id, int position);
    void scroll(ControlId id, int scrollCode);  // a raw slider event, position unchanged
    void close();                               // the close box
    // The keyboard's Enter and Escape: the window system reports them as clicks on ids 1 and 2,
    // whether or not the dialog has such a button; Enter with the focus on a push button
    // (`focused`) is a click on that button.
    bool pressEnter(ControlId focused = 0);
    bool pressEscape();

    // What the user picks in the next file dialog ("" cancels it).
    void answerFileDialog(std::string path) { fileAnswers_.push_back(std::move(path)); }

    // Queues what the user does in the next modal dialog that opens.
    void scriptNextModal(ModalScript script);
    [[nodiscard]] size_t pendingScripts() const { return scripts_->size(); }

    // --- Inspection ---
    [[nodiscard]] int dialogId() const { return dialogId_; }
    [[nodiscard]] bool hasControl(ControlId id) const;
    [[nodiscard]] bool ended() const { return ended_; }
    [[nodiscard]] int endResult() const { return endResult_; }
    [[nodiscard]] std::vector<std::string> items(ControlId id) const;
    [[nodiscard]] std::vector<std::string> columns(ControlId id) const;
    [[nodiscard]] std::vector<std::vector<std::string>> rows(ControlId id) const;
    [[nodiscard]] bool isVisible(ControlId id) const;
    [[nodiscard]] int sliderMin(ControlId id) const;
    [[nodiscard]] int sliderMax(ControlId id) const;
    [[nodiscard]] int image(ControlId id) const;  // 0 when none
    [[nodiscard]] const std::vector<std::string>& openedUrls() const { return urls_; }

    // The child model of the last modal dialog run from this one, as the dialog left it.
    [[nodiscard]] const InMemoryControlModel* lastModal() const { return lastModal_.get(); }

    [[nodiscard]] const std::vector<ModelCall>& calls() const { return calls_; }
    [[nodiscard]] size_t countCalls(CallKind kind) const;
    [[nodiscard]] size_t countCalls(CallKind kind, ControlId id) const;
    void clearCalls() { calls_.clear(); }

  private:
    struct Control {
        std::string text;
        bool checked = false;
        bool enabled = true;
        bool autoToggle = false;  // an automatic check box
        int sliderMin = 0;
        int sliderMax = 100;
        int sliderPos = 0;
        std::vector<std::string> items;
        std::vector<std::string> columns;
        std::vector<std::vector<std::string>> rows;
        bool visible = true;
        int selection = -1;
        int image = 0;
    };

    InMemoryControlModel(int dialogId, std::shared_ptr<std::deque<ModalScript>> scripts);
    void loadLayout();
    Control* find(ControlId id);
    const Control* find(ControlId id) const;
    void log(CallKind kind, ControlId id, int64_t value = 0, int64_t value2 = 0,
             std::string text = {});
    [[nodiscard]] bool live() const { return logic_ != nullptr && !ended_; }
    // Whether the user can act on the control: there, enabled and shown.
    [[nodiscard]] bool usable(ControlId id) const;

    int dialogId_ = 0;
    const DialogLayout* layout_ = nullptr;  // null: any id is accepted
    std::map<ControlId, Control> controls_;
    DialogLogic* logic_ = nullptr;
    HScrollHandler hScroll_;
    bool ended_ = false;
    int endResult_ = 0;
    std::vector<std::string> urls_;
    std::deque<std::string> fileAnswers_;
    std::vector<ModelCall> calls_;
    std::shared_ptr<std::deque<ModalScript>> scripts_;
    std::unique_ptr<InMemoryControlModel> lastModal_;
};

}  // namespace vornic::ui
