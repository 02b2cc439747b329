// The desktop program's three figures, measured on the real program (vornic --simulate):
//   - start-up (from main()) until the main window's first frame is complete;
//   - resident memory once connected to the simulator;
//   - CPU time and thread wake-ups (context switches of every thread) over 10 s of the idle,
//     connected window.
// Run it on the display to be measured, e.g. xvfb-run -a build/default/desktop/qt/vornic-figures;
// with program options (--port PATH) it measures only the start-up, then closes the window.
//
// --minimal shows instead a plain Qt dialog with the main window's widgets (the same kinds and
// counts, texts, places and menu bar, nothing behind them), as the yardstick for the start-up.
// --compare [RUNS] starts both, by turns, RUNS times each (default 7) in fresh processes and
// prints the median of each figure and the ratio of the CPU times.
//
// With VORNIC_FIGURES_STOP_AT_PAINT set the process ends at the first paint, so that an
// instruction count, which the machine's load does not move, covers the start-up alone:
//   VORNIC_FIGURES_STOP_AT_PAINT=1 xvfb-run -a valgrind --tool=callgrind vornic-figures --minimal

#include <sys/resource.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "desktop/qt/Program.h"
#include "desktop/qt/QtDialog.h"
#include "desktop/qt/QtFrontEnd.h"
#include "ui/Layout.h"
#include "ui/MainDialogIds.h"

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point kStart = Clock::now();

long statusField(const std::string& path, const std::string& key) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::stol(line.substr(key.size()));
        }
    }
    return 0;
}

// Context switches per thread (by task id), and their sum.
std::map<std::string, long> perThread;

long contextSwitches() {
    long total = 0;
    perThread.clear();
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs)) {
        if (task.startsWith('.')) {
            continue;
        }
        const std::string path = "/proc/self/task/" + task.toStdString() + "/status";
        const long n = statusField(path, "voluntary_ctxt_switches:") +
                       statusField(path, "nonvoluntary_ctxt_switches:");
        perThread[task.toStdString()] = n;
        total += n;
    }
    return total;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

// The first frame of the window is complete once its own paint event and those of all its
// controls have run, one after the other; the first event of any other kind after them marks it.
// (A modal window is activated at once, and its activation repaints it: that second frame, which
// comes sooner or later depending on the display, is not counted.)
class FirstPaint final : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (painted) {
            return false;
        }
        if (!started) {
            started = event->type() == QEvent::Paint && qobject_cast<QDialog*>(watched);
        } else if (event->type() != QEvent::Paint) {
            painted = true;
            ms = std::chrono::duration<double, std::milli>(Clock::now() - kStart).count();
            cpuMs = cpuSeconds() * 1000.0;
            if (std::getenv("VORNIC_FIGURES_STOP_AT_PAINT") != nullptr) {
                std::_Exit(0);  // a profiler's count then covers the start-up alone
            }
        }
        return false;
    }
    bool started = false;
    bool painted = false;
    double ms = 0;
    double cpuMs = 0;  // CPU time by then: steadier than the wall clock on a busy machine
};

// The names of the process's threads, in the order of their ids.
std::string threadNames() {
    std::string names;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream in("/proc/self/task/" + task.toStdString() + "/comm");
        std::string name;
        std::getline(in, name);
        names += (names.empty() ? "" : ", ") + name;
    }
    return names;
}

int threadCount() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/task"))
                                .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                .size());
}

void printFirstPaint(const FirstPaint& firstPaint) {
    std::printf("start-up to first paint: %.1f ms (%.1f ms CPU), %d threads\n", firstPaint.ms,
                firstPaint.cpuMs, threadCount());
    std::printf("threads at first paint: %s\n", threadNames().c_str());
}

// The yardstick: the main window's widgets as plain Qt makes them, at the same places, with the
// same texts and the same menu bar, and nothing else: no logic, no names for assistive
// technology, no tool tips, no fitting of texts. A group is a plain boxed frame: QGroupBox would
// load every image-format plugin on its first paint under Fusion, a cost no plain dialog needs.
int runMinimal(int argc, char** argv) {
    QApplication app(argc, argv);
    const vornic::ui::DialogLayout& layout =
        *vornic::ui::findDialogLayout(vornic::ui::kMainDialogId);
    QDialog window;
    window.setWindowTitle(QString::fromUtf8(layout.caption));
    const auto units = vornic::ui::qt::DialogUnits::forFont(window.font());
    int top = 0;
    if (const auto menus = vornic::ui::dialogMenus(layout.id); !menus.empty()) {
        auto* bar = new QMenuBar(&window);
        for (const vornic::ui::MenuLayout& m : menus) {
            QMenu* menu = bar->addMenu(QString::fromUtf8(m.title));
            for (const vornic::ui::MenuItemLayout& item : m.items) {
                menu->addAction(QString::fromUtf8(item.text));
            }
        }
        top = bar->sizeHint().height();
        bar->setGeometry(0, 0, units.x(layout.width), top);
    }
    window.setFixedSize(units.x(layout.width), units.y(layout.height) + top);
    using vornic::ui::ControlKind;
    for (const vornic::ui::ControlLayout& c : layout.controls) {
        const QString text = QString::fromUtf8(c.text);
        QWidget* w = nullptr;
        switch (c.kind) {
            case ControlKind::kLabel:
            case ControlKind::kLabelRight:
            case ControlKind::kLabelCentre:
                w = new QLabel(text, &window);
                break;
            case ControlKind::kEdit:
            case ControlKind::kReadOnlyEdit:
                w = new QLineEdit(&window);
                break;
            case ControlKind::kButton:
            case ControlKind::kPictureButton:
                w = new QPushButton(text, &window);
                break;
            case ControlKind::kPushLikeCheck: {
                auto* push = new QPushButton(text, &window);
                push->setCheckable(true);
                w = push;
                break;
            }
            case ControlKind::kCheckBox:
                w = new QCheckBox(text, &window);
                break;
            case ControlKind::kRadioButton:
                w = new QRadioButton(text, &window);
                break;
            case ControlKind::kGroupBox:
            case ControlKind::kEtchedLine: {
                auto* frame = new QFrame(&window);
                frame->setFrameShape(c.kind == ControlKind::kGroupBox ? QFrame::Box
                                                                      : QFrame::HLine);
                w = frame;
                break;
            }
            case ControlKind::kDropDownList:
                w = new QComboBox(&window);
                break;
            case ControlKind::kSlider:
                w = new QSlider(Qt::Horizontal, &window);
                break;
            case ControlKind::kTable:
                w = new QTableWidget(&window);
                break;
        }
        const vornic::ui::Rect r = vornic::ui::visibleRect(c);
        w->setGeometry(units.x(r.x), units.y(r.y) + top, units.x(r.x + r.w) - units.x(r.x),
                       units.y(r.y + r.h) - units.y(r.y));
        if (c.kind == ControlKind::kGroupBox) {
            w->lower();
        }
    }
    FirstPaint firstPaint;
    app.installEventFilter(&firstPaint);
    window.setModal(true);  // as the main window, which runs modally
    window.show();
    waitFor([&] { return firstPaint.painted; }, 5000);
    printFirstPaint(firstPaint);
    return 0;
}

struct StartFigures {
    double ms = 0;
    double cpuMs = 0;
    int threads = 0;
    std::string names;
};

// Runs this program with `option` and reads its start-up figures; false if it printed none.
bool measureOnce(const QString& self, const QStringList& options, StartFigures& figures) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(self, options);
    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished();
        return false;
    }
    const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split('\n');
    bool found = false;
    for (const QString& line : lines) {
        const std::string text = line.toStdString();
        if (std::sscanf(text.c_str(), "start-up to first paint: %lf ms (%lf ms CPU), %d threads",
                        &figures.ms, &figures.cpuMs, &figures.threads) == 3) {
            found = true;
        } else if (line.startsWith(QStringLiteral("threads at first paint: "))) {
            figures.names = text.substr(std::strlen("threads at first paint: "));
        }
    }
    return found;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    std::string five;
    in >> one >> five;
    return one + " " + five;
}

// Both start-ups by turns, so that a change in the machine's load touches both alike.
int compare(int runs) {
    char path[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        std::fprintf(stderr, "vornic-figures: cannot find its own program file\n");
        return 1;
    }
    const QString self = QString::fromLocal8Bit(path, static_cast<qsizetype>(length));
    struct Subject {
        const char* name;
        QStringList options;
        std::vector<double> ms = {};
        std::vector<double> cpuMs = {};
        std::vector<double> threads = {};
        std::string names = {};
    };
    Subject subjects[] = {
        {"vornic --port /dev/null", {QStringLiteral("--port"), QStringLiteral("/dev/null")}},
        {"minimal dialog", {QStringLiteral("--minimal")}},
    };
    std::printf("load average before: %s\n", loadAverage().c_str());
    for (int i = 0; i < runs; ++i) {
        for (Subject& subject : subjects) {
            StartFigures figures;
            if (!measureOnce(self, subject.options, figures)) {
                std::fprintf(stderr, "vornic-figures: %s printed no start-up figures\n",
                             subject.name);
                return 1;
            }
            subject.ms.push_back(figures.ms);
            subject.cpuMs.push_back(figures.cpuMs);
            subject.threads.push_back(figures.threads);
            subject.names = figures.names;
        }
    }
    std::printf("load average after: %s\n", loadAverage().c_str());
    for (const Subject& subject : subjects) {
        const auto [least, most] = std::minmax_element(subject.cpuMs.begin(), subject.cpuMs.end());
        std::printf(
            "%s: first frame after %.1f ms CPU (%.1f to %.1f), %.1f ms wall, median of %d; %.0f "
            "threads: %s\n",
            subject.name, median(subject.cpuMs), *least, *most, median(subject.ms), runs,
            median(subject.threads), subject.names.c_str());
    }
    std::printf("ratio of the CPU times to the first frame: %.2f\n",
                median(subjects[0].cpuMs) / median(subjects[1].cpuMs));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--compare") == 0) {
        const int runs = argc >= 3 ? std::atoi(argv[2]) : 7;
        return compare(std::clamp(runs, 1, 100));
    }
    if (argc >= 2 && std::strcmp(argv[1], "--minimal") == 0) {
        return runMinimal(argc, argv);
    }
    // With options of its own (e.g. --port /dev/ttyUSB0) only the start is measured: the window
    // is closed after its first paint.
    char simulate[] = "--simulate";
    char* defaults[] = {argv[0], simulate, nullptr};
    const bool startOnly = argc > 1;
    char** args = startOnly ? argv : defaults;
    int count = startOnly ? argc : 2;
    FirstPaint firstPaint;
    return vornic::ui::qt::runProgram(
        count, args, [&](vornic::ui::qt::QtFrontEnd& frontEnd, vornic::Application&) {
            qApp->installEventFilter(&firstPaint);
            frontEnd.setShownHook([&](vornic::ui::qt::QtDialog& w, vornic::ui::DlgConfig&) {
                waitFor([&] { return firstPaint.painted; }, 5000);
                printFirstPaint(firstPaint);
                if (startOnly) {
                    w.window().close();
                    return;
                }
                static_cast<QAbstractButton*>(w.widget(vornic::ui::kIdConnect))->click();
                waitFor(
                    [&] { return w.text(vornic::ui::kIdStatusLine) == "Connection established."; },
                    15000);
                std::printf("status: %s\n", w.text(vornic::ui::kIdStatusLine).c_str());
                std::printf("resident memory, connected: %.1f MB\n",
                            statusField("/proc/self/status", "VmRSS:") / 1024.0);
                const double cpu0 = cpuSeconds();
                const long switches0 = contextSwitches();
                const std::map<std::string, long> before = perThread;
                QEventLoop idle;
                QTimer::singleShot(10000, &idle, &QEventLoop::quit);
                idle.exec();
                const double cpu = cpuSeconds() - cpu0;
                const long switches = contextSwitches() - switches0;
                std::printf("idle 10 s: CPU %.3f %% of a core, %.1f wake-ups/s (all threads)\n",
                            cpu / 10.0 * 100.0, switches / 10.0);
                for (const auto& [task, n] : perThread) {
                    const auto was = before.find(task);
                    const long delta = n - (was == before.end() ? 0 : was->second);
                    std::printf("  thread %s: %.1f/s\n", task.c_str(), delta / 10.0);
                }
                w.window().close();
            });
        });
}
