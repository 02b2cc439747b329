// Pictures of every dialog as the user sees it, connected to a controller, written into the build
// folder (screenshots/NAME@Nx.png, N the device pixel ratio) to be looked at. Each picture must
// show its whole dialog: nothing outside the window, no control cut by the window's edge.

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <cstdlib>

#include "QtHarness.h"
#include "ui/MainDialogIds.h"
#include "ui/SecondaryDialogs.h"

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
    EXPECT_EQ(saved_.size(), 5u);
}

}  // namespace
}  // namespace vornic::qttest
