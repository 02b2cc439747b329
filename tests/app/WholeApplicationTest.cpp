// The whole program with nothing faked but the user and the controller: the Application on the
// headless front end, the platform's serial port on a pseudo-terminal, and a simulated KZ2 at the
// far end. The user is scripted through the main dialog's controls; every request frame the
// program writes is recorded on its way to the port, so the tests see exactly what goes on the
// wire.

#ifndef _WIN32

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/Application.h"
#include "platform/PortTable.h"
#include "platform/SerialPort.h"
#include "settings/Backup.h"
#include "sim/Kz2Device.h"
#include "sim/PtySimulator.h"
#include "support/HeadlessFrontEnd.h"
#include "support/IdleWatchPipe.h"
#include "support/InMemoryControlModel.h"
#include "support/RecordingPort.h"
#include "ui/MainDialogIds.h"
#include "ui/SecondaryDialogs.h"

namespace vornic {
namespace {

using namespace std::chrono_literals;
using test::ask;
using test::Bytes;
using test::Frame;
using test::RecordingPort;
using test::Wire;

constexpr auto kWait = 10s;  // generous: sanitizer builds on a busy machine

// A controller whose every setting differs between the axes and from the factory values, so that
// a value shown in the wrong control cannot pass for the right one.
sim::ConfigImage distinctImage() {
    sim::ConfigImage c = sim::factoryImage();
    sim::AxisImage& ra = c.axis[sim::kRa];
    sim::AxisImage& de = c.axis[sim::kDe];
    ra.gearRatio = 172800;
    ra.countsPerRevolution = ra.gearRatio * sim::kCountsPerStep;
    de.gearRatio = 829440;
    de.countsPerRevolution = de.gearRatio * sim::kCountsPerStep;
    ra.maxSpeed = 600;
    de.maxSpeed = 1350;  // above what slider 310 can show
    ra.acceleration = 100;
    de.acceleration = 80;  // exactly on slider step 5
    ra.deceleration = 30;
    de.deceleration = 200;
    ra.guidingRate = 8;
    de.guidingRate = 12;
    ra.maxCurrent = 1000;
    de.maxCurrent = 2000;
    ra.motorCurrent = {250, 500, 1000};
    de.motorCurrent = {100, 1500, 2000};
    ra.decay = {0, 1, 2};
    de.decay = {3, 2, 1};
    ra.thirdOvertone = -5;
    de.thirdOvertone = 7;
    ra.incCurrentAt = 120;
    de.incCurrentAt = 5;
    c.reverseRotation = 1;       // RA only
    c.reverseAutoguiding = 2;    // DE only
    c.reverseLimitSwitches = 3;  // both
    c.mountType = 1;
    return c;
}

std::string dotted(uint32_t version) {
    return std::to_string(version >> 24) + "." + std::to_string((version >> 16) & 0xFF) + "." +
           std::to_string((version >> 8) & 0xFF) + "." + std::to_string(version & 0xFF);
}

std::string identityLine(const sim::DeviceIdentity& id) {
    return "HW:" + dotted(id.hardwareVersion) + " | FW:" + dotted(id.firmwareVersion) +
           " | Port type:" + std::to_string(id.portType);
}

// Every setting control shows the controller's configuration `c`.
void expectShowsConfiguration(const ui::InMemoryControlModel& m, const sim::ConfigImage& c) {
    const sim::AxisImage& ra = c.axis[sim::kRa];
    const sim::AxisImage& de = c.axis[sim::kDe];
    auto text = [](auto v) { return std::to_string(v); };

    EXPECT_EQ(m.text(ui::kIdGearRa), text(ra.gearRatio));
    EXPECT_EQ(m.text(ui::kIdGearDe), text(de.gearRatio));

    EXPECT_EQ(m.text(211), text(ra.maxSpeed));
    EXPECT_EQ(m.text(311), text(de.maxSpeed));
    EXPECT_EQ(m.sliderPos(210), 20);
    EXPECT_EQ(m.sliderPos(310), 39);
    EXPECT_EQ(m.text(213), text(ra.acceleration));
    EXPECT_EQ(m.text(313), text(de.acceleration));
    EXPECT_EQ(m.sliderPos(212), 6);
    EXPECT_EQ(m.sliderPos(312), 5);
    EXPECT_EQ(m.text(215), text(ra.deceleration));
    EXPECT_EQ(m.text(315), text(de.deceleration));
    EXPECT_EQ(m.sliderPos(214), 2);
    EXPECT_EQ(m.sliderPos(314), 13);

    EXPECT_EQ(m.sliderPos(260), ra.guidingRate - 1);
    EXPECT_EQ(m.sliderPos(360), de.guidingRate - 1);

    EXPECT_TRUE(m.isChecked(201));
    EXPECT_FALSE(m.isChecked(301));
    EXPECT_FALSE(m.isChecked(202));
    EXPECT_TRUE(m.isChecked(302));
    EXPECT_TRUE(m.isChecked(203));
    EXPECT_TRUE(m.isChecked(303));

    EXPECT_EQ(m.text(220), text(ra.maxCurrent));
    EXPECT_EQ(m.text(320), text(de.maxCurrent));
    const int raCurrentSlider[3] = {4, 8, 15};  // 16 * v / 1000, the last one clamped from 16
    const int deCurrentSlider[3] = {0, 12, 15};
    for (int which = 0; which < 3; ++which) {
        EXPECT_EQ(m.text(230 + which), text(ra.motorCurrent[which])) << which;
        EXPECT_EQ(m.text(330 + which), text(de.motorCurrent[which])) << which;
        EXPECT_EQ(m.sliderPos(233 + which), raCurrentSlider[which]) << which;
        EXPECT_EQ(m.sliderPos(333 + which), deCurrentSlider[which]) << which;
        EXPECT_EQ(m.sliderPos(240 + which), ra.decay[which]) << which;
        EXPECT_EQ(m.sliderPos(340 + which), de.decay[which]) << which;
    }

    EXPECT_EQ(m.text(251), text(ra.thirdOvertone));
    EXPECT_EQ(m.text(351), text(de.thirdOvertone));
    EXPECT_EQ(m.sliderPos(250), ra.thirdOvertone);
    EXPECT_EQ(m.sliderPos(350), de.thirdOvertone);

    EXPECT_EQ(m.text(253), text(ra.incCurrentAt));
    EXPECT_EQ(m.text(353), text(de.incCurrentAt));
    EXPECT_EQ(m.sliderPos(252), 5);
    EXPECT_EQ(m.sliderPos(352), 0);
}

// Whether every control of the enable list that the dialog has is in state `on`.
bool enableListIs(const ui::InMemoryControlModel& m, bool on) {
    for (ui::ControlId id : ui::kEnableList) {
        if (m.hasControl(id) && m.isEnabled(id) != on) {
            return false;
        }
    }
    return true;
}

class WholeApplicationTest : public ::testing::Test {
  protected:
    // Starts a simulated controller of feature level `level` and puts its line under port 1.
    void startSimulator(int level) {
        sim::SimSetup setup;
        ASSERT_TRUE(sim::identityForLevel(level, setup.identity));
        setup.identity.hardwareVersion |= 0x0203;  // a board revision of its own
        setup.identity.portType = 2;
        setup.stored = image_;
        setup.supplyVoltage = 1187;
        identity_ = setup.identity;
        sim_ = std::make_unique<sim::PtySimulator>(std::move(setup));
        std::string error;
        ASSERT_TRUE(sim_->start(error)) << error;
        ports_.set(1, sim_->slavePath());
    }

    Application::SerialPortFactory recordingPorts() {
        return [wire = wire_] {
            return std::make_unique<RecordingPort>(platform::makeSerialPort(), wire);
        };
    }

    ApplicationOptions fastOptions() {
        ApplicationOptions options;
        auto watchedPipe = std::make_unique<test::IdleWatchPipe>();
        pipe_ = watchedPipe.get();
        options.controlOptions.pipe = std::move(watchedPipe);
        // The handshake pauses two ticks between requests and gives each request 32 ticks: short
        // ticks keep a connect fast while leaving well over a second for every answer.
        options.heartbeatInterval = 50ms;
        options.controlOptions.connectPauseMs = 0;
        return options;
    }

    // Clicks "Connect" and waits for the handshake to finish.
    static bool connect(HeadlessFrontEnd& fe, ui::InMemoryControlModel& model) {
        model.click(ui::kIdConnect);
        return fe.pumpUntil(
            [&] { return model.text(ui::kIdStatusLine) == "Connection established."; }, kWait);
    }

    // Waits until `requests` more request frames and `replies` more reply frames than at `mark`
    // have passed and the worker has handled everything queued so far, then returns the requests
    // written after `mark`. Like a user, who never acts within a millisecond, the script goes on
    // only once the controller has answered everything, so that a late acknowledgement is never
    // taken as the answer to the next request.
    std::vector<Bytes> exchange(Wire::Mark mark, size_t requests, size_t replies,
                                Application& app) {
        EXPECT_TRUE(wire_->waitFor(mark.requests + requests, mark.replies + replies));
        if (app.telescopeControl() != nullptr) {
            EXPECT_TRUE(pipe_->waitReaderIdle(10000));
        }
        return wire_->requestsFrom(mark.requests);
    }

    void TearDown() override {
        if (sim_) {
            sim_->stop();
        }
    }

    sim::ConfigImage image_ = distinctImage();
    sim::DeviceIdentity identity_;
    std::unique_ptr<sim::PtySimulator> sim_;
    std::shared_ptr<Wire> wire_ = std::make_shared<Wire>();
    platform::PortTable ports_;
    test::IdleWatchPipe* pipe_ = nullptr;  // owned by the application's link
};

const std::vector<Bytes> kHandshakeLevel6 = {ask(0x01), ask(0x03), ask(0x02), ask(0x14),
                                             ask(0x15), ask(0x3D), ask(0x64)};
const std::vector<Bytes> kHandshakeLevel4 = {ask(0x01), ask(0x03), ask(0x02), ask(0x14), ask(0x15)};

TEST_F(WholeApplicationTest, LevelSixSessionFromConnectToDisconnect) {
    ASSERT_NO_FATAL_FAILURE(startSimulator(6));
    HeadlessFrontEnd frontEnd;
    Application app(frontEnd, recordingPorts(), ports_, fastOptions());
    constexpr uint32_t kNewRaMaxSpeed = 1234;
    constexpr uint32_t kNewRaGear = 287200;
    constexpr uint32_t kNewDeGear = 164000;
    std::string latitudeShown;
    bool germanShown = true;
    bool forkShown = false;

    frontEnd.setScript(
        [&](HeadlessFrontEnd& fe, ui::InMemoryControlModel& model, ui::DlgConfig& dialog) {
            EXPECT_TRUE(enableListIs(model, false));
            EXPECT_FALSE(model.isEnabled(ui::kIdAdvancedSettings));

            ASSERT_TRUE(connect(fe, model)) << model.text(ui::kIdStatusLine);
            EXPECT_EQ(exchange({}, kHandshakeLevel6.size(), kHandshakeLevel6.size(), app),
                      kHandshakeLevel6);
            EXPECT_EQ(model.text(ui::kIdIdentityLine), identityLine(identity_));
            expectShowsConfiguration(model, image_);
            EXPECT_TRUE(enableListIs(model, true));
            EXPECT_TRUE(model.isEnabled(ui::kIdAdvancedSettings));

            // A new RA max speed typed and left: both axes go out, DE from what the controller
            // said.
            Wire::Mark mark = wire_->mark();
            model.enterText(ui::kIdMaxSpeedRa, std::to_string(kNewRaMaxSpeed));
            const Bytes maxSpeeds = Frame()
                                        .u8(0x35)
                                        .u8(0x00)
                                        .u8(0xC0)
                                        .u16(kNewRaMaxSpeed)
                                        .u16(image_.axis[sim::kDe].maxSpeed);
            EXPECT_EQ(exchange(mark, 1, 1, app), std::vector<Bytes>{maxSpeeds});
            EXPECT_EQ(model.sliderPos(ui::kIdMaxSpeedSliderRa), 39);

            // The RA acceleration slider released at step 3; DE stays on its step.
            mark = wire_->mark();
            model.releaseSlider(ui::kIdAccelSliderRa, 3);
            const Bytes accelerations =
                Frame().u8(0x37).u8(0x00).u8(0xC0).u8(48).u8(image_.axis[sim::kDe].acceleration);
            EXPECT_EQ(exchange(mark, 1, 1, app), std::vector<Bytes>{accelerations});
            EXPECT_EQ(model.text(ui::kIdAccelRa), "48");

            // Advanced settings opened on what the controller reported, then cancelled: nothing is
            // sent. The gear ratios confirmed next are the first thing on the wire after it.
            mark = wire_->mark();
            model.scriptNextModal([&](ui::InMemoryControlModel& child) {
                latitudeShown = child.text(ui::site_dlg::kLatitude);
                germanShown = child.isChecked(ui::site_dlg::kEquatorialGerman);
                forkShown = child.isChecked(ui::site_dlg::kEquatorialFork);
                child.typeText(ui::site_dlg::kHysteresis, "12");
                child.click(ui::kIdCancel);
            });
            model.click(ui::kIdAdvancedSettings);
            EXPECT_EQ(latitudeShown, "N 48:08:14");
            EXPECT_FALSE(germanShown);
            EXPECT_TRUE(forkShown);

            model.scriptNextModal([&](ui::InMemoryControlModel& child) {
                EXPECT_EQ(child.text(ui::gear_dlg::kRa),
                          std::to_string(image_.axis[sim::kRa].gearRatio));
                child.typeText(ui::gear_dlg::kRa, std::to_string(kNewRaGear));
                child.typeText(ui::gear_dlg::kDe, std::to_string(kNewDeGear));
                child.click(ui::kIdOk);
            });
            model.click(ui::kIdChangeGearRatio);
            // The fields follow the controller's answer, not the dialog.
            EXPECT_EQ(model.text(ui::kIdGearRa), std::to_string(image_.axis[sim::kRa].gearRatio));
            EXPECT_TRUE(fe.pumpUntil(
                [&] {
                    return model.text(ui::kIdGearRa) == std::to_string(kNewRaGear) &&
                           model.text(ui::kIdGearDe) == std::to_string(kNewDeGear);
                },
                kWait))
                << model.text(ui::kIdGearRa) << " / " << model.text(ui::kIdGearDe);
            const std::vector<Bytes> gearExchange = {
                Frame().u8(0x1A).u8(0x01).u8(0xC0).u32(kNewRaGear).u32(kNewDeGear), ask(0x14)};
            EXPECT_EQ(exchange(mark, 2, 2, app), gearExchange);
            EXPECT_EQ(dialog.gearRatios(), (ui::GearRatios{kNewRaGear, kNewDeGear}));
            // Only the gear ratios changed: the rest still shows what was sent or reported.
            EXPECT_EQ(model.text(ui::kIdMaxSpeedRa), std::to_string(kNewRaMaxSpeed));
            EXPECT_EQ(model.text(ui::kIdMaxCurrentDe), "2000");

            // A supply voltage reading comes back into its field.
            mark = wire_->mark();
            model.click(ui::kIdMeasureVoltage);
            EXPECT_TRUE(fe.pumpUntil([&] { return model.text(ui::kIdVoltage) == "11.87V"; }, kWait))
                << model.text(ui::kIdVoltage);
            EXPECT_EQ(exchange(mark, 1, 1, app),
                      std::vector<Bytes>{Frame().u8(0x2B).u8(0x00).u8(0x00)});

            mark = wire_->mark();
            model.click(ui::kIdDisconnect);
            EXPECT_TRUE(fe.pumpUntil(
                [&] { return model.text(ui::kIdStatusLine) == "Connection closed"; }, kWait))
                << model.text(ui::kIdStatusLine);
            EXPECT_TRUE(enableListIs(model, false));
            EXPECT_FALSE(model.isEnabled(ui::kIdAdvancedSettings));
            EXPECT_EQ(wire_->closes(), 1);
            EXPECT_TRUE(wire_->requestsFrom(mark.requests).empty());
        });

    EXPECT_EQ(app.run(), 0);
    EXPECT_TRUE(app.heartBeatStopped());
    EXPECT_EQ(wire_->opens(), 1);
    EXPECT_EQ(wire_->closes(), 1) << "a port closed by Disconnect is not closed again";
    EXPECT_EQ(wire_->requests().size(), kHandshakeLevel6.size() + 5) << "nothing stray on the wire";

    // The controller took what the user set.
    sim_->stop();
    const sim::ConfigImage& live = sim_->controller().device().live();
    EXPECT_EQ(live.axis[sim::kRa].maxSpeed, kNewRaMaxSpeed);
    EXPECT_EQ(live.axis[sim::kDe].maxSpeed, image_.axis[sim::kDe].maxSpeed);
    EXPECT_EQ(live.axis[sim::kRa].acceleration, 48);
    EXPECT_EQ(live.axis[sim::kRa].gearRatio, kNewRaGear);
    EXPECT_EQ(live.axis[sim::kDe].gearRatio, kNewDeGear);
    EXPECT_EQ(live.meridianFlipHysteresis, image_.meridianFlipHysteresis);
}

// A level-4 controller is served with its motor settings, but without the site settings it does
// not have; the dialog is closed while it is still connected.
TEST_F(WholeApplicationTest, LevelFourControllerAndClosingWhileConnected) {
    ASSERT_NO_FATAL_FAILURE(startSimulator(4));
    HeadlessFrontEnd frontEnd;
    Application app(frontEnd, recordingPorts(), ports_, fastOptions());

    frontEnd.setScript([&](HeadlessFrontEnd& fe, ui::InMemoryControlModel& model, ui::DlgConfig&) {
        ASSERT_TRUE(connect(fe, model)) << model.text(ui::kIdStatusLine);
        EXPECT_EQ(exchange({}, kHandshakeLevel4.size(), kHandshakeLevel4.size(), app),
                  kHandshakeLevel4);
        EXPECT_EQ(model.text(ui::kIdIdentityLine), identityLine(identity_));
        expectShowsConfiguration(model, image_);
        EXPECT_TRUE(enableListIs(model, true));
        EXPECT_FALSE(model.isEnabled(ui::kIdAdvancedSettings));
        EXPECT_FALSE(model.click(ui::kIdAdvancedSettings));
        EXPECT_EQ(model.countCalls(ui::CallKind::kRunModal), 0u);

        model.close();
        EXPECT_TRUE(model.ended());
    });

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(app.run(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, kWait);
    EXPECT_TRUE(app.heartBeatStopped());
    EXPECT_EQ(wire_->opens(), 1);
    EXPECT_EQ(wire_->closes(), 1);
    EXPECT_EQ(wire_->closedOn(), std::this_thread::get_id()) << "closed at shutdown";
    EXPECT_EQ(wire_->requests(), kHandshakeLevel4);
}

// Closing while the handshake is still under way: the worker stops between two requests (or in
// the middle of one exchange), the port is closed once, and the program ends.
TEST_F(WholeApplicationTest, ClosingDuringTheHandshakeEndsCleanly) {
    ASSERT_NO_FATAL_FAILURE(startSimulator(6));
    HeadlessFrontEnd frontEnd;
    Application app(frontEnd, recordingPorts(), ports_, fastOptions());

    frontEnd.setScript([&](HeadlessFrontEnd& fe, ui::InMemoryControlModel& model, ui::DlgConfig&) {
        model.click(ui::kIdConnect);
        ASSERT_TRUE(wire_->waitFor(1, 0));
        fe.pump();
        model.close();
    });

    EXPECT_EQ(app.run(), 0);
    EXPECT_TRUE(app.heartBeatStopped());
    EXPECT_EQ(wire_->opens(), 1);
    EXPECT_EQ(wire_->closes(), 1);
    const std::vector<Bytes> sent = wire_->requests();
    ASSERT_FALSE(sent.empty());
    ASSERT_LE(sent.size(), kHandshakeLevel6.size());
    EXPECT_EQ(sent, std::vector<Bytes>(
                        kHandshakeLevel6.begin(),
                        kHandshakeLevel6.begin() + static_cast<std::ptrdiff_t>(sent.size())));
}

// Waits, pumping, for the answer a settings-net call gives through its callback.
template <class T, class Call>
bool await(HeadlessFrontEnd& fe, Call call, T& out) {
    bool answered = false;
    call([&](T value) {
        out = std::move(value);
        answered = true;
    });
    return fe.pumpUntil([&] { return answered; }, kWait);
}

// The requests after `mark` that are not part of a read-back's handshake.
std::vector<Bytes> writesOnly(const std::vector<Bytes>& requests) {
    std::vector<Bytes> out;
    for (const Bytes& r : requests) {
        if (std::find(kHandshakeLevel6.begin(), kHandshakeLevel6.end(), r) ==
            kHandshakeLevel6.end()) {
            out.push_back(r);
        }
    }
    return out;
}

settings::SettingsImage readBackup(const std::string& path) {
    std::string text;
    std::string error;
    settings::SettingsImage image;
    EXPECT_TRUE(settings::readFileText(path, text, error)) << error;
    EXPECT_TRUE(settings::parseBackupText(text, image, error)) << error;
    return image;
}

// The safety net in the running program: a snapshot at connect, the "not saved" mark, undo since
// connecting, a backup, and a hostile file; each read-back is not taken for the user's reconnect.
TEST_F(WholeApplicationTest, SafetyNetSnapshotsMarksUndoesAndBacksUp) {
    ASSERT_NO_FATAL_FAILURE(startSimulator(6));
    char folder[] = "/tmp/vornic-net-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string data = folder;
    HeadlessFrontEnd frontEnd;
    ApplicationOptions options = fastOptions();
    options.safetyNet.snapshotRoot = data + "/snapshots";
    Application app(frontEnd, recordingPorts(), ports_, std::move(options));
    int portLetGo = 0;
    app.setSessionHooks({[&] { ++portLetGo; }, nullptr});
    const auto maxSpeeds = [&](uint32_t ra) -> Bytes {
        return Frame().u8(0x35).u8(0x00).u8(0xC0).u16(ra).u16(image_.axis[sim::kDe].maxSpeed);
    };
    settings::SettingsImage backup;

    frontEnd.setScript([&](HeadlessFrontEnd& fe, ui::InMemoryControlModel& model,
                           ui::DlgConfig& dialog) {
        SafetyNet& net = *app.safetyNet();
        EXPECT_EQ(dialog.settingsNet(), &net);
        const auto clicked = std::chrono::steady_clock::now();
        ASSERT_TRUE(connect(fe, model)) << model.text(ui::kIdStatusLine);
        const auto established = std::chrono::steady_clock::now();
        // Nothing is posted when the snapshot is down, so this looks rather than waits for a post.
        while (net.lastSnapshot().empty() && std::chrono::steady_clock::now() - clicked < kWait) {
            fe.pump();
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_FALSE(net.lastSnapshot().empty());
        const auto onDisk = std::chrono::steady_clock::now();
        const auto ms = [](auto d) {
            return static_cast<long long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
        };
        std::printf("[ figure ] Connect clicked to snapshot on disk: %lld ms (handshake %lld ms)\n",
                    ms(onDisk - clicked), ms(established - clicked));
        exchange({}, kHandshakeLevel6.size(), kHandshakeLevel6.size(), app);
        const settings::SettingsImage snapshot = readBackup(net.lastSnapshot());
        EXPECT_EQ(snapshot.values.maxSpeed[0], image_.axis[sim::kRa].maxSpeed);
        EXPECT_EQ(snapshot.values.gearRatio[1], image_.axis[sim::kDe].gearRatio);
        EXPECT_EQ(snapshot.values.motorCurrent[1][2], image_.axis[sim::kDe].motorCurrent[2]);
        EXPECT_TRUE(net.connected());
        EXPECT_FALSE(net.notSaved());

        // A change sets the mark, an acknowledged save clears it.
        Wire::Mark mark = wire_->mark();
        model.enterText(ui::kIdMaxSpeedRa, "1234");
        exchange(mark, 1, 1, app);
        fe.pump();
        EXPECT_TRUE(net.notSaved());
        model.click(ui::kIdSaveSettings);
        EXPECT_TRUE(fe.pumpUntil([&] { return !net.notSaved(); }, kWait));

        // Undo lists the one setting changed since connecting and sends only it.
        mark = wire_->mark();
        model.enterText(ui::kIdMaxSpeedRa, "1300");
        exchange(mark, 1, 1, app);
        fe.pump();
        const std::string statusBefore = model.text(ui::kIdStatusLine);
        model.clearCalls();
        ui::Preview preview;
        const auto asked = std::chrono::steady_clock::now();
        ASSERT_TRUE(await(
            fe, [&](auto done) { net.preview("", done); }, preview));
        std::printf("[ figure ] preview of undo ready: %lld ms\n",
                    ms(std::chrono::steady_clock::now() - asked));
        ASSERT_TRUE(preview.ok) << preview.error;
        ASSERT_EQ(preview.rows.size(), 1u);
        EXPECT_EQ(preview.rows[0].setting, "RA max speed");
        EXPECT_EQ(preview.rows[0].now, "1300");
        EXPECT_EQ(preview.rows[0].other, "600");
        mark = wire_->mark();
        ui::RestoreOutcome outcome;
        ASSERT_TRUE(await(
            fe, [&](auto done) { net.restore(preview, false, done); }, outcome));
        EXPECT_TRUE(outcome.ok) << outcome.message;
        EXPECT_EQ(outcome.message, "Restored and verified: 1 setting");
        EXPECT_EQ(writesOnly(wire_->requestsFrom(mark.requests)),
                  std::vector<Bytes>{maxSpeeds(image_.axis[sim::kRa].maxSpeed)});
        EXPECT_TRUE(net.notSaved());
        EXPECT_TRUE(net.connected());
        EXPECT_EQ(portLetGo, 0) << "a read-back is not the user's disconnect";
        fe.pump();
        EXPECT_EQ(model.text(ui::kIdMaxSpeedRa), "600");

        // The list reads back once after the restore sent something; opened again with nothing
        // sent in between, it uses that read and the port stays open.
        const int opensBefore = wire_->opens();
        for (int open = 0; open < 2; ++open) {
            std::vector<ui::SnapshotEntry> list;
            ASSERT_TRUE(await(
                fe, [&](auto done) { net.snapshots(done); }, list));
            EXPECT_EQ(wire_->opens(), opensBefore + 1) << "open " << open;
            ASSERT_EQ(list.size(), 1u);
            EXPECT_EQ(list[0].differing, 0);
        }
        // So does a preview.
        ASSERT_TRUE(await(
            fe, [&](auto done) { net.preview("", done); }, preview));
        EXPECT_TRUE(preview.ok && preview.rows.empty()) << preview.error;
        EXPECT_EQ(wire_->opens(), opensBefore + 1);
        // None of these read-backs was news for the status line: it said nothing of a closed or
        // new connection, and the controls stayed usable.
        fe.pump();
        for (const ui::ModelCall& call : model.calls()) {
            if (call.kind == ui::CallKind::kSetText && call.id == ui::kIdStatusLine) {
                ADD_FAILURE() << "status line during read-backs: " << call.text;
            }
        }
        EXPECT_EQ(model.text(ui::kIdStatusLine), statusBefore);
        EXPECT_TRUE(enableListIs(model, true));

        // A backup after a change holds the change: what the controller holds, read from it.
        mark = wire_->mark();
        model.enterText(ui::kIdMaxSpeedRa, "700");
        exchange(mark, 1, 1, app);
        std::string error;
        ASSERT_TRUE(net.backUp(data + "/backup.json", error)) << error;
        backup = readBackup(data + "/backup.json");
        EXPECT_EQ(net.defaultBackupName().rfind("vornic-HW_", 0), 0u) << net.defaultBackupName();

        // A hostile file is refused before anything is sent.
        std::ofstream(data + "/hostile.json")
            << R"({"vornicBackup":1,"settings":{"maxSpeed":[1,-1e999]}})";
        fe.pump();
        mark = wire_->mark();
        ASSERT_TRUE(await(
            fe, [&](auto done) { net.preview(data + "/hostile.json", done); }, preview));
        EXPECT_FALSE(preview.ok);
        EXPECT_FALSE(preview.error.empty());
        std::printf("[ info ] hostile file: %s\n", preview.error.c_str());
        EXPECT_TRUE(wire_->requestsFrom(mark.requests).empty());

        std::vector<ui::SnapshotEntry> list;
        ASSERT_TRUE(await(
            fe, [&](auto done) { net.snapshots(done); }, list));
        ASSERT_EQ(list.size(), 1u) << "no snapshot for a read-back";
        EXPECT_EQ(list[0].differing, 1);
    });

    EXPECT_EQ(app.run(), 0);
    sim_->stop();
    const sim::ConfigImage& live = sim_->controller().device().live();
    EXPECT_EQ(live.axis[sim::kRa].maxSpeed, 700u);
    EXPECT_EQ(backup.values.maxSpeed[0], live.axis[sim::kRa].maxSpeed);
    EXPECT_EQ(backup.values.acceleration[1], live.axis[sim::kDe].acceleration);
    EXPECT_EQ(backup.values.motorCurrent[0][1], live.axis[sim::kRa].motorCurrent[1]);
    EXPECT_EQ(backup.values.gearRatio[0], live.axis[sim::kRa].gearRatio);
    EXPECT_EQ(std::system(("rm -rf '" + data + "'").c_str()), 0);
}

// A snapshot that cannot be written (a file stands where its folder would go, which holds even for
// root) is said in the status line; the connection is up and usable all the same.
TEST_F(WholeApplicationTest, SnapshotThatCannotBeWrittenIsSaidAndConnectingGoesOn) {
    ASSERT_NO_FATAL_FAILURE(startSimulator(6));
    char blocker[] = "/tmp/vornic-no-folder-XXXXXX";
    const int fd = ::mkstemp(blocker);
    ASSERT_GE(fd, 0);
    ::close(fd);
    HeadlessFrontEnd frontEnd;
    ApplicationOptions options = fastOptions();
    options.safetyNet.snapshotRoot = std::string(blocker) + "/snapshots";
    Application app(frontEnd, recordingPorts(), ports_, std::move(options));

    frontEnd.setScript([&](HeadlessFrontEnd& fe, ui::InMemoryControlModel& model, ui::DlgConfig&) {
        model.click(ui::kIdConnect);
        const std::string said = "Error: snapshot not written: ";
        ASSERT_TRUE(
            fe.pumpUntil([&] { return model.text(ui::kIdStatusLine).rfind(said, 0) == 0; }, kWait))
            << model.text(ui::kIdStatusLine);
        std::printf("[ info ] %s\n", model.text(ui::kIdStatusLine).c_str());
        EXPECT_GT(model.text(ui::kIdStatusLine).size(), said.size()) << "no reason given";
        EXPECT_TRUE(app.safetyNet()->connected());
        EXPECT_TRUE(app.safetyNet()->lastSnapshot().empty());
        EXPECT_EQ(model.text(ui::kIdIdentityLine), identityLine(identity_));
        EXPECT_TRUE(enableListIs(model, true));

        // Usable: a change reaches the controller.
        const Wire::Mark mark = wire_->mark();
        model.enterText(ui::kIdMaxSpeedRa, "1234");
        exchange(mark, 1, 1, app);
    });

    EXPECT_EQ(app.run(), 0);
    sim_->stop();
    EXPECT_EQ(sim_->controller().device().live().axis[sim::kRa].maxSpeed, 1234u);
    EXPECT_EQ(::unlink(blocker), 0);
}

// Closing the window while a preview reads the controller back: the program ends promptly, the
// answer never reaches the dialog that is gone, and nothing is sent after the read-back's own
// requests.
TEST_F(WholeApplicationTest, ClosingWhileTheSafetyNetWorksEndsCleanly) {
    ASSERT_NO_FATAL_FAILURE(startSimulator(6));
    HeadlessFrontEnd frontEnd;
    Application app(frontEnd, recordingPorts(), ports_, fastOptions());
    int answers = 0;

    frontEnd.setScript([&](HeadlessFrontEnd& fe, ui::InMemoryControlModel& model, ui::DlgConfig&) {
        ASSERT_TRUE(connect(fe, model)) << model.text(ui::kIdStatusLine);
        ASSERT_TRUE(fe.pumpUntil([&] { return app.safetyNet()->connected(); }, kWait));
        app.safetyNet()->preview("", [&](ui::Preview) { ++answers; });
        model.close();
    });

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(app.run(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, kWait);
    EXPECT_TRUE(app.heartBeatStopped());
    EXPECT_EQ(answers, 0);
    EXPECT_TRUE(writesOnly(wire_->requests()).empty());
}

}  // namespace
}  // namespace vornic

#endif  // _WIN32
