#include "QtHarness.h"

#include <QAbstractButton>
#include <QFont>
#include <QThread>
#include <QTimer>
#include <cstdlib>
#include <thread>

namespace vornic::qttest {

using namespace std::chrono;

namespace {

QApplication* application = nullptr;

// The application goes before the program's exit handlers run, while Qt's own globals still exist.
class ApplicationEnvironment final : public ::testing::Environment {
  public:
    void TearDown() override {
        delete application;
        application = nullptr;
    }
};

[[maybe_unused]] const ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

}  // namespace

void ensureApplication() {
    if (QApplication::instance() != nullptr) {
        return;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    static int argc = 1;
    static char name[] = "vornic_tests_qt";
    static char* argv[] = {name, nullptr};
    application = new QApplication(argc, argv);
    // A larger system font, as a user who needs one would have set it.
    if (const char* points = std::getenv("VORNIC_TEST_FONT_POINTS")) {
        QFont font = QApplication::font();
        font.setPointSize(std::atoi(points));
        QApplication::setFont(font);
    }
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    while (!done()) {
        if (steady_clock::now() > deadline) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

std::vector<Bytes> settledFrom(const Wire& wire, size_t from, int quietMs) {
    size_t seen = wire.count();
    auto stableSince = steady_clock::now();
    while (steady_clock::now() - stableSince < milliseconds(quietMs)) {
        QTest::qWait(10);
        const size_t now = wire.count();
        if (now != seen) {
            seen = now;
            stableSince = steady_clock::now();
        }
    }
    return wire.requestsFrom(from);
}

void ProgramFixture::startSimulator(int level, const sim::FaultPlan& faults) {
    sim::SimSetup setup;
    ASSERT_TRUE(sim::identityForLevel(level, setup.identity));
    setup.stored = image_;
    setup.faults = faults;
    sim_ = std::make_unique<sim::PtySimulator>(std::move(setup));
    std::string error;
    ASSERT_TRUE(sim_->start(error)) << error;
    portList_ = std::make_unique<PortList>([this] { return present_; }, ports_, "",
                                           sim_->slavePath(), true);
    frontEnd_.setPortList(*portList_);
}

void ProgramFixture::runProgram(
    const std::function<void(ui::qt::QtDialog&, ui::DlgConfig&)>& script) {
    ApplicationOptions options;
    // Short ticks keep a connect fast while leaving well over a second for every answer.
    options.heartbeatInterval = milliseconds(50);
    options.controlOptions.connectPauseMs = 0;
    if (!snapshotRoot_.empty()) {
        options.safetyNet.snapshotRoot = snapshotRoot_;
    }
    auto wire = wire_;
    ui::qt::QtFrontEnd& frontEnd = frontEnd_;
    Application app(
        frontEnd_,
        [wire] { return std::make_unique<RecordingPort>(platform::makeSerialPort(), wire); },
        ports_, std::move(options));
    app.setSessionHooks(
        {[this] {
             if (portList_) {
                 portList_->connectionEnded();
             }
         },
         [&frontEnd](const std::string& text) { frontEnd.setStatusToolTip(text); }});
    frontEnd_.setShownHook([&](ui::qt::QtDialog& window, ui::DlgConfig& dialog) {
        window.window().activateWindow();
        script(window, dialog);
        if (!window.ended()) {
            window.window().close();
        }
    });
    EXPECT_EQ(app.run(), 0);
    EXPECT_TRUE(app.heartBeatStopped());
}

void click(ui::qt::QtDialog& window, ui::ControlId id) {
    QWidget* w = window.widget(id);
    ASSERT_NE(w, nullptr) << id;
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

}  // namespace vornic::qttest

namespace vornic::qttest {

void whenModalOpens(ui::qt::QtDialog& owner, std::function<void(ui::qt::QtDialog&)> then) {
    auto* timer = new QTimer(&owner.window());
    QObject::connect(timer, &QTimer::timeout, timer, [timer, &owner, then = std::move(then)] {
        ui::qt::QtDialog* child = owner.modalChild();
        if (child != nullptr && child->window().isVisible()) {
            timer->stop();
            timer->deleteLater();
            child->window().activateWindow();
            then(*child);
        }
    });
    timer->start(10);
}

}  // namespace vornic::qttest

#if defined(__SANITIZE_THREAD__)
// Qt comes from the distribution, built without the thread sanitizer: its own threads (the raster
// painter's thread pool, image scaling) and its own locks are invisible to it, so what Qt does
// inside itself is left out. Everything of ours, and every hand-off between our threads, is still
// checked: the UI thread's wake-up goes through a standard lock and a pipe, not through Qt.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libfontconfig.so.1\n";
}
#endif
