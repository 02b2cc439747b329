// Pictures of every dialog as the user sees it, connected to a controller, written into the build
// folder (screenshots/NAME@Nx.png, N the device pixel ratio) to be looked at. Each picture must
// show its whole dialog: nothing outside the window, no control cut by the window's edge.

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QWidget>
#include <cstdlib>

#include "QtHarness.h"
#include "support/FakeSettingsNet.h"
#include "ui/MainDialogIds.h"
#include "ui/SecondaryDialogs.h"
#include "ui/SettingsDialogs.h"

namespace vornic::qttest {
namespace {

class ScreenshotTest : public ProgramFixture {
  protected:
    void save(ui::qt::QtDialog& dialog, const std::string& name) {
        QWidget& w = dialog.window();
        for (QWidget* child : w.findChildren<QWidget*>()) {
            if (child->isVisible() && child->parentWidget() == &w) {
                EXPECT_TRUE(w.rect().contains(child->geometry()))
                    << name << ": " << child->accessibleName().toStdString() << " is cut off";
            }
        }
        const QPixmap picture = w.grab();
        const int ratio = static_cast<int>(picture.devicePixelRatio() + 0.5);
        QDir().mkpath(QStringLiteral(VORNIC_SCREENSHOT_DIR));
        const char* points = std::getenv("VORNIC_TEST_FONT_POINTS");
        const QString path =
            QStringLiteral(VORNIC_SCREENSHOT_DIR "/%1@%2x%3.png")
                .arg(QString::fromStdString(name))
                .arg(ratio)
                .arg(points != nullptr ? QStringLiteral("-%1pt").arg(points) : QString());
        EXPECT_TRUE(picture.save(path)) << path.toStdString();
        saved_.push_back(path.toStdString());
    }
    std::vector<std::string> saved_;
};

TEST_F(ScreenshotTest, EveryDialogConnected) {
    ASSERT_NO_FATAL_FAILURE(startSimulator(6));
    runProgram([&](ui::qt::QtDialog& window, ui::DlgConfig&) {
        click(window, ui::kIdConnect);
        ASSERT_TRUE(
            waitUntil([&] { return window.text(ui::kIdStatusLine) == "Connection established."; }));
        click(window, ui::kIdMeasureVoltage);
        ASSERT_TRUE(waitUntil([&] { return !window.text(ui::kIdVoltage).empty(); }));
        save(window, "main-dialog");

        // The undo preview with the rows the controller itself gives after a few changes.
        QWidget* reverse = window.widget(ui::kIdReverseRotationDe);
        QTest::mouseClick(reverse, Qt::LeftButton, {}, QPoint(6, reverse->height() / 2));
        auto* speed = qobject_cast<QLineEdit*>(window.widget(ui::kIdMaxSpeedRa));
        ASSERT_NE(speed, nullptr);
        speed->setFocus(Qt::TabFocusReason);
        speed->selectAll();
        QTest::keyClicks(speed, "1234");
        QTest::keyClick(speed, Qt::Key_Tab);
        ASSERT_TRUE(waitUntil([&] { return !window.text(ui::kIdNotSavedMark).empty(); }));
        bool previewed = false;
        whenModalOpens(window, [&](ui::qt::QtDialog& d) {
            previewed = waitUntil([&] { return d.isEnabled(ui::preview_dlg::kRestore); });
            save(d, "preview-undo-controller");
            click(d, ui::kIdCancel);
        });
        window.action(ui::kIdMenuUndo)->trigger();
        EXPECT_TRUE(previewed);

        const struct {
            ui::ControlId opener;
            const char* name;
        } secondary[] = {{ui::kIdChangeGearRatio, "gear-ratio"},
                         {ui::kIdAdvancedSettings, "advanced-settings"},
                         {ui::kIdInitScope, "init-scope"},
                         {ui::kIdAbout, "about"}};
        for (const auto& s : secondary) {
            bool seen = false;
            whenModalOpens(window, [&](ui::qt::QtDialog& child) {
                seen = true;
                save(child, s.name);
                click(child, ui::kIdCancel);
            });
            click(window, s.opener);
            EXPECT_TRUE(seen) << s.name;
        }
    });
    EXPECT_EQ(saved_.size(), 6u);
}

// The "Settings" menu driven against a fake safety net: what each item opens, pictured.
TEST_F(ScreenshotTest, SettingsMenuAndItsDialogs) {
    namespace pd = ui::preview_dlg;
    ASSERT_NO_FATAL_FAILURE(startSimulator(6));
    ui::FakeSettingsNet net;
    net.previewAnswer.ok = true;
    net.previewAnswer.rows = {{"RA max speed", "1200", "900"},
                              {"DE run current", "1500", "1200"},
                              {"Latitude", "+52 13' 01\"", "+48 08' 10\""}};
    net.restoreAnswer = {true, "Restored and verified: 3 settings"};
    net.snapshotList = {{"/s/3.json", "2026-12-08 06:15:02 UTC", 3},
                        {"/s/2.json", "2026-12-07 21:00:40 UTC", 0},
                        {"/s/1.json", "2026-11-30 19:42:11 UTC", -1}};
    runProgram([&](ui::qt::QtDialog& window, ui::DlgConfig& dlg) {
        click(window, ui::kIdConnect);
        ASSERT_TRUE(
            waitUntil([&] { return window.text(ui::kIdStatusLine) == "Connection established."; }));
        dlg.setSettingsNet(&net);
        QAction* undo = window.action(ui::kIdMenuUndo);
        ASSERT_NE(undo, nullptr);
        EXPECT_FALSE(undo->isEnabled());
        net.setState(true, true);
        EXPECT_TRUE(undo->isEnabled());
        EXPECT_EQ(window.text(ui::kIdNotSavedMark), "Not saved into KZ2");
        save(window, "main-dialog-not-saved");

        whenModalOpens(window, [&](ui::qt::QtDialog& d) {
            save(d, "preview-undo");
            // A screen reader hears each cell with its row and column.
            QAccessibleInterface* table =
                QAccessible::queryAccessibleInterface(d.widget(pd::kTable));
            ASSERT_NE(table, nullptr);
            ASSERT_NE(table->tableInterface(), nullptr);
            QAccessibleInterface* cell = table->tableInterface()->cellAt(0, 1);
            ASSERT_NE(cell, nullptr);
            EXPECT_EQ(cell->text(QAccessible::Name).toStdString(),
                      "RA max speed, Controller now: 1200");
            click(d, pd::kRestore);
            EXPECT_EQ(net.restores.size(), 1u);
            click(d, ui::kIdCancel);
        });
        undo->trigger();
        EXPECT_EQ(window.text(ui::kIdStatusLine), net.restoreAnswer.message);

        window.setFileChooser([](ui::FileChoice, const std::string&) { return "/tmp/other.json"; });
        net.previewAnswer.otherController = true;
        net.previewAnswer.warning =
            "This file comes from KZ2 #1742 (firmware 2.4.1), not from the connected KZ2 #2210.";
        whenModalOpens(window, [&](ui::qt::QtDialog& d) {
            EXPECT_FALSE(d.isEnabled(pd::kRestore));
            save(d, "preview-other-controller");
            click(d, ui::kIdCancel);
        });
        window.action(ui::kIdMenuRestore)->trigger();
        EXPECT_EQ(net.previewSources.back(), "/tmp/other.json");
        EXPECT_EQ(net.restores.size(), 1u);

        whenModalOpens(window, [&](ui::qt::QtDialog& d) {
            save(d, "preview-compare");
            click(d, ui::kIdCancel);
        });
        window.action(ui::kIdMenuCompare)->trigger();

        whenModalOpens(window, [&](ui::qt::QtDialog& d) {
            save(d, "snapshots");
            click(d, ui::kIdCancel);
        });
        window.action(ui::kIdMenuSnapshots)->trigger();
    });
    EXPECT_EQ(saved_.size(), 5u);
}

}  // namespace
}  // namespace vornic::qttest
