// What the core needs from the window that owns its boxes. The desktop reader
// implements it with Qt, `tpk` headlessly, tests with a script. Texts are
// UTF-8 and reach the user exactly as the core words them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace qalv {

class OwnerWindow {
 public:
  enum class Icon { kNone, kInformation, kWarning, kError, kQuestion };
  enum class Buttons { kOk, kOkCancel };
  enum class Answer { kOk, kCancel };

  struct Message {
    std::string caption;
    std::string text;
    Icon icon = Icon::kNone;
    Buttons buttons = Buttons::kOk;
    // False for the few boxes that the core shows without an owner window.
    bool owned = true;
  };

  virtual ~OwnerWindow() = default;

  // A modal message box; the button pressed (Esc and the close box: cancel,
  // or ok for a one-button box).
  virtual Answer ShowMessage(const Message& message) = 0;

  // The password prompt for a package: `hintUrl` addresses the password-hint
  // service, `batchNumber` names the batch. On ok, `password` holds the text.
  virtual Answer AskPassword(const std::string& hintUrl, const std::string& batchNumber,
                             std::string& password) = 0;

  // Opens a file with the program the desktop associates with it. Returns a
  // start result in the shell's manner: above 32 when started; otherwise 2
  // file not found, 3 path not found, 5 access denied, 31 no associated
  // program, or any other value for other failures.
  virtual int32_t OpenWithDesktop(const std::filesystem::path& file) = 0;

  // Closes the main window (the reader then ends).
  virtual void CloseMainWindow() = 0;

  // True once the window closed while the core still works for it on another
  // thread: from then on the core writes no file and asks nothing.
  virtual bool Closed() const { return false; }
};

}  // namespace qalv
