// The progress dialog with scripted workers: the result of each way a run
// ends, the termination texts, Cancel/Esc/Close refused while the worker
// protects a phase, the reuse of one object, and a worker that outlives its
// grace periods and then finds nothing to reach.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/gui/support/reader_driver.h"
#include "ui/progress_dialog.h"

namespace qalv {
namespace {

using std::chrono::milliseconds;

const QString kInitiated = QStringLiteral("Termination Initiated..");
const QString kComplete = QStringLiteral("Termination Complete ..Shutting Down !!");

// Sleeps in short steps until `done` holds or `limit` passes.
void SleepUntil(const std::function<bool()>& done, milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(2));
  }
}

// What a worker saw, shared with the test.
struct Probe {
  std::atomic<bool> started{false};
  std::atomic<bool> sawStop{false};
  std::atomic<bool> release{false};
  std::atomic<bool> finished{false};
  std::atomic<int> refusedSends{0};
};

class ProgressDialogTest : public testing::Test {
 protected:
  QLabel* Status() { return dialog_->findChild<QLabel*>(QStringLiteral("1026")); }
  QProgressBar* Progress() { return dialog_->findChild<QProgressBar*>(QStringLiteral("1018")); }
  QPushButton* Cancel() { return dialog_->findChild<QPushButton*>(QStringLiteral("2")); }

  // Runs the dialog with `worker`; `tick` is called every 5 ms from inside the
  // modal loop (and the grace waits). Every status line seen is recorded.
  int Run(std::function<bool(ProgressThreadData&)> worker, std::function<void()> tick = {}) {
    dialog_->m_threadData.userParam = probe_;
    dialog_->m_threadData.workerProc = std::move(worker);
    // Two timers: a timer does not fire again while its own handler runs, and
    // a tick that cancels runs the grace waits inside its handler.
    QTimer sampler;
    QTimer actor;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
      if (dialog_->isVisible()) Seen(Status()->text());
    });
    QObject::connect(&actor, &QTimer::timeout, [&] {
      if (dialog_->isVisible() && tick) tick();
    });
    sampler.start(5);
    actor.start(5);
    const int result = dialog_->DoModal();
    Seen(Status()->text());
    return result;
  }

  void Seen(const QString& text) {
    if (seen_.empty() || seen_.back() != text) seen_.push_back(text);
  }
  bool SawText(const QString& text) const { return std::find(seen_.begin(), seen_.end(), text) != seen_.end(); }

  std::shared_ptr<Probe> probe_ = std::make_shared<Probe>();
  std::unique_ptr<CUPDialog> dialog_ = std::make_unique<CUPDialog>();
  std::vector<QString> seen_;
};

// A worker that steps until a stop is requested, sending as it goes.
bool StepUntilStopped(ProgressThreadData& data) {
  auto& probe = *static_cast<Probe*>(data.userParam.get());
  probe.started = true;
  for (int i = 0; !data.hwnd->StopRequested(); ++i) {
    data.hwnd->SetText(QStringLiteral("step %1").arg(i));
    data.hwnd->SetPos(i % 100);
    std::this_thread::sleep_for(milliseconds(10));
  }
  probe.sawStop = true;
  return true;
}

TEST_F(ProgressDialogTest, WorkerResultEndsTheDialog) {
  struct Case {
    const char* name;
    bool workerResult;
    int expected;
  };
  for (const Case& c : {Case{"Success", true, 1}, Case{"Failure", false, 2}}) {
    SCOPED_TRACE(c.name);
    dialog_->m_caption = QStringLiteral("Please Wait..");
    bool sawContext = false;
    const int result = Run([&](ProgressThreadData& data) {
      sawContext = data.userParam.get() == probe_.get();
      return c.workerResult;
    });
    EXPECT_EQ(result, c.expected);
    EXPECT_TRUE(sawContext);
    EXPECT_EQ(dialog_->windowTitle(), "Please Wait..");
    EXPECT_EQ(Status()->text(), "") << "no progress was shown";
    EXPECT_EQ(Progress()->value(), 0);
    EXPECT_FALSE(SawText(kInitiated));
    dialog_->CleanUp();
  }
}

TEST_F(ProgressDialogTest, WorkerMessagesReachTheDialog) {
  const int result = Run([](ProgressThreadData& data) {
    const bool all = data.hwnd->SetTitle(QStringLiteral("處理中..")) && data.hwnd->SetText(QStringLiteral("half")) &&
                     data.hwnd->SetPos(50);
    std::this_thread::sleep_for(milliseconds(50));
    return all;
  });
  EXPECT_EQ(result, 1) << "every send was applied";
  EXPECT_TRUE(SawText("half"));
  EXPECT_EQ(Status()->text(), "half");
  EXPECT_EQ(Progress()->value(), 50);
  EXPECT_EQ(dialog_->windowTitle(), QStringLiteral("處理中.."));
}

// Cancel, Esc and the close box (or Alt+F4) all stop a cooperating worker.
TEST_F(ProgressDialogTest, EveryCancelGestureStopsTheWorker) {
  struct Gesture {
    const char* name;
    std::function<void(CUPDialog&, QPushButton*)> act;
  };
  const Gesture gestures[] = {
      {"CancelButton", [](CUPDialog&, QPushButton* cancel) { QTest::mouseClick(cancel, Qt::LeftButton); }},
      {"Escape", [](CUPDialog& dialog, QPushButton*) { QTest::keyClick(&dialog, Qt::Key_Escape); }},
      {"CloseBox", [](CUPDialog& dialog, QPushButton*) { dialog.close(); }},
  };
  for (const Gesture& g : gestures) {
    SCOPED_TRACE(g.name);
    probe_ = std::make_shared<Probe>();
    dialog_ = std::make_unique<CUPDialog>();
    seen_.clear();
    int finishedSignals = 0;
    QObject::connect(dialog_.get(), &QDialog::finished, [&] { ++finishedSignals; });
    bool acted = false;
    const int result = Run(StepUntilStopped, [&] {
      if (acted || !Status()->text().startsWith(QStringLiteral("step 3"))) return;
      acted = true;
      g.act(*dialog_, Cancel());
    });
    EXPECT_EQ(result, 0x10002);
    EXPECT_TRUE(probe_->sawStop);
    EXPECT_EQ(Status()->text(), kInitiated) << "the worker stopped within the first grace period";
    EXPECT_FALSE(SawText(kComplete));
    EXPECT_FALSE(Cancel()->isEnabled());
    dialog_->CleanUp();
    // The worker's end, after the stop, posts nothing that could end the
    // dialog a second time.
    QTest::qWait(50);
    EXPECT_EQ(finishedSignals, 1);
    EXPECT_EQ(dialog_->result(), 0x10002);
  }
}

TEST_F(ProgressDialogTest, WorkerIgnoringTheStopGetsTwoGracePeriods) {
  dialog_->m_terminationDelay = 150;
  const int result = Run(
      [](ProgressThreadData& data) {
        auto& probe = *static_cast<Probe*>(data.userParam.get());
        probe.started = true;
        SleepUntil([&] { return probe.release.load(); }, milliseconds(5000));
        if (!data.hwnd->SetText(QStringLiteral("late"))) ++probe.refusedSends;
        probe.finished = true;
        return true;
      },
      [&] {
        if (probe_->started && Cancel()->isEnabled()) QTest::mouseClick(Cancel(), Qt::LeftButton);
      });
  EXPECT_EQ(result, 0x10002);
  ASSERT_TRUE(SawText(kInitiated));
  ASSERT_TRUE(SawText(kComplete));
  EXPECT_LT(std::find(seen_.begin(), seen_.end(), kInitiated), std::find(seen_.begin(), seen_.end(), kComplete));
  // Released now, the worker ends within the clean-up's grace period.
  probe_->release = true;
  dialog_->CleanUp();
  EXPECT_TRUE(probe_->finished);
  EXPECT_EQ(probe_->refusedSends, 1);
  QTest::qWait(30);
  EXPECT_EQ(Status()->text(), kComplete);
}

// While the worker protects a phase, Cancel, Esc and Close do nothing; once it
// enables Cancel again, Cancel works. With cancel not allowed, the same holds
// from the start.
TEST_F(ProgressDialogTest, DisabledCancelRefusesEveryGesture) {
  for (const bool allowCancel : {true, false}) {
    SCOPED_TRACE(allowCancel ? "disabled by the worker" : "not allowed");
    probe_ = std::make_shared<Probe>();
    dialog_ = std::make_unique<CUPDialog>();
    dialog_->m_allowCancel = allowCancel;
    seen_.clear();
    std::atomic<bool> reenabled{false};
    bool tried = false;
    bool clickedAfterEnable = false;
    const int result = Run(
        [&](ProgressThreadData& data) {
          auto& probe = *static_cast<Probe*>(data.userParam.get());
          if (allowCancel) data.hwnd->DisableCancel();
          probe.started = true;
          SleepUntil([&] { return probe.release.load(); }, milliseconds(5000));
          if (data.hwnd->StopRequested()) probe.sawStop = true;
          if (!allowCancel) return true;
          data.hwnd->EnableCancel();
          reenabled = true;
          SleepUntil([&] { return data.hwnd->StopRequested(); }, milliseconds(5000));
          return false;
        },
        [&] {
          if (!probe_->started) return;
          if (!tried) {
            tried = true;
            EXPECT_FALSE(Cancel()->isEnabled());
            QTest::mouseClick(Cancel(), Qt::LeftButton);
            QTest::keyClick(dialog_.get(), Qt::Key_Escape);
            dialog_->close();
            EXPECT_TRUE(dialog_->isVisible());
            probe_->release = true;
          } else if (reenabled && !clickedAfterEnable && Cancel()->isEnabled()) {
            clickedAfterEnable = true;
            QTest::mouseClick(Cancel(), Qt::LeftButton);
          }
        });
    EXPECT_TRUE(tried);
    EXPECT_FALSE(probe_->sawStop) << "no gesture reached the worker while cancel was disabled";
    EXPECT_EQ(result, allowCancel ? 0x10002 : 1);
    EXPECT_EQ(SawText(kInitiated), allowCancel);
    dialog_->CleanUp();
  }
}

TEST_F(ProgressDialogTest, OneObjectRunsAgainAfterACancelledRun) {
  dialog_->m_caption = QStringLiteral("first");
  bool cancelled = false;
  ASSERT_EQ(Run(StepUntilStopped,
                [&] {
                  if (!cancelled && Status()->text().startsWith(QStringLiteral("step 2"))) {
                    cancelled = true;
                    QTest::mouseClick(Cancel(), Qt::LeftButton);
                  }
                }),
            0x10002);
  dialog_->CleanUp();

  dialog_->m_caption = QStringLiteral("second");
  probe_ = std::make_shared<Probe>();
  seen_.clear();
  bool stopAtStart = true;
  bool cancelEnabledAtStart = false;
  int reentered = 0;
  const int result = Run(
      [&](ProgressThreadData& data) {
        stopAtStart = data.hwnd->StopRequested();
        data.hwnd->SetText(QStringLiteral("second run"));
        SleepUntil([&] { return probe_->release.load(); }, milliseconds(5000));
        return true;
      },
      [&] {
        if (Status()->text() != u"second run" || probe_->release) return;
        cancelEnabledAtStart = Cancel()->isEnabled();
        reentered = dialog_->DoModal();
        probe_->release = true;
      });
  EXPECT_EQ(result, 1);
  EXPECT_FALSE(stopAtStart) << "the second run starts without the first one's stop";
  EXPECT_TRUE(cancelEnabledAtStart);
  EXPECT_EQ(reentered, -1) << "a dialog already showing cannot be shown again";
  EXPECT_EQ(dialog_->windowTitle(), "second");
  EXPECT_FALSE(SawText(kInitiated));
}

// A worker far past its grace periods is abandoned: the dialog goes, and what
// the worker sends afterwards reaches nothing.
TEST_F(ProgressDialogTest, AbandonedWorkerReachesNothing) {
  dialog_->m_terminationDelay = 100;
  std::atomic<bool> dialogGone{false};
  std::atomic<bool> goneBeforeSending{false};
  std::atomic<int> deliveredLate{0};
  const std::shared_ptr<Probe> probe = probe_;
  const int result = Run(
      [probe, &dialogGone, &goneBeforeSending, &deliveredLate](ProgressThreadData& data) {
        probe->started = true;
        SleepUntil([&] { return probe->release.load(); }, milliseconds(20000));
        goneBeforeSending = dialogGone.load();
        for (const bool delivered : {data.hwnd->SetTitle("late"), data.hwnd->SetText("late"), data.hwnd->SetPos(9),
                                     data.hwnd->DisableCancel(), data.hwnd->EnableCancel()}) {
          if (delivered) ++deliveredLate;
        }
        data.hwnd->EndDialog(1);
        probe->finished = true;
        return true;
      },
      [&] {
        if (probe->started && Cancel()->isEnabled()) QTest::mouseClick(Cancel(), Qt::LeftButton);
      });
  EXPECT_EQ(result, 0x10002);
  EXPECT_TRUE(SawText(kComplete));

  QElapsedTimer clock;
  clock.start();
  dialog_.reset();
  EXPECT_LT(clock.elapsed(), 2000) << "the clean-up waits one grace period, not for the worker";
  dialogGone = true;
  probe->release = true;
  ASSERT_TRUE(test::WaitFor([&] { return probe->finished.load(); }));
  QTest::qWait(50);
  EXPECT_TRUE(goneBeforeSending);
  EXPECT_EQ(deliveredLate, 0);
}

}  // namespace
}  // namespace qalv
