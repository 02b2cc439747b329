#include "support/InMemoryControlModel.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ui/MainDialogIds.h"
#include "ui/SecondaryDialogs.h"

namespace vornic::ui {
namespace {

// A dialog that records every event it receives and ends on ids 1 (result 7) and 2 (result 0).
class ProbeDialog final : public DialogLogic {
  public:
    explicit ProbeDialog(int id = 0) : id_(id) {}
    [[nodiscard]] int dialogId() const override { return id_; }
    void onInit(ControlModel& model) override {
        ++inits;
        model.setText(50, "initialised");
    }
    bool onCommand(ControlModel& model, ControlId id, int notification) override {
        events.emplace_back(id, notification);
        checkedWhenClicked = model.isChecked(id);
        if (id == 1) {
            model.endDialog(7);
        } else if (id == 2) {
            model.endDialog(0);
        }
        return id != 99;
    }

    int inits = 0;
    bool checkedWhenClicked = false;
    std::vector<std::pair<ControlId, int>> events;

  private:
    int id_;
};

IntRead readU(const std::string& text) {
    InMemoryControlModel m;
    m.typeText(10, text);
    return m.readUnsigned(10);
}

IntRead readS(const std::string& text) {
    InMemoryControlModel m;
    m.typeText(10, text);
    return m.readSigned(10);
}

// --- Reading fields as numbers ---

TEST(InMemoryControlModelNumbers, UnsignedAcceptsOnlyWholeNumbersThatFit) {
    struct Case {
        const char* text;
        bool ok;
        uint32_t value;
    };
    const Case cases[] = {
        {"0", true, 0},           {"123", true, 123},
        {"  42  ", true, 42},     {"\t7", true, 7},
        {"007", true, 7},         {"4294967295", true, 4294967295u},
        {"4294967296", false, 0}, {"99999999999999999999999", false, 0},
        {"", false, 0},           {"   ", false, 0},
        {"abc", false, 0},        {"12a", false, 0},
        {"1 2", false, 0},        {"-5", false, 0},
        {"+5", false, 0},         {"1.5", false, 0},
    };
    for (const Case& c : cases) {
        const IntRead r = readU(c.text);
        EXPECT_EQ(r.ok, c.ok) << '"' << c.text << '"';
        EXPECT_EQ(r.value, c.value) << '"' << c.text << '"';
    }
}

TEST(InMemoryControlModelNumbers, SignedTakesAMinusAndTheInt32Range) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    };
    const Case cases[] = {
        {"-5", true, -5},
        {" -20 ", true, -20},
        {"-0", true, 0},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"-", false, 0},
        {"--1", false, 0},
        {"- 1", false, 0},
        {"x", false, 0},
    };
    for (const Case& c : cases) {
        const IntRead r = readS(c.text);
        EXPECT_EQ(r.ok, c.ok) << '"' << c.text << '"';
        EXPECT_EQ(static_cast<int32_t>(r.value), c.value) << '"' << c.text << '"';
    }
}

TEST(InMemoryControlModelNumbers, WrittenNumbersReadBack) {
    InMemoryControlModel m;
    m.setUnsigned(1, 4294967295u);
    m.setSigned(2, -2147483647 - 1);
    m.setSigned(3, 17);
    EXPECT_EQ(m.text(1), "4294967295");
    EXPECT_EQ(m.text(2), "-2147483648");
    EXPECT_EQ(m.text(3), "17");
    EXPECT_EQ(m.readUnsigned(1).value, 4294967295u);
    EXPECT_EQ(static_cast<int32_t>(m.readSigned(2).value), -2147483647 - 1);
    EXPECT_FALSE(m.readUnsigned(2).ok);
}

// --- Control state ---

TEST(InMemoryControlModelState, SlidersClampToTheirRange) {
    InMemoryControlModel m;
    m.setSliderRange(5, -20, 20);
    m.setSliderPos(5, 50);
    EXPECT_EQ(m.sliderPos(5), 20);
    m.setSliderPos(5, -21);
    EXPECT_EQ(m.sliderPos(5), -20);
    // A narrower range pulls the position in; reversed bounds are taken in order.
    m.setSliderRange(5, 3, 0);
    EXPECT_EQ(m.sliderMin(5), 0);
    EXPECT_EQ(m.sliderMax(5), 3);
    EXPECT_EQ(m.sliderPos(5), 0);
    m.releaseSlider(5, 99);
    EXPECT_EQ(m.sliderPos(5), 3);
}

TEST(InMemoryControlModelState, ListsKeepItemsAndAValidSelection) {
    InMemoryControlModel m;
    EXPECT_EQ(m.selection(4), -1);
    m.addItem(4, "COM1");
    m.addItem(4, "COM2");
    m.setSelection(4, 1);
    EXPECT_EQ(m.selection(4), 1);
    m.setSelection(4, 2);
    EXPECT_EQ(m.selection(4), -1);
    m.setSelection(4, -5);
    EXPECT_EQ(m.selection(4), -1);
    EXPECT_EQ(m.items(4), (std::vector<std::string>{"COM1", "COM2"}));
}

TEST(InMemoryControlModelState, UnboundModelAcceptsAnyId) {
    InMemoryControlModel m;
    EXPECT_TRUE(m.hasControl(12345));
    EXPECT_TRUE(m.isEnabled(12345));
    m.setEnabled(12345, false);
    EXPECT_FALSE(m.isEnabled(12345));
    m.setChecked(8, true);
    EXPECT_TRUE(m.isChecked(8));
    m.setImage(9, image::kArrowUp);
    EXPECT_EQ(m.image(9), image::kArrowUp);
}

TEST(InMemoryControlModelState, DialogModelKnowsOnlyItsControls) {
    InMemoryControlModel m(kGearRatioDialogId);
    EXPECT_EQ(m.text(gear_dlg::kRaLabel), "Gear ratio for RA axis:");
    EXPECT_TRUE(m.hasControl(gear_dlg::kRa));
    EXPECT_FALSE(m.hasControl(555));

    // Calls on a missing control are logged but change nothing, like the window system.
    m.setText(555, "x");
    m.setEnabled(555, true);
    EXPECT_EQ(m.text(555), "");
    EXPECT_FALSE(m.isEnabled(555));
    EXPECT_FALSE(m.readUnsigned(555).ok);
    EXPECT_EQ(m.countCalls(CallKind::kSetText, 555), 1u);
}

TEST(InMemoryControlModelState, LogRecordsTheLogicsCallsNotTheUsers) {
    InMemoryControlModel m;
    m.setText(1, "a");
    m.setSliderRange(2, 0, 15);
    m.setEnabled(3, false);
    m.openUrl("https://example.org");
    m.typeText(1, "typed");
    m.releaseSlider(2, 4);
    ASSERT_EQ(m.calls().size(), 4u);
    EXPECT_EQ(m.calls()[0], (ModelCall{CallKind::kSetText, 1, 0, 0, "a"}));
    EXPECT_EQ(m.calls()[1], (ModelCall{CallKind::kSetSliderRange, 2, 0, 15, ""}));
    EXPECT_EQ(m.calls()[2], (ModelCall{CallKind::kSetEnabled, 3, 0, 0, ""}));
    EXPECT_EQ(m.calls()[3], (ModelCall{CallKind::kOpenUrl, 0, 0, 0, "https://example.org"}));
    EXPECT_EQ(m.openedUrls(), std::vector<std::string>{"https://example.org"});
    m.clearCalls();
    EXPECT_TRUE(m.calls().empty());
}

// --- Playing the user ---

TEST(InMemoryControlModelUser, EventsReachTheLogicWithTheirNotification) {
    InMemoryControlModel m;
    ProbeDialog dialog;
    m.attach(dialog);
    EXPECT_EQ(dialog.inits, 1);
    EXPECT_EQ(m.text(50), "initialised");

    m.addItem(7, "a");
    m.addItem(7, "b");
    EXPECT_TRUE(m.click(3));
    EXPECT_TRUE(m.enterText(4, "12"));
    EXPECT_TRUE(m.selectItem(7, 1));
    EXPECT_FALSE(m.selectItem(7, 2)) << "no such item: nothing happens";
    EXPECT_FALSE(m.click(99)) << "the logic's answer is passed back";
    const std::vector<std::pair<ControlId, int>> expected = {
        {3, notify::kClicked}, {4, notify::kKillFocus}, {7, notify::kSelChange}, {99, 0}};
    EXPECT_EQ(dialog.events, expected);
    EXPECT_EQ(m.text(4), "12");
    EXPECT_EQ(m.selection(7), 1);
}

TEST(InMemoryControlModelUser, DisabledControlsIgnoreTheUser) {
    InMemoryControlModel m;
    ProbeDialog dialog;
    m.attach(dialog);
    m.setEnabled(3, false);
    m.setSliderRange(6, 0, 10);
    m.setEnabled(6, false);
    int scrolls = 0;
    m.setHScrollHandler([&](int, ControlId) { ++scrolls; });
    EXPECT_FALSE(m.click(3));
    m.typeText(3, "x");
    m.releaseSlider(6, 5);
    EXPECT_TRUE(dialog.events.empty());
    EXPECT_EQ(m.text(3), "");
    EXPECT_EQ(m.sliderPos(6), 0);
    EXPECT_EQ(scrolls, 0);
}

TEST(InMemoryControlModelUser, SliderEventsGoToTheHandler) {
    InMemoryControlModel m;
    m.setSliderRange(260, 0, 15);
    std::vector<std::pair<int, ControlId>> seen;
    std::vector<int> positionSeen;
    m.setHScrollHandler([&](int code, ControlId id) {
        seen.emplace_back(code, id);
        positionSeen.push_back(m.sliderPos(id));
    });
    m.releaseSlider(260, 9);
    m.scroll(260, kScrollThumbTrack);
    const std::vector<std::pair<int, ControlId>> expected = {{kScrollEndTrack, 260},
                                                             {kScrollThumbTrack, 260}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(positionSeen, (std::vector<int>{9, 9}));
}

TEST(InMemoryControlModelUser, AutomaticCheckBoxesToggleBeforeTheClickIsReported) {
    InMemoryControlModel m(kMainDialogId);
    ProbeDialog dialog(kMainDialogId);
    m.attach(dialog);
    m.click(kIdBaud115200);
    EXPECT_TRUE(dialog.checkedWhenClicked);
    EXPECT_TRUE(m.isChecked(kIdBaud115200));
    m.click(kIdBaud115200);
    EXPECT_FALSE(m.isChecked(kIdBaud115200));
    // The track buttons are set by the program only.
    m.click(kIdTrackOn);
    EXPECT_FALSE(m.isChecked(kIdTrackOn));
}

TEST(InMemoryControlModelUser, EnterAndEscapeReachTheDialogWithoutButtons) {
    InMemoryControlModel m(kAboutDialogId);  // has a button 2 but no button 1
    ProbeDialog dialog(kAboutDialogId);
    m.attach(dialog);
    EXPECT_FALSE(m.click(1)) << "there is no button 1 to click";
    EXPECT_TRUE(m.pressEnter());
    EXPECT_EQ(m.endResult(), 7);
    EXPECT_FALSE(m.pressEscape()) << "the dialog has ended";
    const std::vector<std::pair<ControlId, int>> expected = {{1, notify::kClicked}};
    EXPECT_EQ(dialog.events, expected);
}

TEST(InMemoryControlModelUser, CloseBoxEndsTheDialogAndNothingReachesItAfterwards) {
    InMemoryControlModel m;
    ProbeDialog dialog;
    m.attach(dialog);
    m.close();
    EXPECT_TRUE(m.ended());
    EXPECT_EQ(m.endResult(), 0);
    EXPECT_FALSE(m.click(1));
    EXPECT_TRUE(dialog.events.empty());
    EXPECT_EQ(m.endResult(), 0);
}

// --- Modal dialogs ---

TEST(InMemoryControlModelModal, ScriptDrivesTheDialogAndItsResultIsReturned) {
    InMemoryControlModel owner;
    ProbeDialog dialog(kGearRatioDialogId);
    owner.scriptNextModal([](InMemoryControlModel& child) {
        EXPECT_EQ(child.dialogId(), kGearRatioDialogId);
        EXPECT_EQ(child.text(50), "") << "50 is no control of this dialog";
        child.typeText(gear_dlg::kRa, "abc");
        child.click(1);
        child.click(2);  // too late: the dialog has ended
    });
    EXPECT_EQ(owner.runModal(dialog), 7);
    EXPECT_EQ(dialog.inits, 1);
    EXPECT_EQ(dialog.events.size(), 1u);
    ASSERT_NE(owner.lastModal(), nullptr);
    EXPECT_EQ(owner.lastModal()->text(gear_dlg::kRa), "abc");
    EXPECT_EQ(owner.pendingScripts(), 0u);
    ASSERT_EQ(owner.countCalls(CallKind::kRunModal), 1u);
    EXPECT_EQ(owner.calls().back(), (ModelCall{CallKind::kRunModal, 0, kGearRatioDialogId, 7, ""}));
}

TEST(InMemoryControlModelModal, DialogLeftOpenOrUnscriptedReturnsZero) {
    InMemoryControlModel owner;
    ProbeDialog first;
    ProbeDialog second;
    owner.scriptNextModal([](InMemoryControlModel& child) { child.click(5); });
    EXPECT_EQ(owner.runModal(first), 0);
    EXPECT_EQ(first.events.size(), 1u);
    EXPECT_EQ(owner.runModal(second), 0);
    EXPECT_EQ(second.inits, 1);
    EXPECT_TRUE(second.events.empty());
}

TEST(InMemoryControlModelModal, ScriptsAreTakenInOrderAlsoByNestedDialogs) {
    InMemoryControlModel owner;
    ProbeDialog inner;
    std::vector<int> order;
    int innerResult = -1;
    owner.scriptNextModal([&](InMemoryControlModel& child) {
        order.push_back(1);
        innerResult = child.runModal(inner);
        child.click(2);
    });
    owner.scriptNextModal([&](InMemoryControlModel& child) {
        order.push_back(2);
        child.click(1);
    });
    ProbeDialog outer;
    EXPECT_EQ(owner.runModal(outer), 0);
    EXPECT_EQ(innerResult, 7);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace vornic::ui
