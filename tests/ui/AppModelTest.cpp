#include "ui/AppModel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace vornic::ui {
namespace {

using namespace std::chrono_literals;

struct Shown {
    char what = 0;  // 's' status, 'm' settings, 'v' voltage
    uint32_t value = 0;
    uint32_t kind = 0;
    MountSettings snapshot;
};

class RecordingDialog final : public TelescopeControlDlgCallback {
  public:
    void showStatus(StatusCode code) override { shown.push_back({'s', code, 0, {}}); }
    void showSettings(const MountSettings& settings, ReportKind kind) override {
        shown.push_back({'m', 0, kind, settings});
        if (duringSettings) {
            duringSettings(settings);
        }
    }
    void showVoltage(uint32_t hundredths) override { shown.push_back({'v', hundredths, 0, {}}); }

    std::vector<Shown> shown;
    std::function<void(const MountSettings&)> duringSettings;
};

class RecordingPoster final : public UserMessagePoster {
  public:
    void postUserMessage(uint32_t wParam, uint32_t lParam) override {
        posts.emplace_back(wParam, lParam);
        if (duringPost) {
            duringPost();
        }
    }
    std::vector<std::pair<uint32_t, uint32_t>> posts;
    std::function<void()> duringPost;
};

MountSettings snapshotWith(uint32_t seed) {
    MountSettings s;
    s.gearRatio[0] = seed;
    s.gearRatio[1] = ~seed;
    s.firmwareVersion = seed * 3;
    s.latitude = static_cast<int32_t>(seed) - 7;
    s.featureLevel = static_cast<uint8_t>(seed % 7);
    return s;
}

// Runs `action` on another thread and reports whether it finished within the time-out. Used to
// show that a call does not wait for a lock the calling thread holds. The probe must outlive
// whatever the calling thread holds: its destructor joins the thread, so a probe kept at test
// scope turns a wrongly held lock into a failed check rather than a hang.
class ThreadProbe {
  public:
    explicit ThreadProbe(std::function<void()> action)
        : thread_([this, action = std::move(action)] {
              action();
              std::lock_guard<std::mutex> guard(mutex_);
              done_ = true;
              cv_.notify_all();
          }) {}
    ~ThreadProbe() { thread_.join(); }
    bool finishedWithin(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, timeout, [this] { return done_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

class AppModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        model.attachDialog(&dialog);
        model.setMainDialog(&poster);
    }
    void TearDown() override {
        model.setMainDialog(nullptr);
        model.detachDialog();
    }
    void deliver(int times = 1) {
        for (int i = 0; i < times; ++i) {
            model.deliverReport(kReportNotification, 0);
        }
    }

    AppModel model;
    RecordingDialog dialog;
    RecordingPoster poster;
};

// --- Single mailbox: each notification delivers the latest report ---

TEST_F(AppModelTest, EveryReportPostsOneNotificationWithTheReportMessage) {
    model.onStatus(status::kOpeningPort);
    model.onSettings(snapshotWith(1), report::kConnected);
    model.onVoltage(1234);
    const std::pair<uint32_t, uint32_t> expected{1000, 0};
    ASSERT_EQ(poster.posts.size(), 3u);
    for (const auto& post : poster.posts) {
        EXPECT_EQ(post, expected);
    }
    EXPECT_TRUE(dialog.shown.empty()) << "nothing is shown before the UI thread delivers";
}

TEST_F(AppModelTest, TwoStatusReportsBeforeDeliveryShowTheLaterTwice) {
    model.onStatus(status::kOpeningPort);
    model.onStatus(status::kConnecting);
    deliver(2);
    ASSERT_EQ(dialog.shown.size(), 2u);
    for (const Shown& s : dialog.shown) {
        EXPECT_EQ(s.what, 's');
        EXPECT_EQ(s.value, status::kConnecting);
    }
}

TEST_F(AppModelTest, StatusAfterSettingsReplacesTheSettings) {
    model.onSettings(snapshotWith(5), report::kConnected);
    model.onStatus(status::kTimeout);
    deliver(2);
    ASSERT_EQ(dialog.shown.size(), 2u);
    for (const Shown& s : dialog.shown) {
        EXPECT_EQ(s.what, 's');
        EXPECT_EQ(s.value, status::kTimeout);
    }
}

TEST_F(AppModelTest, SettingsAfterVoltageAreShownTwiceAsACopyOfTheReport) {
    MountSettings reported = snapshotWith(42);
    const MountSettings original = reported;
    model.onVoltage(1234);
    model.onSettings(reported, report::kDefaultsReloaded);
    reported.gearRatio[0] = 999;  // the caller's record is not referenced after the report
    deliver(2);
    ASSERT_EQ(dialog.shown.size(), 2u);
    for (const Shown& s : dialog.shown) {
        EXPECT_EQ(s.what, 'm');
        EXPECT_EQ(s.kind, report::kDefaultsReloaded);
        EXPECT_EQ(s.snapshot, original);
    }
}

TEST_F(AppModelTest, StatusAndValueAreKeptApart) {
    // A voltage report overwrites the value but not the status code; the kind decides.
    model.onStatus(status::kReady);
    model.onVoltage(905);
    deliver();
    model.onStatus(status::kSynchronized);
    deliver();
    ASSERT_EQ(dialog.shown.size(), 2u);
    EXPECT_EQ(dialog.shown[0].what, 'v');
    EXPECT_EQ(dialog.shown[0].value, 905u);
    EXPECT_EQ(dialog.shown[1].what, 's');
    EXPECT_EQ(dialog.shown[1].value, status::kSynchronized);
}

TEST_F(AppModelTest, EmptyMailboxAndOtherMessagesDeliverNothing) {
    deliver(3);
    EXPECT_TRUE(dialog.shown.empty());

    model.onStatus(status::kReady);
    for (uint32_t w : {0u, 999u, 1001u, 1002u, 1024u, 0xFFFFFFFFu}) {
        model.deliverReport(w, 0);
    }
    EXPECT_TRUE(dialog.shown.empty());

    model.deliverReport(kReportNotification, 77);  // lParam is not looked at
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(dialog.shown[0].value, status::kReady);
}

TEST_F(AppModelTest, MailboxIsNotClearedByDelivery) {
    model.onVoltage(1200);
    deliver(3);
    ASSERT_EQ(dialog.shown.size(), 3u);
    EXPECT_EQ(dialog.shown[2].what, 'v');
    EXPECT_EQ(dialog.shown[2].value, 1200u);
}

TEST_F(AppModelTest, WithoutADialogTheReportWaitsForTheNextNotification) {
    model.detachDialog();
    model.onStatus(status::kConnectionClosed);
    deliver();
    EXPECT_TRUE(dialog.shown.empty());
    model.attachDialog(&dialog);
    deliver();
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(dialog.shown[0].value, status::kConnectionClosed);
}

TEST_F(AppModelTest, WithoutAMainDialogNothingIsPosted) {
    model.setMainDialog(nullptr);
    model.onStatus(status::kOpeningPort);
    model.onVoltage(1);
    EXPECT_TRUE(poster.posts.empty());
    // The report is still stored and a later notification shows it.
    deliver();
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(dialog.shown[0].what, 'v');

    model.setMainDialog(&poster);
    model.onStatus(status::kConnecting);
    EXPECT_EQ(poster.posts.size(), 1u);
}

// Tasks run on the task notification, in the order posted and once each; without a dialog (the
// window is going) they are dropped unrun.
TEST_F(AppModelTest, TasksRunInOrderOnceOnTheirNotificationAndNeverWithoutADialog) {
    std::vector<int> ran;
    model.postTask([&] { ran.push_back(1); });
    model.postTask([&] { ran.push_back(2); });
    ASSERT_EQ(poster.posts.size(), 2u);
    EXPECT_EQ(poster.posts[0], (std::pair<uint32_t, uint32_t>{kReportNotificationAlt, 0}));
    deliver();
    EXPECT_TRUE(ran.empty()) << "a report notification runs no task";
    model.deliverReport(kReportNotificationAlt, 0);
    model.deliverReport(kReportNotificationAlt, 0);
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_TRUE(dialog.shown.empty());

    model.postTask([&] { ran.push_back(3); });
    model.detachDialog();
    model.deliverReport(kReportNotificationAlt, 0);
    model.attachDialog(&dialog);
    model.deliverReport(kReportNotificationAlt, 0);
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

// --- The lock is never held across a post or a dialog call ---

TEST_F(AppModelTest, ReportArrivingDuringShowSettingsWaitsForTheNextNotification) {
    const MountSettings first = snapshotWith(1);
    const MountSettings second = snapshotWith(2);
    bool reportedInTime = false;
    bool shownSnapshotUnchanged = false;
    std::optional<ThreadProbe> worker;
    dialog.duringSettings = [&](const MountSettings& shown) {
        if (worker) {
            return;
        }
        worker.emplace([&] { model.onSettings(second, report::kGearRatios); });
        reportedInTime = worker->finishedWithin(5s);
        if (reportedInTime) {
            shownSnapshotUnchanged = shown == first;
        }
    };
    model.onSettings(first, report::kConnected);
    deliver();
    ASSERT_TRUE(worker.has_value());
    worker.reset();
    EXPECT_TRUE(reportedInTime) << "the worker waited for the dialog: the lock was held";
    EXPECT_TRUE(shownSnapshotUnchanged) << "the snapshot being shown changed under the dialog";

    deliver();
    ASSERT_EQ(dialog.shown.size(), 2u);
    EXPECT_EQ(dialog.shown[1].snapshot, second);
    EXPECT_EQ(dialog.shown[1].kind, report::kGearRatios);
}

TEST_F(AppModelTest, PostHappensAfterTheLockIsReleased) {
    bool lockFreeDuringPost = false;
    std::optional<ThreadProbe> ui;
    poster.duringPost = [&] {
        if (ui) {
            return;
        }
        // A synchronous hand-off would deliver at once on another thread: it must not find the
        // mailbox locked. No dialog is attached on that thread's behalf.
        model.detachDialog();
        ui.emplace([&] { model.deliverReport(kReportNotification, 0); });
        lockFreeDuringPost = ui->finishedWithin(5s);
    };
    model.onStatus(status::kReady);
    ui.reset();
    EXPECT_TRUE(lockFreeDuringPost);
}

// --- Threads: the worker reports while the UI delivers, then the UI side goes away ---

// Hands notifications to the test's UI loop; flags any use after it has been "destroyed".
class QueuePoster final : public UserMessagePoster {
  public:
    void postUserMessage(uint32_t wParam, uint32_t /*lParam*/) override {
        if (destroyed.load()) {
            usedAfterDestroy.fetch_add(1);
            return;
        }
        std::lock_guard<std::mutex> guard(mutex);
        queue.push_back(wParam);
        cv.notify_one();
    }

    std::mutex mutex;
    std::condition_variable cv;
    std::deque<uint32_t> queue;
    std::atomic<bool> destroyed{false};
    std::atomic<int> usedAfterDestroy{0};
};

// Reports i in turn as a status (i % 3 == 0), a settings snapshot (1) or a voltage (2), each
// carrying i, so that a delivered report tells which one it was.
void reportNumber(AppModel& model, uint32_t i) {
    switch (i % 3) {
        case 0:
            model.onStatus(i);
            break;
        case 1:
            model.onSettings(snapshotWith(i), 1 + i % 4);
            break;
        default:
            model.onVoltage(i);
            break;
    }
}

class CheckingDialog final : public TelescopeControlDlgCallback {
  public:
    void showStatus(StatusCode code) override { check(code, 0); }
    void showSettings(const MountSettings& s, ReportKind kind) override {
        const uint32_t i = s.gearRatio[0];
        if (!(s == snapshotWith(i)) || kind != 1 + i % 4) {
            ++torn;
        }
        check(i, 1);
    }
    void showVoltage(uint32_t value) override { check(value, 2); }

    void check(uint32_t i, uint32_t residue) {
        ++calls;
        if (i % 3 != residue) {
            ++torn;  // kind and payload from different reports
        }
        if (calls > 1 && i < last) {
            ++backwards;  // an older report delivered after a newer one
        }
        last = i;
    }

    int calls = 0;
    int torn = 0;
    int backwards = 0;
    uint32_t last = 0;
};

TEST(AppModelThreads, WorkerReportsWhileUiDeliversAndThenDetaches) {
    constexpr int kDeliveries = 4000;
    constexpr uint32_t kAheadLimit = 256;  // how far the worker may run ahead of the UI
    constexpr uint32_t kAfterDetach = 2000;

    AppModel model;
    CheckingDialog dialog;
    QueuePoster poster;
    model.attachDialog(&dialog);
    model.setMainDialog(&poster);

    std::atomic<int> delivered{0};
    std::atomic<bool> detaching{false};  // the worker runs freely from here on
    std::atomic<bool> detached{false};
    std::thread worker([&] {
        uint32_t i = 0;
        while (!detached.load()) {
            // Stay close to the UI so that reports and deliveries really interleave.
            while (!detaching.load() && i > static_cast<uint32_t>(delivered.load()) + kAheadLimit) {
                std::this_thread::yield();
            }
            reportNumber(model, i++);
        }
        for (uint32_t k = 0; k < kAfterDetach; ++k) {
            reportNumber(model, i++);
        }
    });

    // UI loop: one delivery per posted notification.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (delivered.load() < kDeliveries && std::chrono::steady_clock::now() < deadline) {
        uint32_t wParam = 0;
        {
            std::unique_lock<std::mutex> lock(poster.mutex);
            if (!poster.cv.wait_for(lock, 100ms, [&] { return !poster.queue.empty(); })) {
                continue;
            }
            wParam = poster.queue.front();
            poster.queue.pop_front();
        }
        model.deliverReport(wParam, 0);
        delivered.fetch_add(1);
    }
    const int deliveredBeforeDetach = delivered.load();

    // Shutdown order, with the worker still reporting: detach the dialog, clear the main
    // dialog, then "destroy" the poster.
    detaching.store(true);
    model.detachDialog();
    model.setMainDialog(nullptr);
    poster.destroyed.store(true);
    const int callsAtDetach = dialog.calls;
    detached.store(true);
    worker.join();

    // Notifications still queued reach no dialog.
    std::deque<uint32_t> rest;
    {
        std::lock_guard<std::mutex> guard(poster.mutex);
        rest.swap(poster.queue);
    }
    for (uint32_t wParam : rest) {
        model.deliverReport(wParam, 0);
    }

    EXPECT_EQ(deliveredBeforeDetach, kDeliveries) << "the UI did not get its notifications";
    EXPECT_EQ(poster.usedAfterDestroy.load(), 0) << "a post reached the destroyed dialog";
    EXPECT_EQ(dialog.calls, callsAtDetach) << "a detached dialog was called";
    EXPECT_EQ(dialog.calls, deliveredBeforeDetach);
    EXPECT_EQ(dialog.torn, 0) << "a delivery mixed two reports";
    EXPECT_EQ(dialog.backwards, 0) << "an older report was delivered after a newer one";
}

}  // namespace
}  // namespace vornic::ui
