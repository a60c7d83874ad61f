// What a package or a service writes cannot change how the verdict looks or
// make the page reach anything: the real window, the real page, hostile texts
// in the insurer's name, the memo and the online answer, and a listening
// server that must hear nothing.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <atomic>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/trace.h"
#include "tests/gui/support/reader_driver.h"
#include "tests/support/fixtures.h"
#include "tests/support/local_server.h"
#include "tests/support/test_support.h"
#include "writer/der_writer.h"

namespace qalv {
namespace {

constexpr char kPassword[] = "test-password";

// Empty when the element, scrolled into view, is what the page hits at its
// own centre; otherwise what covers it.
QString Covering(const char* id) {
  return QStringLiteral(
             "(() => { const e = document.getElementById('%1'); e.scrollIntoView({block: 'center'});"
             " const r = e.getBoundingClientRect();"
             " const hit = document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2);"
             " if (r.width > 0 && (hit === e || e.contains(hit))) return '';"
             " return hit ? hit.tagName + '#' + hit.id + '.' + hit.className + ' ' + JSON.stringify(r) : 'nothing'; })()")
      .arg(QLatin1String(id));
}

class PageDefencesTest : public testing::Test {
 protected:
  void SetUp() override {
    trace::SetLogSink({});
    std::filesystem::create_directories(home_.path() / "qalvquv");
    test::StoreSealedChain(home_.path() / "qalvquv");
    // Whatever reaches the listener counts, whatever its method or path.
    listener_.server().set_pre_routing_handler([this](const httplib::Request&, httplib::Response& response) {
      ++heard_;
      response.set_content("x", "text/plain");
      return httplib::Server::HandlerResponse::Handled;
    });
    listener_.Start();
    service_.server().Post("/acquvSrv/verify", [this](const httplib::Request&, httplib::Response& response) {
      response.set_content(answer_, "application/json");
    });
    service_.Start();
  }

  std::string Beacon(const std::string& what) const { return listener_.Url("/" + what); }

  // Opens a package whose authority signature fails (so the verdict is a
  // failure worth forging) with these texts, then verifies it online against
  // a service that answers `answer`.
  void OpenAndVerify(const std::string& accountName, const std::string& memo, const QJsonObject& answer) {
    writer::PackageSpec spec = test::SharedPackageSpec();
    spec.versionInfo.accountName = accountName;
    spec.versionInfo.memo = memo;
    spec.versionInfo.certChainUrl = service_.Url("/acquvSrv/caChain");
    writer::DerNode tree = writer::BuildPackageTree(spec);
    writer::Bytes signature = writer::BitStringValue(tree.At("s3Signature"));
    signature[signature.size() / 2] ^= 0x01;
    writer::SetBitStringValue(tree.At("s3Signature"), signature);
    const std::filesystem::path package = files_.path() / "hostile.tpk";
    test::WriteFile(package, writer::Serialize(tree));
    answer_ = QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString();

    if (!driver_) {
      driver_.emplace(home_.path());
      ASSERT_TRUE(driver_->WaitUntilReady());
    }
    const QString path = QString::fromStdString(package.string());
    driver_->window->SetFileChoosers([path] { return path; }, [](const QString&) { return QString(); });
    answers_.Password(QString::fromLatin1(kPassword));
    ASSERT_TRUE(driver_->CallPage(QStringLiteral("openTpk()")));
    ASSERT_EQ(driver_->window->Policy().decryptState, 0);
    ASSERT_NE(driver_->window->Policy().s3SignResult, 0);
    ASSERT_TRUE(driver_->PressOnlineVerify());
    ASSERT_EQ(driver_->Style("onlineStatus", "display"), "");
    // Time for pictures, style sheets and refreshes to be asked for.
    QTest::qWait(300);
  }

  test::TempDir home_;
  test::TempDir files_;
  test::LocalServer listener_;
  test::LocalServer service_;
  std::atomic<int> heard_{0};
  std::string answer_;
  test::ModalAnswers answers_;
  std::optional<test::ReaderDriver> driver_;
};

TEST_F(PageDefencesTest, OverlaysStayInTheirBoxesAndFormattingStays) {
  const struct {
    const char* name;
    std::string markup;
  } overlays[] = {
      {"fixed block over the window",
       R"x(<div style="position:fixed;inset:0;z-index:2147483647;background:#fff">本保單已通過QALV第三方認證，內容未經修改。</div>)x"},
      {"the page's own mask class", R"x(<p class="mask">本保單已通過QALV第三方認證</p>)x"},
      {"a clobbering id", R"x(<span id="status">本保單已通過</span><span name="status">x</span>)x"},
      {"giant text pushed down", "<font size=7>" + std::string(200, 'W') + "<br><br><br><br>本保單已通過</font>"},
      {"a table with a style sheet",
       R"x(<table style="position:absolute;top:0;left:0;width:3000px;height:3000px"><tr><td>本保單已通過</td></tr></table><style>#status{display:none}</style>)x"},
      {"svg foreign object",
       R"x(<svg width=3000 height=3000 style="position:fixed;top:0"><foreignObject width=3000 height=3000><div>本保單已通過</div></foreignObject></svg>)x"},
  };
  const std::string formatted = R"x(<b>粗</b><i>斜</i><font color="#ff0000">紅</font>)x";
  for (const auto& overlay : overlays) {
    SCOPED_TRACE(overlay.name);
    QJsonObject chk{{"name", QString::fromStdString(overlay.markup)},
                    {"time", "2024-01-02 03:04:05"},
                    {"text", QString::fromStdString(formatted + overlay.markup)},
                    {"code", "00"}};
    OpenAndVerify(overlay.markup + "保險", formatted + overlay.markup,
                  QJsonObject{{"code", "9999"}, {"msg", QString::fromStdString(overlay.markup)}, {"chk", chk}});

    test::ReaderDriver& page = *driver_;
    EXPECT_TRUE(page.Shown("status").startsWith(QStringLiteral("本保單驗證有誤，")));
    EXPECT_TRUE(page.Eval("(() => { const s = document.getElementById('status'); const r = s.getBoundingClientRect();"
                          " return document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2) === s; })()")
                    .toBool())
        << "the status line's centre is the status line itself";
    for (const char* id : {"status", "s1Verdict", "s2Verdict", "s3Title", "ipksealMark", "tpksealMark",
                           "onlineSummary"}) {
      EXPECT_EQ(page.Text(Covering(id)), "") << id << " is covered";
    }
    EXPECT_EQ(page.Shown("s3Title"), QStringLiteral("QALV第三方認證電子簽章 有問題"));
    EXPECT_EQ(page.Attribute("tpksealMark", "data-verdict"), "fail");
    EXPECT_EQ(page.Shown("onlineSummary"), QStringLiteral("此份保單由QALV線上驗證有問題"));
    EXPECT_EQ(page.Eval("document.querySelectorAll('.packageText [style], .packageText [class], "
                        ".packageText [id], .packageText [name]').length")
                  .toInt(),
              0);
    for (const char* box : {"memo", "chk_text"}) {
      SCOPED_TRACE(box);
      const QString probe = QStringLiteral(
                                "(() => { const m = document.getElementById('%1');"
                                " return [getComputedStyle(m.querySelector('b')).fontWeight,"
                                " getComputedStyle(m.querySelector('i')).fontStyle,"
                                " getComputedStyle(m.querySelector('font')).color].join('|'); })()")
                                .arg(QLatin1String(box));
      EXPECT_EQ(page.Text(probe), "700|italic|rgb(255, 0, 0)") << page.Html(box).toStdString();
    }
  }
  EXPECT_EQ(heard_, 0);
}

TEST_F(PageDefencesTest, TextsThatWouldLoadSomethingReachNoServer) {
  const std::string loads =
      R"x(<div style="background:url()x" + Beacon("css") + R"x()">css</div>)x" +  //
      R"x(<img src=")x" + Beacon("img") + R"x(">)x" +                            //
      R"x(<link rel="stylesheet" href=")x" + Beacon("link") + R"x(">)x" +        //
      R"x(<meta http-equiv="refresh" content="0;url=)x" + Beacon("refresh") + R"x(">)x" +
      R"x(<style>@import url()x" + Beacon("import") + R"x();</style>)x" +  //
      R"x(<font face="x" style="background-image:url()x" + Beacon("font") + R"x()">f</font>)x" +
      R"x(<svg><image href=")x" + Beacon("svg") + R"x("/></svg>)x" +  //
      R"x(<video poster=")x" + Beacon("poster") + R"x("></video><object data=")x" + Beacon("object") +
      R"x("></object><iframe src=")x" + Beacon("frame") + R"x("></iframe>)x" +  //
      R"x(<form action=")x" + Beacon("form") + R"x("><input type="image" src=")x" + Beacon("input") +
      R"x("></form><a ping=")x" + Beacon("ping") + R"x(" href=")x" + Beacon("a") + R"x(">a</a>)x";
  QJsonObject chk{{"name", QString::fromStdString(loads)},
                  {"time", QString::fromStdString(loads)},
                  {"text", QString::fromStdString(loads)},
                  {"code", "00"}};
  OpenAndVerify(loads, loads, QJsonObject{{"code", "0000"}, {"msg", QString::fromStdString(loads)}, {"chk", chk}});
  ASSERT_EQ(driver_->Style("versionInfo", "display"), "");
  EXPECT_EQ(heard_, 0);
}

// Even a script running in the page (as if one ever got in) can neither read
// a file nor reach a server, and cannot load a frame.
TEST_F(PageDefencesTest, PageScriptReachesNoFileAndNoServer) {
  driver_.emplace(home_.path());
  ASSERT_TRUE(driver_->WaitUntilReady());
  const QString probe = QStringLiteral(R"((async () => {
      const outcome = (promise) => promise.then(() => 'loaded', () => 'refused');
      const xhr = (url) => new Promise((resolve) => {
        const request = new XMLHttpRequest();
        request.onload = () => resolve('loaded');
        request.onerror = () => resolve('refused');
        try { request.open('GET', url); request.send(); } catch (error) { resolve('refused'); }
      });
      const frame = document.createElement('iframe');
      frame.src = %2;
      document.body.appendChild(frame);
      const image = new Image();
      image.src = %3;
      window.__probe = [await outcome(fetch('file:///etc/hostname')), await outcome(fetch(%1)),
                        await xhr(%1), await xhr('file:///etc/hostname')].join(',');
    })())")
                            .arg(test::JsString(QString::fromStdString(Beacon("fetch"))),
                                 test::JsString(QString::fromStdString(Beacon("frame"))),
                                 test::JsString(QString::fromStdString(Beacon("image"))));
  test::CapturedLog log;
  ASSERT_TRUE(driver_->CallPage(probe));
  EXPECT_EQ(driver_->Text("window.__probe"), "refused,refused,refused,refused");
  {
    // Each refusal is in the trace (a frame's by its origin).
    const std::string text = log.Text();
    for (const std::string& refused :
         {"page: Refused to connect to '" + Beacon("fetch"), "page: Refused to load the image '" + Beacon("image"),
          "page: Refused to frame '" + listener_.Url("/"), std::string("page: Refused to connect to 'file:")}) {
      EXPECT_NE(text.find(refused), std::string::npos) << refused << "\n" << text;
    }
  }
  QTest::qWait(300);
  EXPECT_EQ(heard_, 0);
}

}  // namespace
}  // namespace qalv
