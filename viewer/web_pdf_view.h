// Hands a plain PDF file to the desktop's web browser: the document goes into
// "b64Pdf.js" in the work folder, beside the viewer page "webPdf.htm" that
// decodes and shows it; then the reader closes.
#pragma once

#include <string>

#include "session/owner_window.h"

namespace qalv {

// `workFolder` ends with "/". Failures to read the file are reported through
// `owner` and leave the reader open.
void OpenPdfInBrowser(const std::string& pdfPath, const std::string& workFolder, OwnerWindow& owner);

}  // namespace qalv
