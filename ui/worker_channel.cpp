#include "ui/worker_channel.h"

#include <QMetaObject>
#include <utility>

namespace qalv {

ChannelRelay::ChannelRelay(std::shared_ptr<ChannelMailbox> mailbox, QObject& receiver)
    : QObject(&receiver), mailbox_(std::move(mailbox)) {}

void ChannelRelay::Drain() {
  std::deque<std::function<void()>> items;
  {
    const std::lock_guard lock(mailbox_->mutex);
    items.swap(mailbox_->items);
  }
  for (const std::function<void()>& item : items) item();
}

WorkerChannel::WorkerChannel(QObject& receiver) : relay_(new ChannelRelay(mailbox_, receiver)) {}

void WorkerChannel::Deliver(std::function<void()> work) {
  {
    const std::lock_guard lock(mailbox_->mutex);
    mailbox_->items.push_back(std::move(work));
  }
  // A call queued by name carries nothing of ours; the work itself goes
  // through the mailbox.
  QMetaObject::invokeMethod(relay_, "Drain", Qt::QueuedConnection);
}

bool WorkerChannel::Send(std::function<void()> apply) {
  struct Delivery {
    bool done = false;
    bool applied = false;
  };
  std::unique_lock lock(mutex_);
  if (relay_ == nullptr || stopRequested_) return false;
  auto delivery = std::make_shared<Delivery>();  // guarded by mutex_
  // Delivered with the lock held: the receiver's side detaches (under the
  // lock) before the receiver goes, so the relay is alive here. A call still
  // queued when the relay goes is discarded with it; one that runs after a
  // detach or a stop does nothing.
  Deliver([self = shared_from_this(), delivery, apply = std::move(apply)] {
    const bool attached = self->Attached();
    if (attached) apply();
    {
      const std::lock_guard done(self->mutex_);
      delivery->done = true;
      delivery->applied = attached;
    }
    self->changed_.notify_all();
  });
  changed_.wait(lock, [&] { return delivery->done || relay_ == nullptr || stopRequested_; });
  return delivery->applied;
}

void WorkerChannel::Post(std::function<void()> apply) {
  const std::lock_guard lock(mutex_);
  if (relay_ == nullptr || stopRequested_) return;
  Deliver([self = shared_from_this(), apply = std::move(apply)] {
    if (self->Attached()) apply();
  });
}

bool WorkerChannel::Attached() const {
  const std::lock_guard lock(mutex_);
  return relay_ != nullptr && !stopRequested_;
}

bool WorkerChannel::StopRequested() const {
  const std::lock_guard lock(mutex_);
  return stopRequested_;
}

bool WorkerChannel::Running() const {
  const std::lock_guard lock(mutex_);
  return running_;
}

void WorkerChannel::MarkEnded() {
  {
    const std::lock_guard lock(mutex_);
    running_ = false;
  }
  changed_.notify_all();
}

void WorkerChannel::RequestStop() {
  {
    const std::lock_guard lock(mutex_);
    stopRequested_ = true;
  }
  changed_.notify_all();
}

bool WorkerChannel::WaitUntilEnded(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [this] { return !running_; });
}

void WorkerChannel::Detach() {
  std::deque<std::function<void()>> dropped;
  {
    const std::lock_guard lock(mutex_);
    // On the receiver's thread, where the relay lives. Work still waiting in
    // the mailbox is dropped (it holds the channel, which holds the mailbox).
    if (relay_ != nullptr) relay_->deleteLater();
    relay_ = nullptr;
    const std::lock_guard mailbox(mailbox_->mutex);
    dropped.swap(mailbox_->items);
  }
  changed_.notify_all();
}

}  // namespace qalv
