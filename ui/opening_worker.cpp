#include "ui/opening_worker.h"

#include <QEventLoop>
#include <atomic>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "mbedtls/platform_util.h"
#include "opening/open_policy.h"
#include "ui/worker_channel.h"

namespace qalv {
namespace {

// How long a closed window waits for its opening to notice.
constexpr std::chrono::milliseconds kGrace{100};

std::atomic<bool> abandoned{false};

// The window as the worker sees it: each call runs on the window's thread
// through the channel. A call that cannot be delivered any more (the window
// closed) is answered as a cancel.
class RelayedOwnerWindow : public OwnerWindow {
 public:
  RelayedOwnerWindow(std::shared_ptr<WorkerChannel> channel, OwnerWindow& owner)
      : channel_(std::move(channel)), owner_(owner) {}

  Answer ShowMessage(const Message& message) override {
    auto answer = std::make_shared<Answer>(Answer::kCancel);
    return channel_->Send([this, answer, message] { *answer = owner_.ShowMessage(message); })
               ? *answer
               : Answer::kCancel;
  }

  Answer AskPassword(const std::string& hintUrl, const std::string& batchNumber,
                     std::string& password) override {
    struct Reply {
      ~Reply() { mbedtls_platform_zeroize(text.data(), text.size()); }
      Answer answer = Answer::kCancel;
      std::string text;
    };
    auto reply = std::make_shared<Reply>();
    const bool delivered = channel_->Send([this, reply, hintUrl, batchNumber] {
      reply->answer = owner_.AskPassword(hintUrl, batchNumber, reply->text);
    });
    if (!delivered || reply->answer != Answer::kOk) return Answer::kCancel;
    password = reply->text;
    return Answer::kOk;
  }

  int32_t OpenWithDesktop(const std::filesystem::path& file) override {
    auto started = std::make_shared<int32_t>(0);
    return channel_->Send([this, started, file] { *started = owner_.OpenWithDesktop(file); }) ? *started : 0;
  }

  void CloseMainWindow() override {
    channel_->Send([this] { owner_.CloseMainWindow(); });
  }

  bool Closed() const override { return channel_->StopRequested(); }

 private:
  const std::shared_ptr<WorkerChannel> channel_;
  // Reached only by calls the channel runs on the window's thread.
  OwnerWindow& owner_;
};

}  // namespace

std::optional<int32_t> OpenPolicyOffThread(std::shared_ptr<PolicyState>& shared,
                                           const std::filesystem::path& path, QDialog& window) {
  const std::shared_ptr<PolicyState> state = shared;
  OwnerWindow& owner = *state->ownerWindow;
  auto channel = std::make_shared<WorkerChannel>(window);
  auto relay = std::make_shared<RelayedOwnerWindow>(channel, owner);
  auto status = std::make_shared<int32_t>(0);
  QEventLoop loop;
  bool closed = false;
  const QMetaObject::Connection onClose =
      QObject::connect(&window, &QDialog::finished, &loop, [&] {
        closed = true;
        loop.quit();
      });

  state->ownerWindow = relay.get();
  std::thread worker;
  try {
    // The loop is reached only through the channel, which is detached before
    // the loop goes.
    worker = std::thread([state, relay, channel, path, status, &loop] {
      *status = OpenPolicy(*state, path);
      channel->MarkEnded();
      channel->Post([&loop] { loop.quit(); });
    });
  } catch (const std::system_error&) {
    state->ownerWindow = &owner;
    QObject::disconnect(onClose);
    return OpenPolicy(*state, path);
  }
  loop.exec();
  QObject::disconnect(onClose);

  if (closed) {
    channel->RequestStop();
    if (!channel->WaitUntilEnded(kGrace)) {
      channel->Detach();
      worker.detach();
      abandoned = true;
      // The worker keeps the old state (with the relay's address in it); the
      // window goes on with a fresh one in the same surroundings.
      shared = std::make_shared<PolicyState>(state->programFolder);
      shared->ownerWindow = &owner;
      shared->workFolder = state->workFolder;
      shared->readerVersion = state->readerVersion;
      shared->trust = state->trust;
      return std::nullopt;
    }
  }
  channel->Detach();
  worker.join();
  state->ownerWindow = &owner;
  if (closed) return std::nullopt;
  return *status;
}

bool OpeningAbandoned() { return abandoned; }

}  // namespace qalv
