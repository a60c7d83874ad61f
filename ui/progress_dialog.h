// A small modal dialog that runs one task on a worker thread: a status line,
// a progress bar and Cancel. The worker reports through its channel and ends
// the dialog by returning; Cancel asks it to stop, grants it two grace periods
// and ends the dialog without it.
#pragma once

#include <QDialog>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;

namespace qalv {

class CUPDialog;
struct ProgressThreadData;

// One run's link from the worker to its dialog, co-owned by both. The dialog
// detaches it when it cleans the run up; from then on every message is
// dropped. A worker abandoned after its grace periods may go on calling it and
// reaches nothing: it never holds a pointer to the dialog.
class ProgressChannel : public std::enable_shared_from_this<ProgressChannel> {
 public:
  explicit ProgressChannel(CUPDialog& dialog);

  // Sent messages, called from the worker thread only: each is applied on the
  // dialog's thread while the worker waits, and returns false unapplied once
  // a stop is requested or the dialog detached. A wait in progress ends as
  // soon as either happens, so a dialog that waits for its worker never waits
  // on a send.
  bool SetTitle(const QString& title);
  bool SetText(const QString& text);  // PDM_SETTEXT
  bool SetPos(int position);          // PDM_SETPOS, 0 to 100
  bool DisableCancel();               // PDM_DISABLECANCEL: Cancel, Esc and Close do nothing
  bool EnableCancel();                // PDM_ENABLECANCEL

  // Posted (PDM_ENDDIALOG): ends the dialog with `result` unless a stop is
  // requested before the dialog gets to it.
  void EndDialog(int result);

  bool StopRequested() const;
  // True from the start of the run until the worker routine has returned.
  bool Running() const;

 private:
  friend class CUPDialog;

  bool Send(std::function<void(CUPDialog&)> apply);
  // The dialog, when a message may still reach it.
  CUPDialog* Receiver() const;
  void RequestStop();
  void MarkEnded();
  void Detach();
  // True when the worker has ended, waiting at most `limit` for it.
  bool WaitUntilEnded(std::chrono::milliseconds limit);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  CUPDialog* dialog_;
  bool running_ = true;
  bool stopRequested_ = false;
};

// The record the worker receives (its own copy).
struct ProgressThreadData {
  // The dialog's endpoint for the current run; null while no run is set up.
  std::shared_ptr<ProgressChannel> hwnd;
  // The caller's context. The worker co-owns it, so it outlives a worker that
  // is abandoned; the caller reads what the worker left there only after a
  // result of 1.
  std::shared_ptr<void> userParam;
  // The task; true for success.
  std::function<bool(ProgressThreadData&)> workerProc;
};

class CUPDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kWorkerSucceeded = 1;
  static constexpr int kWorkerFailed = 2;
  static constexpr int kThreadNotStarted = 3;
  static constexpr int kCancelled = 0x10002;  // high half 1: the user cancelled
  static constexpr int kNotCreated = -1;      // the dialog is already showing

  explicit CUPDialog(QWidget* parent = nullptr);
  ~CUPDialog() override;

  // Cleans up, shows the dialog modally with a new worker and returns the
  // result. The caller cleans up again (or destroys the object) afterwards.
  int DoModal();

  // Asks the worker to stop and waits one grace period for it; a worker still
  // running after that is abandoned. Then the object can run again.
  void CleanUp();

  uint32_t m_terminationDelay = 500;  // grace period in milliseconds
  bool m_allowCancel = true;          // false: Cancel and Close disabled from the start
  QString m_caption;                  // the title; at most 255 characters are shown
  ProgressThreadData m_threadData;    // userParam and workerProc are the caller's

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  friend class ProgressChannel;

  static void RunWorker(ProgressThreadData data);
  void SetStatus(const QString& text);
  void SetCancelEnabled(bool enabled);
  bool CanCancel() const;
  // PDM_TERMINATE.
  void Terminate();
  // True when the worker ended within one grace period; the window keeps
  // painting meanwhile but takes no input.
  bool WaitForWorker();

  QLabel* status_;
  QProgressBar* progress_;
  QPushButton* cancel_;
  std::thread m_hThread;
};

}  // namespace qalv
