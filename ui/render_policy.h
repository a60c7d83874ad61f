// Turns the policy file at the window's path into what the page shows.
#pragma once

#include "ui/reader_context.h"

namespace qalv {

// Clears the page's result areas, opens reader.policyPath and writes the
// verdict, the verification tree, the memo, the preview with its seals and the
// document's Base64 copy. A cancelled or refused opening clears the path and
// leaves the page cleared; every other opening enters the recent list.
void RenderPolicy(ReaderContext& reader);

}  // namespace qalv
