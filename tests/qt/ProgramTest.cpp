// The real `vornic` window against a simulated KZ2 on a pseudo-terminal, driven with the mouse,
// the keyboard and the accessibility interface; every user action must put exactly the expected
// request frames on the line and nothing else.

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QLineEdit>
#include <QSlider>
#include <QStyle>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "QtHarness.h"
#include "app/PortList.h"
#include "cli/ChildProcess.h"
#include "settings/Backup.h"
#include "ui/Layout.h"
#include "ui/MainDialogIds.h"
#include "ui/SecondaryDialogs.h"
#include "ui/SettingsDialogs.h"

namespace vornic::qttest {
namespace {

using ui::qt::QtDialog;
using Clock = std::chrono::steady_clock;

const std::vector<Bytes> kHandshakeLevel6 = {ask(0x01), ask(0x03), ask(0x02), ask(0x14),
                                             ask(0x15), ask(0x3D), ask(0x64)};

bool connect(QtDialog& window) {
    click(window, ui::kIdConnect);
    return waitUntil([&] { return window.text(ui::kIdStatusLine) == "Connection established."; });
}

// The middle of the slider's handle.
QPoint handleOf(QSlider* slider) {
    const int handle = slider->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, slider);
    const int span = slider->width() - handle;
    return {QStyle::sliderPositionFromValue(slider->minimum(), slider->maximum(), slider->value(),
                                            span) +
                handle / 2,
            slider->height() / 3};
}

// Drags the slider's handle to its right end with the mouse and lets go.
void dragToEnd(QSlider* slider) {
    const QPoint from = handleOf(slider);
    QTest::mousePress(slider, Qt::LeftButton, {}, from);
    QTest::mouseMove(slider, QPoint(slider->width() - 1, from.y()));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->width() - 1, from.y()));
}

// Types `text` over what the field holds, then leaves it with Tab.
void typeAndTab(QtDialog& window, ui::ControlId id, const QString& text) {
    auto* edit = qobject_cast<QLineEdit*>(window.widget(id));
    ASSERT_NE(edit, nullptr);
    QTest::mouseClick(edit, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return edit->hasFocus(); }, 2000));
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Tab);
}

void doAction(QWidget* w, const QString& action) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(a->actionInterface(), nullptr);
    a->actionInterface()->doAction(action);
}

class ProgramTest : public ProgramFixture {
  protected:
    // Runs `action` and returns the frames it put on the line once the line is quiet again.
    std::vector<Bytes> framesOf(const std::function<void()>& action) {
        const size_t mark = wire_->count();
        action();
        return settledFrom(*wire_, mark);
    }
};

TEST_F(ProgramTest, LevelSixSessionFromConnectToClose) {
    ASSERT_NO_FATAL_FAILURE(startSimulator(6));
    const sim::AxisImage& ra = image_.axis[sim::kRa];
    const sim::AxisImage& de = image_.axis[sim::kDe];
    runProgram([&](QtDialog& w, ui::DlgConfig&) {
        EXPECT_FALSE(w.isEnabled(ui::kIdAdvancedSettings));
        EXPECT_FALSE(w.isEnabled(ui::kIdMaxSpeedRa));
        ASSERT_TRUE(connect(w)) << w.text(ui::kIdStatusLine);
        EXPECT_EQ(settledFrom(*wire_, 0), kHandshakeLevel6);
        EXPECT_EQ(w.text(ui::kIdIdentityLine).rfind("HW:", 0), 0u) << w.text(ui::kIdIdentityLine);
        EXPECT_TRUE(w.isEnabled(ui::kIdAdvancedSettings));
        for (const ui::ControlLayout& c : w.layout().controls) {
            const bool field =
                c.kind == ui::ControlKind::kEdit || c.kind == ui::ControlKind::kReadOnlyEdit;
            if (field && c.id != ui::kIdVoltage) {
                EXPECT_FALSE(w.text(c.id).empty()) << "field " << c.id << " left empty";
            }
        }
        EXPECT_EQ(w.text(ui::kIdMaxSpeedRa), std::to_string(ra.maxSpeed));
        EXPECT_EQ(w.sliderPos(ui::kIdMaxSpeedSliderRa), ra.maxSpeed / 30);

        // Mouse: a slider dragged to its end and released.
        auto* accel = qobject_cast<QSlider*>(w.widget(ui::kIdAccelSliderRa));
        EXPECT_EQ(framesOf([&] { dragToEnd(accel); }),
                  std::vector<Bytes>{Frame().u8(0x37).u8(0).u8(0xC0).u8(240).u8(de.acceleration)});
        EXPECT_EQ(w.text(ui::kIdAccelRa), "240");

        // Keyboard: a field typed into and left with Tab; typing alone sends nothing.
        EXPECT_EQ(framesOf([&] { typeAndTab(w, ui::kIdMaxSpeedRa, "1234"); }),
                  std::vector<Bytes>{Frame().u8(0x35).u8(0).u8(0xC0).u16(1234).u16(de.maxSpeed)});
        EXPECT_EQ(w.sliderPos(ui::kIdMaxSpeedSliderRa), 39);

        EXPECT_EQ(framesOf([&] { click(w, ui::kIdReverseGuidingRa); }),
                  std::vector<Bytes>{Frame().u8(0x32).u8(0).u8(0xC0).u8(0).u8(1).u8(0)});
        EXPECT_TRUE(w.isChecked(ui::kIdReverseGuidingRa));

        const std::vector<Bytes> move = framesOf([&] { click(w, ui::kIdMoveNorth); });
        ASSERT_EQ(move.size(), 1u);
        EXPECT_EQ(Bytes(move[0].begin(), move[0].begin() + 5), (Bytes{0xAA, 7, 0x23, 0, 0x40}));
        EXPECT_EQ(framesOf([&] { click(w, ui::kIdStop); }),
                  std::vector<Bytes>{Frame().u8(0x21).u8(0).u8(0xC0)});

        // "Track on" is checked by the program, not by the click itself.
        EXPECT_EQ(framesOf([&] { click(w, ui::kIdTrackOn); }).size(), 1u);
        EXPECT_TRUE(w.isChecked(ui::kIdTrackOn));
        EXPECT_FALSE(w.isChecked(ui::kIdTrackOff));

        // The gear-ratio dialog confirmed: the ratios go out and are read back.
        whenModalOpens(w, [](QtDialog& child) {
            typeAndTab(child, ui::gear_dlg::kRa, "287200");
            typeAndTab(child, ui::gear_dlg::kDe, "164000");
            click(child, ui::kIdOk);
        });
        EXPECT_EQ(framesOf([&] { click(w, ui::kIdChangeGearRatio); }),
                  (std::vector<Bytes>{Frame().u8(0x1A).u8(1).u8(0xC0).u32(287200).u32(164000),
                                      ask(0x14)}));
        EXPECT_TRUE(waitUntil([&] { return w.text(ui::kIdGearDe) == "164000"; }));

        // Advanced settings edited, then cancelled: nothing at all.
        whenModalOpens(w, [](QtDialog& child) {
            typeAndTab(child, ui::site_dlg::kHysteresis, "12");
            click(child, ui::kIdCancel);
        });
        EXPECT_TRUE(framesOf([&] { click(w, ui::kIdAdvancedSettings); }).empty());

        // Assistive technology: a Toggle, a Press and a slider value reach the logic like the
        // mouse does.
        EXPECT_EQ(framesOf([&] {
                      doAction(w.widget(ui::kIdReverseRotationDe),
                               QAccessibleActionInterface::toggleAction());
                  }),
                  std::vector<Bytes>{Frame().u8(0x32).u8(0).u8(0xC0).u8(2).u8(1).u8(0)});
        EXPECT_EQ(framesOf([&] {
                      doAction(w.widget(ui::kIdStop), QAccessibleActionInterface::pressAction());
                  }),
                  std::vector<Bytes>{Frame().u8(0x21).u8(0).u8(0xC0)});
        EXPECT_EQ(framesOf([&] {
                      QAccessibleInterface* a =
                          QAccessible::queryAccessibleInterface(w.widget(ui::kIdAccelSliderDe));
                      ASSERT_NE(a, nullptr);
                      a->valueInterface()->setCurrentValue(3);
                  }),
                  std::vector<Bytes>{Frame().u8(0x37).u8(0).u8(0xC0).u8(240).u8(48)});

        // Enter and Escape close nothing (Enter with the focus in a field: on a button it
        // would press the button).
        w.widget(ui::kIdMaxSpeedRa)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(&w.window(), Qt::Key_Escape);
        QTest::keyClick(&w.window(), Qt::Key_Return);
        EXPECT_FALSE(w.ended());
    });
    EXPECT_EQ(wire_->requests().size(), kHandshakeLevel6.size() + 12) << "nothing stray";
    sim_->stop();
    EXPECT_EQ(sim_->controller().device().live().axis[sim::kRa].maxSpeed, 1234);
    EXPECT_EQ(ra.gearRatio, image_.axis[sim::kRa].gearRatio);
}

// The cells of a table control, row by row.
std::vector<std::vector<std::string>> cellsOf(QtDialog& d, ui::ControlId id) {
    std::vector<std::vector<std::string>> cells;
    auto* view = qobject_cast<QAbstractItemView*>(d.widget(id));
    const QAbstractItemModel* model = view != nullptr ? view->model() : nullptr;
    for (int r = 0; model != nullptr && r < model->rowCount(); ++r) {
        cells.emplace_back();
        for (int c = 0; c < model->columnCount(); ++c) {
            cells.back().push_back(model->index(r, c).data().toString().toStdString());
        }
    }
    return cells;
}

// The settings safety net through the window's menu: each step puts exactly its setting frames on
// the line (reading the controller back is allowed), says what it did, and leaves the "not saved"
// mark as the controller's working settings stand.
TEST_F(ProgramTest, SettingsMenuAgainstTheController) {
    namespace pd = ui::preview_dlg;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    snapshotRoot_ = dir.filePath("snapshots").toStdString();
    const std::string hostile = dir.filePath("hostile.json").toStdString();
    const std::string backup = dir.filePath("backup.json").toStdString();
    std::string snapshot;
    std::string error;
    // Cut short, with a number no setting can hold.
    ASSERT_TRUE(settings::writeFileText(hostile, "{\"settings\": {\"maxSpeed\": [1e999", error));
    ASSERT_NO_FATAL_FAILURE(startSimulator(6));
    const sim::AxisImage& ra = image_.axis[sim::kRa];
    const sim::AxisImage& de = image_.axis[sim::kDe];
    const std::string notSaved = "Not saved into KZ2";
    runProgram([&](QtDialog& w, ui::DlgConfig&) {
        std::string answer;
        w.setFileChooser([&](ui::FileChoice, const std::string&) { return answer; });
        ASSERT_TRUE(connect(w)) << w.text(ui::kIdStatusLine);
        ASSERT_TRUE(waitUntil([&] {
            QDirIterator files(QString::fromStdString(snapshotRoot_), {"*.json"}, QDir::Files,
                               QDirIterator::Subdirectories);
            snapshot = files.hasNext() ? files.next().toStdString() : "";
            return !snapshot.empty();
        })) << "no snapshot at connect";

        using Rows = std::vector<std::vector<std::string>>;
        const Rows speedRow = {{"RA max speed", "1234", std::to_string(ra.maxSpeed)}};
        struct Step {
            const char* what;
            ui::ControlId used;    // a menu item, a button, or the field typed into
            ui::ControlId button;  // pressed in the preview the item opens, 0 for none
            std::string file;
            std::vector<Bytes> sent;
            std::string status;  // "" for not looked at
            std::string mark;
            Rows rows;
        };
        const std::vector<Bytes> none;
        const std::vector<Bytes> typed = {
            Frame().u8(0x35).u8(0).u8(0xC0).u16(1234).u16(de.maxSpeed)};
        const std::vector<Bytes> store = {Frame().u8(0x0D).u8(1)};
        const std::vector<Bytes> undone = {
            Frame().u8(0x35).u8(0).u8(0xC0).u16(ra.maxSpeed).u16(de.maxSpeed)};
        const Step steps[] = {
            {"a field changed", ui::kIdMaxSpeedRa, 0, "", typed, "", notSaved, Rows()},
            {"saved and acknowledged", ui::kIdSaveSettings, 0, "", store, "", "", Rows()},
            {"compared with the snapshot", ui::kIdMenuCompare, ui::kIdCancel, snapshot, none,
             "Compared with the file: 1 setting differs", "", speedRow},
            {"a hostile file", ui::kIdMenuRestore, ui::kIdCancel, hostile, none,
             "Nothing was sent: hostile.json: not valid JSON: a number is too large", "", Rows()},
            {"undo cancelled", ui::kIdMenuUndo, ui::kIdCancel, "", none,
             ui::settings_text::kNothingSent, "", speedRow},
            {"undo restored", ui::kIdMenuUndo, pd::kRestore, "", undone,
             "Restored and verified: 1 setting", notSaved, speedRow},
            {"backed up", ui::kIdMenuBackUp, 0, backup, none, "Settings backed up to " + backup,
             notSaved, Rows()},
        };
        for (const Step& step : steps) {
            const size_t from = wire_->count();
            Rows rows;
            answer = step.file;
            if (step.button != 0) {
                // Pressed once the preview has its rows; "Close" ends it when the press did not.
                whenModalOpens(w, [&](QtDialog& d) {
                    EXPECT_TRUE(waitUntil(
                        [&] { return d.text(pd::kMessage) != ui::settings_text::kReading; }));
                    rows = cellsOf(d, pd::kTable);
                    click(d, step.button);
                    EXPECT_TRUE(waitUntil([&] {
                        return d.ended() || d.text(pd::kMessage) != ui::settings_text::kRestoring;
                    }));
                    if (!d.ended()) {
                        click(d, ui::kIdCancel);
                    }
                });
            }
            if (w.action(step.used) != nullptr) {
                w.action(step.used)->trigger();
            } else if (step.used == ui::kIdMaxSpeedRa) {
                typeAndTab(w, step.used, "1234");
            } else {
                click(w, step.used);
            }
            std::vector<Bytes> sent;
            for (const Bytes& frame : settledFrom(*wire_, from, 500)) {
                if (frame.size() > 3) {  // a read-back's requests carry no parameters
                    sent.push_back(frame);
                }
            }
            EXPECT_EQ(sent, step.sent) << step.what;
            if (!step.status.empty()) {
                EXPECT_EQ(w.text(ui::kIdStatusLine), step.status) << step.what;
            }
            EXPECT_EQ(w.text(ui::kIdNotSavedMark), step.mark) << step.what;
            EXPECT_EQ(rows, step.rows) << step.what;
        }
    });
    // Both files hold what the controller now holds, in the command line's own judgement.
    for (const std::string& file : {snapshot, backup}) {
        const testing::RunResult diff =
            testing::runCli({"--port", sim_->slavePath(), "diff", file});
        EXPECT_EQ(diff.exitCode, 0) << diff.err;
        EXPECT_NE(diff.out.find("No differences."), std::string::npos) << file << diff.out;
    }
}

// Sends `type` to `w` as the window system would deliver it (auto-repeated when `repeat`).
void sendKey(QWidget* w, QEvent::Type type, Qt::Key key, bool repeat = false) {
    QKeyEvent event(type, key, Qt::NoModifier, QString(), repeat);
    QApplication::sendEvent(w, &event);
    QApplication::processEvents();
}

// One notch of the mouse wheel with the pointer over `w`.
void wheelOver(QWidget* w) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
    QApplication::processEvents();
}

// The keyboard, the wheel and the mouse reach the controller only where the user meant them to:
// each action either puts its one frame on the line or none.
TEST_F(ProgramTest, WindowInputSendsOnlyWhatTheUserMeant) {
    ASSERT_NO_FATAL_FAILURE(startSimulator(6));
    const Bytes stop = Frame().u8(0x21).u8(0).u8(0xC0);
    runProgram([&](QtDialog& w, ui::DlgConfig&) {
        ASSERT_TRUE(connect(w)) << w.text(ui::kIdStatusLine);
        auto* accel = qobject_cast<QSlider*>(w.widget(ui::kIdAccelSliderRa));
        auto* current = qobject_cast<QSlider*>(w.widget(ui::kIdIdleCurrentSliderRa));
        auto* ports = w.widget(ui::kIdPortList);
        const int port = w.selection(ui::kIdPortList);
        EXPECT_EQ(w.widget(ui::kIdStop)->toolTip(), "Stops both axes (Esc)");
        w.widget(ui::kIdMaxSpeedRa)->setFocus(Qt::TabFocusReason);

        struct Case {
            const char* what;
            std::function<void()> action;
            std::vector<Bytes> expected;
        };
        const Case cases[] = {
            {"Escape in a field stops",
             [&] { QTest::keyClick(&w.window(), Qt::Key_Escape); },
             {stop}},
            {"Enter on the focused Stop button presses it",
             [&] {
                 w.widget(ui::kIdStop)->setFocus(Qt::TabFocusReason);
                 QTest::keyClick(w.widget(ui::kIdStop), Qt::Key_Return);
             },
             {stop}},
            {"the wheel over an unfocused slider", [&] { wheelOver(accel); }, {}},
            {"the wheel over the port list while connected", [&] { wheelOver(ports); }, {}},
            {"a click on a current slider's handle",
             [&] { QTest::mouseClick(current, Qt::LeftButton, {}, handleOf(current)); },
             {}},
            {"an arrow key held on a slider sends once, at its release",
             [&] {
                 accel->setFocus(Qt::TabFocusReason);
                 sendKey(accel, QEvent::KeyPress, Qt::Key_Right);
                 for (int i = 0; i < 3; ++i) {
                     sendKey(accel, QEvent::KeyRelease, Qt::Key_Right, true);
                     sendKey(accel, QEvent::KeyPress, Qt::Key_Right, true);
                 }
                 QTest::qWait(50);
                 EXPECT_EQ(settledFrom(*wire_, wire_->count(), 100).size(), 0u) << "still held";
                 sendKey(accel, QEvent::KeyRelease, Qt::Key_Right);
             },
             // Four steps right from the reported position, all in one frame.
             {Frame()
                  .u8(0x37)
                  .u8(0)
                  .u8(0xC0)
                  .u8(16 * ((image_.axis[sim::kRa].acceleration + 8) / 16 + 4))
                  .u8(image_.axis[sim::kDe].acceleration)}},
        };
        for (const Case& c : cases) {
            EXPECT_EQ(framesOf(c.action), c.expected) << c.what;
        }
        EXPECT_EQ(w.selection(ui::kIdPortList), port);
        EXPECT_FALSE(ports->isEnabled());

        // Enter on a secondary dialog's cancelling button cancels: no gear ratios, no sync.
        for (ui::ControlId button : {ui::kIdChangeGearRatio, ui::kIdInitScope}) {
            whenModalOpens(w, [](QtDialog& child) {
                QWidget* cancel = child.widget(ui::kIdCancel);
                cancel->setFocus(Qt::TabFocusReason);
                QTest::keyClick(cancel, Qt::Key_Return);
            });
            EXPECT_TRUE(framesOf([&] { click(w, button); }).empty()) << button;
        }

        // Nothing of the controller stays shown once the connection is gone.
        click(w, ui::kIdMeasureVoltage);
        EXPECT_TRUE(waitUntil([&] { return !w.text(ui::kIdVoltage).empty(); }));
        click(w, ui::kIdDisconnect);
        EXPECT_TRUE(waitUntil([&] { return w.text(ui::kIdStatusLine) == "Connection closed"; }));
        EXPECT_EQ(w.text(ui::kIdIdentityLine), "");
        EXPECT_EQ(w.text(ui::kIdVoltage), "");
        EXPECT_FALSE(w.text(ui::kIdMaxSpeedRa).empty()) << "settings stay, greyed";
        EXPECT_TRUE(ports->isEnabled());
    });
}

// Advanced settings needs a controller of feature level 5 or 6; closing while connected ends the
// program within a second.
TEST_F(ProgramTest, LevelFourAndClosingWhileConnected) {
    ASSERT_NO_FATAL_FAILURE(startSimulator(4));
    Clock::time_point closed;
    runProgram([&](QtDialog& w, ui::DlgConfig&) {
        ASSERT_TRUE(connect(w)) << w.text(ui::kIdStatusLine);
        EXPECT_TRUE(w.isEnabled(ui::kIdMaxSpeedRa));
        EXPECT_FALSE(w.isEnabled(ui::kIdAdvancedSettings));

        // Without a mouse: Tab walks every enabled tab stop in the table's order, and Space on a
        // focused button presses it.
        std::vector<ui::ControlId> expected;
        for (const ui::ControlLayout& c : w.layout().controls) {
            if ((c.style & ui::style::kTabStop) != 0 && w.isEnabled(c.id)) {
                expected.push_back(c.id);
            }
        }
        std::vector<ui::ControlId> visited;
        w.widget(expected.front())->setFocus(Qt::TabFocusReason);
        for (size_t i = 0; i < expected.size(); ++i) {
            QWidget* focus = QApplication::focusWidget();
            ui::ControlId id = 0;
            for (const ui::ControlLayout& c : w.layout().controls) {
                id = w.widget(c.id) == focus ? c.id : id;
            }
            visited.push_back(id);
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        EXPECT_EQ(visited, expected);
        w.widget(ui::kIdStop)->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(framesOf([&] { QTest::keyClick(w.widget(ui::kIdStop), Qt::Key_Space); }),
                  std::vector<Bytes>{Frame().u8(0x21).u8(0).u8(0xC0)});

        closed = Clock::now();
        w.window().close();
        EXPECT_TRUE(w.ended());
    });
    EXPECT_LT(Clock::now() - closed, std::chrono::seconds(1));
}

// The controller vanishes while connected: the error shows, the window still answers, and it
// closes at once.
TEST_F(ProgramTest, HangUpWhileConnected) {
    sim::FaultPlan faults;
    faults.hangupAfter = static_cast<int64_t>(kHandshakeLevel6.size());
    ASSERT_NO_FATAL_FAILURE(startSimulator(6, faults));
    Clock::time_point closed;
    runProgram([&](QtDialog& w, ui::DlgConfig&) {
        // The simulator hangs up right after the handshake: no click is needed (one could reach
        // the engine after it closed the port and put "Not connected yet" over the report).
        ASSERT_TRUE(connect(w)) << w.text(ui::kIdStatusLine);
        EXPECT_TRUE(waitUntil([&] {
            return w.text(ui::kIdStatusLine).rfind("Error: Connection lost", 0) == 0;
        })) << w.text(ui::kIdStatusLine);
        EXPECT_FALSE(w.isEnabled(ui::kIdMaxSpeedRa)) << "no longer connected";
        bool aboutShown = false;
        whenModalOpens(w, [&](QtDialog& child) {
            aboutShown = true;
            click(child, ui::kIdCancel);
        });
        click(w, ui::kIdAbout);
        EXPECT_TRUE(aboutShown);
        closed = Clock::now();
        w.window().close();
    });
    EXPECT_LT(Clock::now() - closed, std::chrono::seconds(1));
}

// Every way out of the window while a hand move runs puts the stop of both axes on the line.
enum class WayOut { CloseBox, Disconnect, Terminate, HangUp, Quit, Interrupt };

class WayOutTest : public ProgramTest, public ::testing::WithParamInterface<WayOut> {};

TEST_P(WayOutTest, StopsAHandMoveFirst) {
    ASSERT_NO_FATAL_FAILURE(startSimulator(6));
    frontEnd_.closeOnTerminationSignals();
    size_t mark = 0;
    runProgram([&](QtDialog& w, ui::DlgConfig&) {
        ASSERT_TRUE(connect(w)) << w.text(ui::kIdStatusLine);
        ASSERT_EQ(framesOf([&] { click(w, ui::kIdMoveNorth); }).size(), 1u);
        mark = wire_->count();
        const std::map<WayOut, int> bySignal{{WayOut::Terminate, SIGTERM},
                                             {WayOut::HangUp, SIGHUP},
                                             {WayOut::Quit, SIGQUIT},
                                             {WayOut::Interrupt, SIGINT}};
        if (GetParam() == WayOut::CloseBox) {
            w.window().close();
        } else if (GetParam() == WayOut::Disconnect) {
            click(w, ui::kIdDisconnect);
            EXPECT_TRUE(waitUntil([&] { return !w.isEnabled(ui::kIdMaxSpeedRa); }));
        } else {
            ASSERT_EQ(::raise(bySignal.at(GetParam())), 0);
            EXPECT_TRUE(waitUntil([&] { return w.ended(); }));
        }
    });
    EXPECT_EQ(settledFrom(*wire_, mark), std::vector<Bytes>{Frame().u8(0x21).u8(0).u8(0xC0)});
}

std::string wayOutName(const ::testing::TestParamInfo<WayOut>& param) {
    static const char* const kNames[] = {"CloseBox", "Disconnect", "SIGTERM",
                                         "SIGHUP",   "SIGQUIT",    "SIGINT"};
    return kNames[static_cast<int>(param.param)];
}

INSTANTIATE_TEST_SUITE_P(ProgramTest, WayOutTest,
                         ::testing::Values(WayOut::CloseBox, WayOut::Disconnect, WayOut::Terminate,
                                           WayOut::HangUp, WayOut::Quit, WayOut::Interrupt),
                         wayOutName);

// A port that cannot be opened says why, in the words of the command line.
TEST_F(ProgramTest, PortThatCannotBeOpenedShowsTheReason) {
    const std::string path = "/dev/vornic-test-no-such-port";
    portList_ = std::make_unique<PortList>([] { return std::vector<platform::PortInfo>(); }, ports_,
                                           path, "", false);
    frontEnd_.setPortList(*portList_);
    runProgram([&](QtDialog& w, ui::DlgConfig&) {
        click(w, ui::kIdConnect);
        EXPECT_TRUE(waitUntil([&] {
            return w.text(ui::kIdStatusLine) ==
                   "Error: cannot open " + path + ": " +
                       platform::openErrorText(platform::OpenError::NoSuchDevice) + " (" +
                       std::strerror(ENOENT) +
                       "). Check the name and the cable; `vornic-cli ports` lists the ports "
                       "present.";
        })) << w.text(ui::kIdStatusLine);
    });
}

// An adapter plugged in while the program runs is offered as soon as the port list opens, with a
// port number that leads to it; the selected entry stays selected and the simulator last. One
// pulled out leaves the list when the window becomes active again.
TEST_F(ProgramTest, OpeningThePortListPicksUpANewDevice) {
    ASSERT_NO_FATAL_FAILURE(startSimulator(6));
    const std::string adapter = "/dev/serial/by-id/usb-Test_Adapter-if00-port0";
    runProgram([&](QtDialog& w, ui::DlgConfig&) {
        auto* combo = qobject_cast<QComboBox*>(w.widget(ui::kIdPortList));
        ASSERT_NE(combo, nullptr);
        const auto shown = [combo] {
            std::vector<std::string> labels;
            for (int i = 0; i < combo->count(); ++i) {
                labels.push_back(combo->itemText(i).toStdString());
            }
            return labels;
        };
        const auto openList = [&] {
            QTest::mouseClick(combo, Qt::LeftButton);
            EXPECT_TRUE(waitUntil([&] { return combo->view()->isVisible(); }, 2000));
            combo->hidePopup();
        };
        EXPECT_EQ(shown(), std::vector<std::string>{"Simulator"});

        present_.push_back({adapter, "/dev/ttyUSB7"});
        openList();
        EXPECT_EQ(shown(),
                  (std::vector<std::string>{"ttyUSB7: usb-Test_Adapter-if00-port0", "Simulator"}));
        EXPECT_EQ(w.text(ui::kIdPortList), "Simulator");

        // The user picks the new entry: its number names the adapter.
        combo->setFocus(Qt::TabFocusReason);
        QTest::keyClick(combo, Qt::Key_Up);
        char path[128];
        ASSERT_TRUE(ports_.pathFor(static_cast<uint32_t>(w.selection(ui::kIdPortList)) + 1, path,
                                   sizeof path));
        EXPECT_EQ(path, adapter);

        // Back to the simulator, the adapter pulled out while the user was in another window: it
        // leaves the list when the window comes back, and the simulator's number still leads to
        // the simulator.
        QTest::keyClick(combo, Qt::Key_Down);
        present_.clear();
        QEvent activated(QEvent::WindowActivate);
        QApplication::sendEvent(&w.window(), &activated);
        EXPECT_EQ(shown(), std::vector<std::string>{"Simulator"});
        ASSERT_TRUE(connect(w)) << w.text(ui::kIdStatusLine);
    });
}

// The raster painter's pool threads in this process (Qt names them so).
int pooledThreads() {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        count += name == "Thread (pooled)" ? 1 : 0;
    }
    return count;
}

// Start-up work the window can do without (its icon) waits for the window's first paint and runs
// once; that paint, group frames and all, starts no pool threads (which, once started, live on
// for half a minute: ctest runs each test in a process of its own).
TEST_F(ProgramTest, FirstPaintBeforeDeferredWorkAndWithoutPoolThreads) {
    ASSERT_NO_FATAL_FAILURE(startSimulator(6));
    struct PaintWatch final : QObject {
        bool painted = false;
        bool eventFilter(QObject* watched, QEvent* event) override {
            painted = painted || (event->type() == QEvent::Paint && watched->isWidgetType() &&
                                  static_cast<QWidget*>(watched)->isWindow());
            return false;
        }
    } watch;
    qApp->installEventFilter(&watch);
    const int poolBefore = pooledThreads();
    int runs = 0;
    bool paintedBefore = false;
    int poolAfterPaint = -1;
    frontEnd_.afterFirstPaint([&] {
        ++runs;
        paintedBefore = watch.painted;
        poolAfterPaint = pooledThreads();
    });
    runProgram([&](QtDialog& w, ui::DlgConfig&) {
        EXPECT_TRUE(waitUntil([&] { return runs > 0; }));
        w.window().repaint();
        QTest::qWait(50);
    });
    qApp->removeEventFilter(&watch);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(paintedBefore);
    EXPECT_LE(poolAfterPaint, poolBefore);
}

// A screen reader follows the About box's web address with the link's Press action.
TEST_F(ProgramTest, AboutLinkHasAnAccessiblePressAction) {
    ASSERT_NO_FATAL_FAILURE(startSimulator(6));
    std::vector<std::string> opened;
    frontEnd_.setUrlOpener([&](const std::string& url) { opened.push_back(url); });
    runProgram([&](QtDialog& w, ui::DlgConfig&) {
        whenModalOpens(w, [&](QtDialog& about) {
            QWidget* link = about.widget(ui::about_dlg::kLink);
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(link);
            ASSERT_NE(a, nullptr);
            EXPECT_EQ(a->role(), QAccessible::Link);
            EXPECT_EQ(a->text(QAccessible::Name), link->accessibleName());
            doAction(link, QAccessibleActionInterface::pressAction());
            click(about, ui::kIdCancel);
        });
        click(w, ui::kIdAbout);
    });
    EXPECT_EQ(opened, std::vector<std::string>{ui::about_dlg::kUrl});
}

}  // namespace
}  // namespace vornic::qttest
