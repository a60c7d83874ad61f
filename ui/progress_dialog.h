// A small modal dialog that runs one task on a worker thread: a status line,
// a progress bar and Cancel. The worker reports through its channel and ends
// the dialog by returning; Cancel asks it to stop, grants it two grace periods
// and ends the dialog without it.
#pragma once

#include <QDialog>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "ui/worker_channel.h"

class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;

namespace qalv {

class CUPDialog;
struct ProgressThreadData;

// One run's link from the worker to its dialog: the dialog detaches it when
// it cleans the run up, and a worker abandoned after its grace periods may go
// on calling it and reaches nothing.
class ProgressChannel : public WorkerChannel {
 public:
  explicit ProgressChannel(CUPDialog& dialog);

  // Sent messages, called from the worker thread only: each is applied on the
  // dialog's thread while the worker waits, and returns false unapplied once
  // a stop is requested or the dialog detached.
  bool SetTitle(const QString& title);
  bool SetText(const QString& text);  // PDM_SETTEXT
  bool SetPos(int position);          // PDM_SETPOS, 0 to 100
  bool DisableCancel();               // PDM_DISABLECANCEL: Cancel, Esc and Close do nothing
  bool EnableCancel();                // PDM_ENABLECANCEL

  // Posted (PDM_ENDDIALOG): ends the dialog with `result` unless a stop is
  // requested before the dialog gets to it.
  void EndDialog(int result);

 private:
  // Reached only by work the channel runs while attached, on its thread.
  CUPDialog& dialog_;
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
