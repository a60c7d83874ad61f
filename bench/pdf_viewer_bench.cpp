// The PDF viewer's speed as a person feels it: the time from opening the
// viewer dialog on the decrypted bytes to its first page drawn, for a 10-page
// and a 200-page document, and the process's peak memory with the viewer open
// on the 200-page one. Prints medians in milliseconds.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/gui/support/sample_pdf.h"
#include "tests/support/test_support.h"
#include "viewer/pdf_dialog.h"

namespace {

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Pages full of text, as policy terms are.
qalv::test::Bytes MakePdf(int pages) {
  return qalv::test::SamplePdf(pages,
                               "    c.setFont('Helvetica', 11)\n"
                               "    for line in range(60):\n"
                               "        c.drawString(60, 800 - line * 12, 'Page %d line %d of the policy terms' % (i + 1, line))\n");
}

// Opens the viewer on `bytes` and draws its first page (grab() paints even
// where the offscreen platform has not exposed the window yet); milliseconds
// taken.
double OpenToFirstPage(const qalv::test::Bytes& bytes) {
  QElapsedTimer clock;
  clock.start();
  qalv::PDFDlg dialog(bytes.data(), static_cast<int32_t>(bytes.size()));
  if (dialog.OnInitDialog() != 0) return -1;
  dialog.show();
  dialog.Control().viewport()->grab();
  const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  dialog.close();
  return ms;
}

long PeakRssKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  const qalv::test::Bytes small = MakePdf(10);
  const qalv::test::Bytes large = MakePdf(200);
  if (small.empty() || large.empty()) return std::fputs("reportlab could not make the documents\n", stderr), 1;
  const long before = PeakRssKib();

  std::vector<double> smallMs;
  std::vector<double> largeMs;
  for (int run = 0; run < 7; ++run) {
    smallMs.push_back(OpenToFirstPage(small));
    largeMs.push_back(OpenToFirstPage(large));
  }
  if (std::min(*std::min_element(smallMs.begin(), smallMs.end()), *std::min_element(largeMs.begin(), largeMs.end())) < 0) {
    return std::fputs("the viewer refused a document\n", stderr), 1;
  }

  qalv::PDFDlg dialog(large.data(), static_cast<int32_t>(large.size()));
  if (dialog.OnInitDialog() != 0) return std::fputs("the viewer refused a document\n", stderr), 1;
  dialog.show();
  for (int page = 0; page < dialog.Control().PageCount(); page += 10) {
    dialog.Control().GoToPage(page);
    dialog.Control().viewport()->grab();
  }

  std::printf("10-page document (%zu KiB), open to first page:  %7.1f ms (median of 7, goal 300)\n",
              small.size() / 1024, Median(smallMs));
  std::printf("200-page document (%zu KiB), open to first page: %7.1f ms (median of 7, goal 300)\n",
              large.size() / 1024, Median(largeMs));
  std::printf("peak RSS before any viewer:                       %7.1f MiB\n", before / 1024.0);
  std::printf("peak RSS, viewer paged through 200 pages:         %7.1f MiB\n", PeakRssKib() / 1024.0);
  return 0;
}
