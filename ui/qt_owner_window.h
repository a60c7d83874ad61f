// The desktop reader's owner of the core's boxes: Qt message boxes, the
// password prompt, the desktop's file opener and the main window's close.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "session/owner_window.h"

namespace qalv {

class QtOwnerWindow : public OwnerWindow {
 public:
  // `owner` owns the boxes (null: unowned boxes); `closeMainWindow` ends the reader.
  QtOwnerWindow(QWidget* owner, std::function<void()> closeMainWindow);

  Answer ShowMessage(const Message& message) override;
  Answer AskPassword(const std::string& hintUrl, const std::string& batchNumber,
                     std::string& password) override;
  int32_t OpenWithDesktop(const std::filesystem::path& file) override;
  void CloseMainWindow() override;

 private:
  QPointer<QWidget> owner_;
  std::function<void()> closeMainWindow_;
};

}  // namespace qalv
