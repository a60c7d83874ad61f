// "QALV線上驗證": the open policy confirmed by the authority's verification
// service behind the progress dialog, and the answer handed to the page.
#pragma once

#include <QWidget>

#include "ui/reader_context.h"

namespace qalv {

// True when the answer (the service's, or a failure object of the same shape)
// was written into the page; the page's script then shows it. False when the
// document was not decrypted, the user cancelled, or the dialog failed; the
// page is then unchanged. `owner` owns the progress dialog.
bool RunOnlineVerification(ReaderContext& reader, QWidget* owner);

}  // namespace qalv
