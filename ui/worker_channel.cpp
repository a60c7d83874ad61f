#include "ui/worker_channel.h"

#include <QMetaObject>
#include <utility>

namespace qalv {

WorkerChannel::WorkerChannel(QObject& receiver) : receiver_(&receiver) {}

bool WorkerChannel::Send(std::function<void()> apply) {
  struct Delivery {
    bool done = false;
    bool applied = false;
  };
  std::unique_lock lock(mutex_);
  if (receiver_ == nullptr || stopRequested_) return false;
  auto delivery = std::make_shared<Delivery>();  // guarded by mutex_
  // Posted with the lock held: the receiver's side detaches (under the lock)
  // before the receiver goes, so receiver_ is alive here. A call still queued
  // when the receiver goes is discarded with it; one that runs after a
  // detach or a stop does nothing.
  QMetaObject::invokeMethod(
      receiver_,
      [self = shared_from_this(), delivery, apply = std::move(apply)] {
        const bool attached = self->Attached();
        if (attached) apply();
        {
          const std::lock_guard done(self->mutex_);
          delivery->done = true;
          delivery->applied = attached;
        }
        self->changed_.notify_all();
      },
      Qt::QueuedConnection);
  changed_.wait(lock, [&] { return delivery->done || receiver_ == nullptr || stopRequested_; });
  return delivery->applied;
}

void WorkerChannel::Post(std::function<void()> apply) {
  const std::lock_guard lock(mutex_);
  if (receiver_ == nullptr || stopRequested_) return;
  QMetaObject::invokeMethod(
      receiver_,
      [self = shared_from_this(), apply = std::move(apply)] {
        if (self->Attached()) apply();
      },
      Qt::QueuedConnection);
}

bool WorkerChannel::Attached() const {
  const std::lock_guard lock(mutex_);
  return receiver_ != nullptr && !stopRequested_;
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
  {
    const std::lock_guard lock(mutex_);
    receiver_ = nullptr;
  }
  changed_.notify_all();
}

}  // namespace qalv
