#include "viewer/web_pdf_view.h"

#include <mbedtls/base64.h>

#include <cerrno>
#include <cstdint>
#include <string_view>

#include "platform/file_io.h"
#include "platform/secure_buffer.h"
#include "platform/system_error.h"

namespace qalv {
namespace {

// The page reads the document from this script's global `b64Pdf`.
constexpr std::string_view kScriptName = "b64Pdf.js";
constexpr std::string_view kScriptHead = "var b64Pdf=\"";
constexpr std::string_view kScriptTail = "\";";
constexpr std::string_view kPageName = "webPdf.htm";

void TellError(OwnerWindow& owner, const std::string& text) {
  owner.ShowMessage({"錯誤", text, OwnerWindow::Icon::kError, OwnerWindow::Buttons::kOk});
}

// The script's bytes for `document`, built in one wiping buffer (the Base64
// text is the document too); false when the memory cannot be had.
[[nodiscard]] bool BuildScript(const SecureBuffer& document, SecureBuffer& script) {
  const size_t frame = kScriptHead.size() + kScriptTail.size();
  if (document.size() / 3 >= (SIZE_MAX - frame) / 4) return false;
  const size_t textLength = (document.size() + 2) / 3 * 4;
  if (!script.Allocate(kScriptHead.size() + textLength + kScriptTail.size())) return false;
  uint8_t* text = script.data() + kScriptHead.size();
  // The encoder ends its text with a zero byte; the tail's first byte has
  // room for it and is written afterwards.
  size_t written = 0;
  if (mbedtls_base64_encode(text, textLength + 1, &written, document.data(), document.size()) !=
      0) {
    return false;
  }
  kScriptHead.copy(reinterpret_cast<char*>(script.data()), kScriptHead.size());
  kScriptTail.copy(reinterpret_cast<char*>(text + textLength), kScriptTail.size());
  return true;
}

}  // namespace

void OpenPdfInBrowser(const std::string& pdfPath, const std::string& workFolder,
                      OwnerWindow& owner) {
  SecureBuffer script;
  {
    SecureBuffer document;
    if (ReadWholeFile(pdfPath, document) != 0) {
      TellError(owner, pdfPath + "讀取失敗,");
      return;
    }
    if (!BuildScript(document, script)) {
      TellError(owner, "配置保單記憶體錯誤");
      return;
    }
  }
  const std::string scriptPath = workFolder + std::string(kScriptName);
  // An unwritten script would leave the page showing the previous document.
  if (WritePrivateFile(scriptPath, script.data(), script.size()) != 0) {
    TellError(owner, WriteFailureText(scriptPath, errno));
    return;
  }
  script.Release();
  owner.OpenWithDesktop(workFolder + std::string(kPageName));
  owner.CloseMainWindow();
}

}  // namespace qalv
