// Sample documents written by ReportLab: A4 portrait pages (595 x 842 points),
// each with a black block at its lower left (x 50..250, y 50..350 points from
// the bottom) and `pageText`, a few Python lines drawing on canvas `c` for
// page number `i` (from 0).
#pragma once

#include <string>

#include "tests/support/test_support.h"

namespace qalv::test {

// Empty when ReportLab failed.
inline Bytes SamplePdf(int pages, const std::string& pageText) {
  TempDir dir;
  const std::string path = (dir.path() / "doc.pdf").string();
  const std::string script =
      "import sys\n"
      "from reportlab.pdfgen import canvas\n"
      "from reportlab.lib.pagesizes import A4\n"
      "c = canvas.Canvas(sys.argv[1], pagesize=A4)\n"
      "for i in range(int(sys.argv[2])):\n"
      "    c.rect(50, 50, 200, 300, stroke=0, fill=1)\n" +
      pageText +
      "    c.showPage()\n"
      "c.save()\n";
  const CommandResult made =
      Run("/usr/bin/python3 -c " + ShellQuote(script) + " " + ShellQuote(path) + " " + std::to_string(pages));
  if (made.exitCode != 0) return {};
  return ReadFile(path);
}

}  // namespace qalv::test
