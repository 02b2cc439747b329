#include "support/InMemoryControlModel.h"

#include <algorithm>
#include <utility>

#include "ui/FieldNumber.h"
#include "ui/Layout.h"

namespace vornic::ui {

InMemoryControlModel::InMemoryControlModel()
    : InMemoryControlModel(0, std::make_shared<std::deque<ModalScript>>()) {}

InMemoryControlModel::InMemoryControlModel(int dialogId)
    : InMemoryControlModel(dialogId, std::make_shared<std::deque<ModalScript>>()) {}

InMemoryControlModel::InMemoryControlModel(int dialogId,
                                           std::shared_ptr<std::deque<ModalScript>> scripts)
    : dialogId_(dialogId), scripts_(std::move(scripts)) {
    loadLayout();
}

InMemoryControlModel::~InMemoryControlModel() = default;

void InMemoryControlModel::loadLayout() {
    layout_ = dialogId_ != 0 ? findDialogLayout(dialogId_) : nullptr;
    if (layout_ == nullptr) {
        return;
    }
    for (const ControlLayout& c : layout_->controls) {
        Control& control = controls_[c.id];
        control.text = c.text;
        control.autoToggle = c.kind == ControlKind::kCheckBox && (c.style & style::kAuto) != 0;
    }
    // Menu items are commands of the dialog as well.
    for (const MenuLayout& menu : dialogMenus(dialogId_)) {
        for (const MenuItemLayout& item : menu.items) {
            controls_[item.id].text = item.text;
        }
    }
}

bool InMemoryControlModel::usable(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr && c->enabled && c->visible;
}

InMemoryControlModel::Control* InMemoryControlModel::find(ControlId id) {
    if (layout_ == nullptr) {
        return &controls_[id];
    }
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

const InMemoryControlModel::Control* InMemoryControlModel::find(ControlId id) const {
    auto it = controls_.find(id);
    if (it != controls_.end()) {
        return &it->second;
    }
    // Without a layout every id exists and is in its initial state until first touched.
    static const Control kFresh;
    return layout_ == nullptr ? &kFresh : nullptr;
}

bool InMemoryControlModel::hasControl(ControlId id) const {
    return find(id) != nullptr;
}

void InMemoryControlModel::log(CallKind kind, ControlId id, int64_t value, int64_t value2,
                               std::string text) {
    calls_.push_back(ModelCall{kind, id, value, value2, std::move(text)});
}

// --- ControlModel ---

void InMemoryControlModel::setText(ControlId id, const std::string& text) {
    log(CallKind::kSetText, id, 0, 0, text);
    if (Control* c = find(id)) {
        c->text = text;
    }
}

std::string InMemoryControlModel::text(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr ? c->text : std::string();
}

void InMemoryControlModel::setUnsigned(ControlId id, uint32_t value) {
    log(CallKind::kSetUnsigned, id, value);
    if (Control* c = find(id)) {
        c->text = std::to_string(value);
    }
}

void InMemoryControlModel::setSigned(ControlId id, int32_t value) {
    log(CallKind::kSetSigned, id, value);
    if (Control* c = find(id)) {
        c->text = std::to_string(value);
    }
}

IntRead InMemoryControlModel::readUnsigned(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr ? readFieldNumber(c->text, false) : IntRead{};
}

IntRead InMemoryControlModel::readSigned(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr ? readFieldNumber(c->text, true) : IntRead{};
}

void InMemoryControlModel::setChecked(ControlId id, bool checked) {
    log(CallKind::kSetChecked, id, checked ? 1 : 0);
    if (Control* c = find(id)) {
        c->checked = checked;
    }
}

bool InMemoryControlModel::isChecked(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr && c->checked;
}

void InMemoryControlModel::setSliderRange(ControlId id, int minimum, int maximum) {
    log(CallKind::kSetSliderRange, id, minimum, maximum);
    if (Control* c = find(id)) {
        c->sliderMin = std::min(minimum, maximum);
        c->sliderMax = std::max(minimum, maximum);
        c->sliderPos = std::clamp(c->sliderPos, c->sliderMin, c->sliderMax);
    }
}

void InMemoryControlModel::setSliderPos(ControlId id, int position) {
    log(CallKind::kSetSliderPos, id, position);
    if (Control* c = find(id)) {
        c->sliderPos = std::clamp(position, c->sliderMin, c->sliderMax);
    }
}

int InMemoryControlModel::sliderPos(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr ? c->sliderPos : 0;
}

int InMemoryControlModel::sliderMin(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr ? c->sliderMin : 0;
}

int InMemoryControlModel::sliderMax(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr ? c->sliderMax : 0;
}

void InMemoryControlModel::addItem(ControlId id, const std::string& text) {
    log(CallKind::kAddItem, id, 0, 0, text);
    if (Control* c = find(id)) {
        c->items.push_back(text);
    }
}

void InMemoryControlModel::setSelection(ControlId id, int index) {
    log(CallKind::kSetSelection, id, index);
    if (Control* c = find(id)) {
        // An index outside the list clears the selection, as a real list does.
        const bool valid = index >= 0 && static_cast<size_t>(index) < c->items.size();
        c->selection = valid ? index : -1;
    }
}

int InMemoryControlModel::selection(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr ? c->selection : -1;
}

std::vector<std::string> InMemoryControlModel::items(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr ? c->items : std::vector<std::string>();
}

void InMemoryControlModel::setEnabled(ControlId id, bool enabled) {
    log(CallKind::kSetEnabled, id, enabled ? 1 : 0);
    if (Control* c = find(id)) {
        c->enabled = enabled;
    }
}

bool InMemoryControlModel::isEnabled(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr && c->enabled;
}

void InMemoryControlModel::setImage(ControlId id, int imageId) {
    log(CallKind::kSetImage, id, imageId);
    if (Control* c = find(id)) {
        c->image = imageId;
    }
}

int InMemoryControlModel::image(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr ? c->image : 0;
}

int InMemoryControlModel::runModal(DialogLogic& dialog) {
    std::unique_ptr<InMemoryControlModel> child(
        new InMemoryControlModel(dialog.dialogId(), scripts_));
    child->attach(dialog);
    if (!scripts_->empty()) {
        ModalScript script = std::move(scripts_->front());
        scripts_->pop_front();
        if (script) {
            script(*child);
        }
    }
    const int result = child->ended_ ? child->endResult_ : 0;
    // The dialog object belongs to the caller and is gone once its show function returns.
    child->logic_ = nullptr;
    child->hScroll_ = nullptr;
    lastModal_ = std::move(child);
    log(CallKind::kRunModal, 0, dialog.dialogId(), result);
    return result;
}

void InMemoryControlModel::endDialog(int result) {
    log(CallKind::kEndDialog, 0, result);
    if (!ended_) {
        ended_ = true;
        endResult_ = result;
    }
}

void InMemoryControlModel::openUrl(const std::string& url) {
    log(CallKind::kOpenUrl, 0, 0, 0, url);
    urls_.push_back(url);
}

void InMemoryControlModel::setColumns(ControlId id, const std::vector<std::string>& headings) {
    std::string joined;
    for (const std::string& h : headings) {
        joined += (joined.empty() ? "" : "|") + h;
    }
    log(CallKind::kSetColumns, id, 0, 0, joined);
    if (Control* c = find(id)) {
        c->columns = headings;
    }
}

void InMemoryControlModel::setRows(ControlId id,
                                   const std::vector<std::vector<std::string>>& rows) {
    log(CallKind::kSetRows, id, static_cast<int64_t>(rows.size()));
    if (Control* c = find(id)) {
        c->rows = rows;
        c->selection = -1;
    }
}

void InMemoryControlModel::setVisible(ControlId id, bool visible) {
    log(CallKind::kSetVisible, id, visible ? 1 : 0);
    if (Control* c = find(id)) {
        c->visible = visible;
    }
}

std::string InMemoryControlModel::chooseFile(FileChoice choice, const std::string& suggestedName) {
    log(CallKind::kChooseFile, 0, static_cast<int64_t>(choice), 0, suggestedName);
    if (fileAnswers_.empty()) {
        return {};
    }
    std::string path = std::move(fileAnswers_.front());
    fileAnswers_.pop_front();
    return path;
}

std::vector<std::string> InMemoryControlModel::columns(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr ? c->columns : std::vector<std::string>{};
}

std::vector<std::vector<std::string>> InMemoryControlModel::rows(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr ? c->rows : std::vector<std::vector<std::string>>{};
}

bool InMemoryControlModel::isVisible(ControlId id) const {
    const Control* c = find(id);
    return c != nullptr && c->visible;
}

// --- The user's side ---

void InMemoryControlModel::attach(DialogLogic& logic) {
    logic_ = &logic;
    logic.onInit(*this);
}

bool InMemoryControlModel::command(ControlId id, int notification) {
    if (!live() || !usable(id)) {
        return false;
    }
    return logic_->onCommand(*this, id, notification);
}

bool InMemoryControlModel::click(ControlId id) {
    if (!live() || !usable(id)) {
        return false;
    }
    Control* c = find(id);
    if (c != nullptr && c->autoToggle) {
        c->checked = !c->checked;
    }
    return logic_->onCommand(*this, id, notify::kClicked);
}

void InMemoryControlModel::typeText(ControlId id, const std::string& text) {
    if (ended_ || !isEnabled(id)) {
        return;
    }
    if (Control* c = find(id)) {
        c->text = text;
    }
}

bool InMemoryControlModel::leaveField(ControlId id) {
    return command(id, notify::kKillFocus);
}

bool InMemoryControlModel::enterText(ControlId id, const std::string& text) {
    typeText(id, text);
    return leaveField(id);
}

bool InMemoryControlModel::selectItem(ControlId id, int index) {
    if (!live() || !usable(id)) {
        return false;
    }
    Control* c = find(id);
    if (c == nullptr || index < 0 ||
        static_cast<size_t>(index) >= std::max(c->items.size(), c->rows.size())) {
        return false;
    }
    c->selection = index;
    return logic_->onCommand(*this, id, notify::kSelChange);
}

void InMemoryControlModel::releaseSlider(ControlId id, int position) {
    if (ended_ || !isEnabled(id)) {
        return;
    }
    if (Control* c = find(id)) {
        c->sliderPos = std::clamp(position, c->sliderMin, c->sliderMax);
    }
    if (hScroll_) {
        hScroll_(kScrollEndTrack, id);
    }
}

void InMemoryControlModel::scroll(ControlId id, int scrollCode) {
    if (ended_ || !isEnabled(id)) {
        return;
    }
    if (hScroll_) {
        hScroll_(scrollCode, id);
    }
}

void InMemoryControlModel::close() {
    if (live()) {
        logic_->onClose(*this);
    }
}

bool InMemoryControlModel::pressEnter(ControlId focused) {
    const ControlId id = layout_ != nullptr ? enterCommand(*layout_, focused) : 1;
    return live() && (id == 1 || isEnabled(id)) && logic_->onCommand(*this, id, notify::kClicked);
}

bool InMemoryControlModel::pressEscape() {
    return live() && logic_->onCommand(*this, 2, notify::kClicked);
}

void InMemoryControlModel::scriptNextModal(ModalScript script) {
    scripts_->push_back(std::move(script));
}

size_t InMemoryControlModel::countCalls(CallKind kind) const {
    return static_cast<size_t>(std::count_if(calls_.begin(), calls_.end(),
                                             [&](const ModelCall& c) { return c.kind == kind; }));
}

size_t InMemoryControlModel::countCalls(CallKind kind, ControlId id) const {
    return static_cast<size_t>(std::count_if(calls_.begin(), calls_.end(), [&](const ModelCall& c) {
        return c.kind == kind && c.id == id;
    }));
}

}  // namespace vornic::ui
