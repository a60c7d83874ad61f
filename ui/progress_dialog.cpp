#include "ui/progress_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRect>
#include <QScreen>
#include <algorithm>
#include <system_error>
#include <utility>

#include "ui/shell/dialog_units.h"

namespace qalv {
namespace {

constexpr int kCaptionLimit = 255;
// How often a grace wait lets the window repaint.
constexpr std::chrono::milliseconds kPaintSlice{10};

}  // namespace

ProgressChannel::ProgressChannel(CUPDialog& dialog) : WorkerChannel(dialog), dialog_(dialog) {}

bool ProgressChannel::SetTitle(const QString& title) {
  return Send([this, title] { dialog_.setWindowTitle(title); });
}

bool ProgressChannel::SetText(const QString& text) {
  return Send([this, text] { dialog_.SetStatus(text); });
}

bool ProgressChannel::SetPos(int position) {
  return Send([this, position] { dialog_.progress_->setValue(position); });
}

bool ProgressChannel::DisableCancel() {
  return Send([this] { dialog_.SetCancelEnabled(false); });
}

bool ProgressChannel::EnableCancel() {
  return Send([this] { dialog_.SetCancelEnabled(true); });
}

void ProgressChannel::EndDialog(int result) {
  Post([this, result] { dialog_.done(result); });
}

CUPDialog::CUPDialog(QWidget* parent)
    : QDialog(parent),
      status_(new QLabel(QStringLiteral("Static"), this)),
      progress_(new QProgressBar(this)),
      cancel_(new QPushButton(QStringLiteral("&Cancel"), this)) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  const QFont font(QStringLiteral("MS Shell Dlg"), 8);
  setFont(font);
  setWindowTitle(QStringLiteral("Dialog"));
  const DialogUnits units{QFontMetrics(font)};
  setFixedSize(units.Size(187, 70));

  cancel_->setObjectName(QStringLiteral("2"));
  cancel_->setGeometry(units.Rect(129, 50, 50, 14));
  progress_->setObjectName(QStringLiteral("1018"));
  progress_->setGeometry(units.Rect(7, 25, 172, 14));
  progress_->setRange(0, 100);
  progress_->setTextVisible(false);
  status_->setObjectName(QStringLiteral("1026"));
  status_->setGeometry(units.Rect(7, 7, 172, 8));
  status_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  setAccessibleName(QStringLiteral("處理進度"));
  setAccessibleDescription(QStringLiteral("進行中的工作與它的進度"));
  status_->setAccessibleName(QStringLiteral("目前狀態"));
  progress_->setAccessibleName(QStringLiteral("進度"));
  progress_->setAccessibleDescription(QStringLiteral("已完成的百分比"));
  cancel_->setAccessibleName(QStringLiteral("取消"));
  cancel_->setAccessibleDescription(QStringLiteral("停止進行中的工作"));

  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (CanCancel()) Terminate();
  });
}

CUPDialog::~CUPDialog() { CleanUp(); }

int CUPDialog::DoModal() {
  if (isVisible()) return kNotCreated;
  CleanUp();

  // The window is reused from run to run: bring it back to a fresh one.
  SetCancelEnabled(m_allowCancel);
  SetStatus(QString());
  progress_->setValue(0);
  setWindowTitle(m_caption.left(kCaptionLimit));
  m_threadData.hwnd = std::make_shared<ProgressChannel>(*this);
  try {
    m_hThread = std::thread(RunWorker, m_threadData);
  } catch (const std::system_error&) {
    m_threadData.hwnd->MarkEnded();
    return kThreadNotStarted;
  }

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = rect();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  return exec();
}

void CUPDialog::RunWorker(ProgressThreadData data) {
  ProgressChannel& channel = *data.hwnd;
  const bool succeeded = !channel.StopRequested() && data.workerProc(data);
  channel.MarkEnded();
  // A worker stopped by the user never ends the dialog itself.
  channel.EndDialog(succeeded ? kWorkerSucceeded : kWorkerFailed);
}

void CUPDialog::CleanUp() {
  const std::shared_ptr<ProgressChannel> channel = std::exchange(m_threadData.hwnd, nullptr);
  if (!channel) return;
  channel->RequestStop();
  const bool ended = channel->WaitUntilEnded(std::chrono::milliseconds(m_terminationDelay));
  channel->Detach();
  if (!m_hThread.joinable()) return;
  // A worker still running is left to finish on its own: the detached channel
  // and its co-owned context are all it can reach.
  if (ended) {
    m_hThread.join();
  } else {
    m_hThread.detach();
  }
}

void CUPDialog::SetStatus(const QString& text) { status_->setText(text); }

void CUPDialog::SetCancelEnabled(bool enabled) { cancel_->setEnabled(enabled); }

bool CUPDialog::CanCancel() const { return isVisible() && cancel_->isEnabled(); }

void CUPDialog::reject() {
  if (CanCancel()) Terminate();
}

void CUPDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (CanCancel()) Terminate();
}

void CUPDialog::Terminate() {
  m_threadData.hwnd->RequestStop();
  SetStatus(QStringLiteral("Termination Initiated.."));
  SetCancelEnabled(false);
  if (!WaitForWorker()) {
    SetStatus(QStringLiteral("Termination Complete ..Shutting Down !!"));
    WaitForWorker();
  }
  done(kCancelled);
}

bool CUPDialog::WaitForWorker() {
  // Held here: the events processed below must not pull the channel away.
  const std::shared_ptr<ProgressChannel> channel = m_threadData.hwnd;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(m_terminationDelay);
  for (;;) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return !channel->Running();
    if (channel->WaitUntilEnded(std::min(left, kPaintSlice))) return true;
  }
}

}  // namespace qalv
