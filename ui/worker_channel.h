// One worker thread's link to an object on the window's thread, co-owned by
// both. The worker sends work to be done on the window's thread; the window
// side can ask the worker to stop, wait for it a while, and detach the link
// before the object goes. From then on every send is dropped: a worker
// abandoned after its grace period reaches nothing, as it never holds a
// pointer to the object itself.
#pragma once

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace qalv {

// Work handed from the worker to the receiver's thread: filled and emptied
// under its own lock, so that the hand-off is ordered by that lock and not
// only by Qt's event queue.
struct ChannelMailbox {
  std::mutex mutex;
  std::deque<std::function<void()>> items;
};

// Lives on the receiver's thread, as its child: a queued call of Drain runs
// the work waiting in the mailbox there.
class ChannelRelay : public QObject {
  Q_OBJECT

 public:
  ChannelRelay(std::shared_ptr<ChannelMailbox> mailbox, QObject& receiver);

 public slots:
  void Drain();

 private:
  const std::shared_ptr<ChannelMailbox> mailbox_;
};

class WorkerChannel : public std::enable_shared_from_this<WorkerChannel> {
 public:
  explicit WorkerChannel(QObject& receiver);
  virtual ~WorkerChannel() = default;

  // From the worker: runs `apply` on the receiver's thread while the worker
  // waits. False, with `apply` not run, once a stop is requested or the
  // channel detached; a wait in progress ends as soon as either happens, so
  // a window that waits for its worker never waits on a send.
  bool Send(std::function<void()> apply);
  // From the worker: queues `apply` on the receiver's thread without
  // waiting; it is dropped if a stop or a detach comes first.
  void Post(std::function<void()> apply);

  bool StopRequested() const;
  // True from the start of the run until the worker marks its end.
  bool Running() const;
  // From the worker, as the last thing it does through the channel.
  void MarkEnded();

  // From the receiver's thread.
  void RequestStop();
  // True when the worker has ended, waiting at most `limit` for it.
  bool WaitUntilEnded(std::chrono::milliseconds limit);
  // Before the receiver goes: nothing reaches it any more.
  void Detach();

 private:
  // True when work may still run on the receiver.
  bool Attached() const;
  // With mutex_ held and the receiver attached: `work` runs on its thread.
  void Deliver(std::function<void()> work);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  const std::shared_ptr<ChannelMailbox> mailbox_ = std::make_shared<ChannelMailbox>();
  ChannelRelay* relay_;  // the receiver's child until detached
  bool running_ = true;
  bool stopRequested_ = false;
};

}  // namespace qalv
