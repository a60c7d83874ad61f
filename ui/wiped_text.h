// Letting go of texts that held a secret or a document: the characters are
// overwritten first, so they do not go back to the heap readable.
#pragma once

#include <QByteArray>
#include <QString>

namespace qalv {

// Empties the text, overwriting its characters when no other copy shares
// them. A shared text is only released: wipe every copy, and the last one
// overwrites what they shared.
void WipeText(QString& text);
void WipeBytes(QByteArray& bytes);

}  // namespace qalv
