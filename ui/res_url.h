// What a res: address asks the reader page's scheme to serve. The page shows
// package texts and so may ask for any address: the answer is a compiled-in
// file that exists, one of the seven pictures an opening writes into the work
// folder, or nothing. Only QtCore, so the decision can be tried on its own.
#pragma once

#include <QString>
#include <QStringList>

class QUrl;

namespace qalv {

struct ResTarget {
  enum class Kind { kNone, kResource, kWorkPicture };
  Kind kind = Kind::kNone;
  // kResource: the compiled-in file (":/..."); kWorkPicture: the picture's
  // file name in the work folder, one of WorkPictureNames().
  QString name;

  bool operator==(const ResTarget&) const = default;
};

// The pictures an opening writes into the work folder, by their fixed names
// (SNS is the document's preview).
const QStringList& WorkPictureNames();

// res:/HTML/104 is the page, res:/JS/<name>.js and res:/CSS/<name>.css its
// scripts and style, res:/GIF/#172 (also res:/PNG/, res:/WEB/) a picture by
// its number, res:/WORK/<name> a work-folder picture. The query is ignored:
// the page adds one to load a picture afresh.
[[nodiscard]] ResTarget ResolveResUrl(const QUrl& url);

}  // namespace qalv
