// The desktop program's three figures, measured on the real program (vornic --simulate):
//   - start-up to the first paint of the main window (from main());
//   - resident memory once connected to the simulator;
//   - CPU time and thread wake-ups (context switches of every thread) over 10 s of the idle,
//     connected window.
// Run it on the display to be measured, e.g. xvfb-run -a build/default/bench/vornic-figures;
// with program options (--port PATH) it measures only the start-up, then closes the window.

#include <sys/resource.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include "desktop/qt/Program.h"
#include "desktop/qt/QtFrontEnd.h"
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

class FirstPaint final : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!painted && event->type() == QEvent::Paint && qobject_cast<QDialog*>(watched)) {
            painted = true;
            ms = std::chrono::duration<double, std::milli>(Clock::now() - kStart).count();
            cpuMs = cpuSeconds() * 1000.0;
        }
        return false;
    }
    bool painted = false;
    double ms = 0;
    double cpuMs = 0;  // CPU time by then: steadier than the wall clock on a busy machine
};

}  // namespace

int threadCount() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/task"))
                                .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                .size());
}

int main(int argc, char** argv) {
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
                std::printf("start-up to first paint: %.1f ms (%.1f ms CPU), %d threads\n",
                            firstPaint.ms, firstPaint.cpuMs, threadCount());
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
