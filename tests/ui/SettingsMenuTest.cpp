// The "Settings" menu, the "Not saved into KZ2" mark and the preview and snapshot dialogs, against
// a fake safety net.

#include "DlgConfigFixture.h"
#include "support/FakeSettingsNet.h"
#include "ui/Layout.h"
#include "ui/SettingsDialogs.h"

namespace vornic::ui::test {
namespace {

using Kind = PreviewDialog::Kind;
namespace pd = preview_dlg;

class SettingsMenuTest : public DlgConfigTest {
  protected:
    void SetUp() override {
        dlg.setSettingsNet(&net);
        DlgConfigTest::SetUp();
        net.setState(true, false);
        net.previewAnswer.ok = true;
        net.previewAnswer.rows = {{"RA max speed", "600", "450"}, {"DE max speed", "900", "800"}};
    }

    // Opens the preview the way `kind` is reached from the menu; `user` plays the dialog.
    void openPreview(Kind kind, const InMemoryControlModel::ModalScript& user) {
        const ControlId item = kind == Kind::kUndo      ? kIdMenuUndo
                               : kind == Kind::kRestore ? kIdMenuRestore
                                                        : kIdMenuCompare;
        if (kind != Kind::kUndo) {
            model.answerFileDialog("/backups/kz2.json");
        }
        model.scriptNextModal(user);
        ASSERT_TRUE(model.click(item));
        ASSERT_NE(model.lastModal(), nullptr);
    }
    const InMemoryControlModel& preview() const { return *model.lastModal(); }
    std::string status() const { return model.text(kIdStatusLine); }

    FakeSettingsNet net;
};

TEST_F(SettingsMenuTest, ItemsNeedAConnectionAndFollowIt) {
    const auto items = dialogMenus(kMainDialogId)[0].items;
    for (bool connected : {false, true, false}) {
        net.setState(connected, false);
        for (const MenuItemLayout& item : items) {
            EXPECT_EQ(model.isEnabled(item.id), connected) << item.text;
        }
    }
    // A stale command from a disabled item opens nothing.
    EXPECT_TRUE(dlg.onCommand(model, kIdMenuUndo, notify::kClicked));
    EXPECT_EQ(model.countCalls(CallKind::kRunModal), 0u);
    EXPECT_TRUE(net.previewSources.empty());

    DlgConfig bare{control, appModel, poster};  // no safety net at all
    InMemoryControlModel window{kMainDialogId};
    window.attach(bare);
    for (const MenuItemLayout& item : items) {
        EXPECT_FALSE(window.isEnabled(item.id)) << item.text;
    }
}

TEST_F(SettingsMenuTest, MarkFollowsNotSaved) {
    for (bool notSaved : {true, false, true}) {
        net.setState(true, notSaved);
        EXPECT_EQ(model.text(kIdNotSavedMark), notSaved ? "Not saved into KZ2" : "");
    }
}

TEST_F(SettingsMenuTest, EachKindShowsItsColumnsAndRestoresOnlyOnRestore) {
    const struct {
        Kind kind;
        const char* otherColumn;
        std::string source;
    } cases[] = {{Kind::kUndo, "At connect", ""},
                 {Kind::kRestore, "File", "/backups/kz2.json"},
                 {Kind::kCompare, "File", "/backups/kz2.json"}};
    for (const auto& c : cases) {
        net.restores.clear();
        openPreview(c.kind, [&](InMemoryControlModel& d) {
            EXPECT_EQ(d.columns(pd::kTable),
                      (std::vector<std::string>{"Setting", "Controller now", c.otherColumn}));
            EXPECT_EQ(d.rows(pd::kTable).size(), 2u);
            EXPECT_EQ(d.text(pd::kMessage),
                      std::string("2 settings differ") +
                          (c.kind == Kind::kCompare ? settings_text::kOnlyCompares
                                                    : settings_text::kSendsOnlyWhatDiffers));
            EXPECT_FALSE(d.isVisible(pd::kWarning));  // no warning, no blank rows for one
            EXPECT_FALSE(d.isVisible(pd::kConfirm));
            EXPECT_TRUE(net.restores.empty());  // the preview only reads
            EXPECT_FALSE(d.pressEnter());       // Enter is no way to restore
            EXPECT_EQ(d.click(pd::kRestore), c.kind != Kind::kCompare);
            d.click(kIdCancel);
        });
        EXPECT_EQ(net.previewSources.back(), c.source);
        EXPECT_EQ(net.restores.size(), c.kind == Kind::kCompare ? 0u : 1u);
        EXPECT_EQ(preview().text(kIdCancel), "Close");
        if (c.kind != Kind::kCompare) {
            EXPECT_EQ(net.restores[0].preview.source, c.source);
            EXPECT_EQ(preview().text(pd::kMessage), "Restored and verified: 1 setting");
            EXPECT_EQ(status(), "Restored and verified: 1 setting");
        }
    }
}

TEST_F(SettingsMenuTest, EveryWayOutBeforeRestoreSendsNothing) {
    const std::function<void(InMemoryControlModel&)> ways[] = {
        [](InMemoryControlModel& d) { d.click(kIdCancel); },
        [](InMemoryControlModel& d) { d.pressEscape(); },
        [](InMemoryControlModel& d) { d.close(); }};
    for (Kind kind : {Kind::kUndo, Kind::kRestore}) {
        for (const auto& leave : ways) {
            openPreview(kind, leave);
            EXPECT_TRUE(preview().ended());
            EXPECT_TRUE(net.restores.empty());
            EXPECT_EQ(status(), settings_text::kNothingSent);
        }
    }
}

TEST_F(SettingsMenuTest, FileFromAnotherControllerNeedsTheTick) {
    net.previewAnswer.otherController = true;
    net.previewAnswer.warning = "This file comes from KZ2 #17, not KZ2 #4.";
    openPreview(Kind::kRestore, [&](InMemoryControlModel& d) {
        EXPECT_EQ(d.text(pd::kWarning), net.previewAnswer.warning);
        EXPECT_TRUE(d.isVisible(pd::kWarning));
        EXPECT_TRUE(d.isVisible(pd::kConfirm));
        EXPECT_FALSE(d.click(pd::kRestore));
        d.click(pd::kConfirm);
        d.click(pd::kConfirm);  // and taken back
        EXPECT_FALSE(d.click(pd::kRestore));
        d.click(pd::kConfirm);
        EXPECT_TRUE(d.click(pd::kRestore));
    });
    ASSERT_EQ(net.restores.size(), 1u);
    EXPECT_TRUE(net.restores[0].confirmedOther);
}

TEST_F(SettingsMenuTest, FailedOrEmptyPreviewShowsWhyAndOffersNoRestore) {
    const struct {
        bool ok;
        const char* error;
        const char* shown;
    } cases[] = {
        {false, "kz2.json: line 3: not a backup file", "kz2.json: line 3: not a backup file"},
        {true, "", settings_text::kNothingDiffers}};
    for (const auto& c : cases) {
        net.previewAnswer.ok = c.ok;
        net.previewAnswer.error = c.error;
        net.previewAnswer.rows.clear();
        openPreview(Kind::kRestore, [](InMemoryControlModel& d) {
            EXPECT_FALSE(d.click(pd::kRestore));
            d.click(kIdCancel);
        });
        EXPECT_EQ(preview().text(pd::kMessage), c.shown);
        EXPECT_FALSE(preview().isVisible(pd::kRestore));
        EXPECT_EQ(status(), c.shown);
        EXPECT_TRUE(net.restores.empty());
    }
}

TEST_F(SettingsMenuTest, LateAnswersNeverReachAClosedDialog) {
    net.deferAnswers = true;
    openPreview(Kind::kUndo, [](InMemoryControlModel& d) {
        EXPECT_EQ(d.text(pd::kMessage), settings_text::kReading);
        EXPECT_FALSE(d.click(pd::kRestore));
        d.click(kIdCancel);
    });
    const size_t calls = preview().calls().size();
    EXPECT_TRUE(net.answerPreview());  // the dialog object is gone by now
    EXPECT_EQ(preview().calls().size(), calls);
    EXPECT_EQ(status(), settings_text::kNothingSent);

    // While a restore runs the dialog stays open, and shows the outcome when it comes.
    net.restoreAnswer = {false, "RA max speed did not take; 1 setting put back"};
    openPreview(Kind::kUndo, [&](InMemoryControlModel& d) {
        net.answerPreview();
        d.click(pd::kRestore);
        d.close();
        d.pressEscape();
        EXPECT_FALSE(d.ended());
        net.answerRestore();
        EXPECT_EQ(d.text(pd::kMessage), net.restoreAnswer.message);
        d.click(kIdCancel);
    });
    EXPECT_TRUE(preview().ended());
    EXPECT_EQ(status(), net.restoreAnswer.message);
}

TEST_F(SettingsMenuTest, BackUpWritesWhereTheUserChose) {
    const struct {
        std::string answer;
        bool succeeds;
        std::string status;
    } cases[] = {{"", true, "unchanged"},
                 {"/home/u/kz2.json", true, "Settings backed up to /home/u/kz2.json"},
                 {"/full/kz2.json", false, "Back up failed: No space left on device"}};
    for (const auto& c : cases) {
        model.setText(kIdStatusLine, "unchanged");
        model.clearCalls();
        net.backUps.clear();
        net.backUpSucceeds = c.succeeds;
        net.backUpError = "No space left on device";
        model.answerFileDialog(c.answer);
        model.click(kIdMenuBackUp);
        EXPECT_EQ(model.calls()[0], (ModelCall{CallKind::kChooseFile, 0, 0, 0, net.backupName}));
        EXPECT_EQ(net.backUps.size(), c.answer.empty() ? 0u : 1u);
        EXPECT_EQ(status(), c.status);
    }
}

TEST_F(SettingsMenuTest, SnapshotsOpenThePreviewOnTheChosenOne) {
    net.snapshotList = {{"/s/2.json", "2026-12-08 06:15:02 UTC", 2},
                        {"/s/1.json", "2026-12-07 21:00:40 UTC", -1}};
    model.scriptNextModal([&](InMemoryControlModel& d) {
        namespace sd = snapshots_dlg;
        EXPECT_EQ(d.rows(sd::kTable),
                  (std::vector<std::vector<std::string>>{
                      {"2026-12-08 06:15:02 UTC", "2"}, {"2026-12-07 21:00:40 UTC", "not known"}}));
        ASSERT_TRUE(d.selectItem(sd::kTable, 1));
        d.scriptNextModal([](InMemoryControlModel& p) { p.click(kIdCancel); });
        d.pressEnter();  // compares, as the Compare button does
        EXPECT_FALSE(d.lastModal()->isVisible(pd::kRestore));
        d.scriptNextModal([](InMemoryControlModel& p) { p.click(pd::kRestore); });
        d.click(sd::kRestore);
        d.click(kIdCancel);
    });
    model.click(kIdMenuSnapshots);
    EXPECT_EQ(net.previewSources, (std::vector<std::string>{"/s/1.json", "/s/1.json"}));
    ASSERT_EQ(net.restores.size(), 1u);
    EXPECT_EQ(net.snapshotCalls, 2);  // listed again after the restore
}

}  // namespace
}  // namespace vornic::ui::test
