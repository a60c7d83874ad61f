// The application shell: the version text, the About box, the system's error
// texts, the registration switches, and registration with the desktop checked
// through GLib's own reading of the desktop entry, mimeapps.list and the MIME
// database (gio).
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QSettings>
#include <QWidget>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/gui/support/qt_print.h"
#include "tests/support/test_support.h"
#include "ui/shell/about_dialog.h"
#include "ui/shell/reader_version.h"
#include "ui/shell/registration.h"
#include "ui/shell/window_placement.h"

namespace qalv {
namespace {

namespace fs = std::filesystem;

TEST(ReaderVersionTest, FormatsFourDecimalFieldsAndRefusesAnythingElse) {
  struct Row {
    const char* text;
    const char* expected;
  };
  const Row rows[] = {
      {"1.2.8.0", "1.2.8.0"},
      {"1.2.10.0", "1.2.10.0"},
      {"01.002.0008.00", "1.2.8.0"},
      {"65535.0.0.65535", "65535.0.0.65535"},
      {"", ""},
      {"1.2.8", ""},
      {"1.2.8.0.0", ""},
      {"1..8.0", ""},
      {"1.2.8.", ""},
      {".1.2.8", ""},
      {"1.2.8.x", ""},
      {"v1.2.8.0", ""},
      {"1.2.-8.0", ""},
      {"1.2.+8.0", ""},
      {" 1.2.8.0", ""},
      {"1.2.8.0 ", ""},
      {"1.2.65536.0", ""},
      {"1.2.99999999999.0", ""},
      {"1,2,8,0", ""},
      {"\xEF\xBC\x91.2.8.0", ""},  // a full-width digit one
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FormatReaderVersion(QString::fromUtf8(row.text)), QString::fromUtf8(row.expected))
        << "text: \"" << row.text << '"';
  }
}

TEST(ReaderVersionTest, ReportsTheProjectVersion) {
  // The version the update offer compares and the services expect.
  EXPECT_EQ(GetReaderVersion(), QStringLiteral("1.2.8.0"));
}

// Where the window opens: the designed size centred, or where it was left,
// always inside the screen's free area and no smaller than the minimum the
// area allows.
TEST(WindowPlacementTest, FitsTheFrameIntoTheAvailableArea) {
  const QRect laptop(0, 32, 1366, 736);  // a 1366x768 screen under a 32 px panel
  const QSize designed(1700, 950);
  const QSize minimum(900, 480);
  const struct {
    const char* name;
    QRect wanted;
    QRect area;
    QRect fitted;
  } rows[] = {
      {"designed, shrunk to the area", QRect(), laptop, QRect(0, 32, 1366, 736)},
      {"designed, centred in a large area", QRect(), QRect(0, 0, 2560, 1440), QRect(430, 245, 1700, 950)},
      {"left where it was", QRect(100, 100, 1000, 600), laptop, QRect(100, 100, 1000, 600)},
      {"moved back onto the screen", QRect(900, 500, 1000, 600), laptop, QRect(366, 168, 1000, 600)},
      {"grown to the minimum", QRect(10, 40, 300, 200), laptop, QRect(10, 40, 900, 480)},
      {"a screen smaller than the minimum", QRect(), QRect(0, 0, 800, 450), QRect(0, 0, 800, 450)},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(FitFrame(row.wanted, designed, minimum, row.area), row.fitted) << row.name;
  }
}

TEST(WindowPlacementTest, KeepsTheFrameInTheSettings) {
  test::TempDir dir;
  QSettings settings(QString::fromStdString((dir.path() / "placement.ini").string()), QSettings::IniFormat);
  EXPECT_FALSE(StoredFrame(settings).isValid()) << "nothing stored yet";
  QWidget window;
  window.setGeometry(120, 90, 1000, 620);
  SavePlacement(window, settings);
  EXPECT_EQ(StoredFrame(settings), window.frameGeometry());
  EXPECT_EQ(settings.value(QStringLiteral("Window/Width")).toInt(), window.frameGeometry().width());
}

TEST(AboutBoxTest, ShowsTitleVersionIconAndDefaultOkButton) {
  CAboutDlg about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("關於 QALV 電子保單瀏覽器"));
  const auto* version = about.findChild<QLabel*>(QStringLiteral("1005"));
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->text(), QStringLiteral("版本 1.2.8.0"));

  const QList<QPushButton*> buttons = about.findChildren<QPushButton*>();
  ASSERT_EQ(buttons.size(), 1);
  EXPECT_EQ(buttons[0]->text(), QStringLiteral("確定"));
  EXPECT_TRUE(buttons[0]->isDefault());

  // The icon really comes from the resources and renders.
  bool iconShown = false;
  for (const QLabel* label : about.findChildren<QLabel*>()) {
    iconShown =
        iconShown || (!label->pixmap().isNull() && label->pixmap().toImage().pixelColor(16, 16).alpha() > 0);
  }
  EXPECT_TRUE(iconShown);

  // A fixed box that holds every control whole.
  EXPECT_EQ(about.minimumSize(), about.maximumSize());
  const QRect box(QPoint(0, 0), about.minimumSize());
  EXPECT_GT(box.width(), box.height());
  for (const QWidget* child : about.findChildren<QWidget*>()) {
    EXPECT_TRUE(box.contains(child->geometry())) << child->metaObject()->className();
  }
}

TEST(AboutBoxTest, OkEscapeAndCloseBoxEndTheBox) {
  const auto endsBy = [](const std::function<void(CAboutDlg&)>& action) {
    CAboutDlg about;
    about.show();
    if (!QTest::qWaitForWindowExposed(&about)) return false;
    action(about);
    return !about.isVisible();
  };
  EXPECT_TRUE(
      endsBy([](CAboutDlg& about) { QTest::mouseClick(about.findChild<QPushButton*>(), Qt::LeftButton); }));
  EXPECT_TRUE(endsBy([](CAboutDlg& about) { QTest::keyClick(&about, Qt::Key_Escape); }));
  EXPECT_TRUE(endsBy([](CAboutDlg& about) { QTest::keyClick(&about, Qt::Key_Return); }));
  EXPECT_TRUE(endsBy([](CAboutDlg& about) { about.close(); }));
}

TEST(RegistrationSwitchTest, RecognisesTheFrameworkSwitchesOnly) {
  using S = RegistrationSwitch;
  struct Row {
    QStringList arguments;
    S expected;
  };
  const Row rows[] = {
      {{}, S::None},
      {{"/Register"}, S::Register},
      {{"-register"}, S::Register},
      {{"--register"}, S::Register},
      {{"/REGSERVER"}, S::Register},
      {{"-RegisterPerUser"}, S::Register},
      {{"/regserverperuser"}, S::Register},
      {{"/Unregister"}, S::Unregister},
      {{"-UNREGSERVER"}, S::Unregister},
      {{"/UnregisterPerUser"}, S::Unregister},
      {{"-unregserverPerUser"}, S::Unregister},
      {{"--unregister"}, S::Unregister},
      {{"/Embedding"}, S::None},
      {{"-Automation"}, S::None},
      {{"Register"}, S::None},
      {{"/Registers"}, S::None},
      {{"/Reg"}, S::None},
      {{"---register"}, S::None},
      {{"/"}, S::None},
      {{"-"}, S::None},
      {{"/home/holder/policy.tpk"}, S::None},
      {{"/home/holder/Register"}, S::None},
      {{"C:\\policies\\policy.tpk"}, S::None},
      {{"policy.tpk", "-Regserver"}, S::Register},
      {{"/Register", "/Unregister"}, S::Unregister},
      {{"/Unregister", "/Embedding", "/Register"}, S::Register},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ParseRegistrationSwitch(row.arguments), row.expected) << row.arguments.join(u' ').toStdString();
  }
}

constexpr char kDesktopId[] = "qalv-quv-reader.desktop";
constexpr char kOtherViewer[] = "other-viewer.desktop";

std::optional<QByteArray> ReadBytes(const fs::path& path) {
  QFile file(QString::fromStdString(path.string()));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  return file.readAll();
}

void WriteBytes(const fs::path& path, const QByteArray& bytes) {
  fs::create_directories(path.parent_path());
  QFile file(QString::fromStdString(path.string()));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(bytes), bytes.size());
}

// What GLib makes of a MIME type's programs.
struct GioMime {
  std::string defaultApp;  // empty when there is none
  std::vector<std::string> registered;
};

std::string Gio(const std::string& arguments) {
  const test::CommandResult result = test::Run("LC_ALL=C GIO_USE_VFS=local gio " + arguments);
  EXPECT_EQ(result.exitCode, 0) << "gio " << arguments << ": " << result.err;
  return result.out;
}

GioMime QueryMime(const std::string& type) {
  GioMime mime;
  const std::string text = Gio("mime " + type);
  bool inRegistered = false;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.rfind("Default application", 0) == 0) {
      mime.defaultApp = line.substr(line.rfind(": ") + 2);
    } else if (line == "Registered applications:") {
      inRegistered = true;
    } else if (inRegistered && !line.empty() && line[0] == '\t') {
      mime.registered.push_back(line.substr(1));
    } else {
      inRegistered = false;
    }
  }
  return mime;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

std::string ContentType(const fs::path& file) {
  const std::string out = Gio("info -a standard::content-type " + test::ShellQuote(file.string()));
  const std::string key = "standard::content-type: ";
  const size_t at = out.find(key);
  if (at == std::string::npos) return {};
  return out.substr(at + key.size(), out.find('\n', at) - at - key.size());
}

// The desktop entry's keys, read by hand.
QMap<QString, QString> ReadDesktopEntry(const fs::path& path) {
  QMap<QString, QString> keys;
  const std::optional<QByteArray> bytes = ReadBytes(path);
  if (!bytes) return keys;
  const QStringList lines = QString::fromUtf8(*bytes).split(u'\n');
  if (lines.value(0) != QStringLiteral("[Desktop Entry]")) return keys;
  for (const QString& line : lines.mid(1)) {
    const qsizetype equals = line.indexOf(u'=');
    if (equals > 0) keys.insert(line.left(equals), line.mid(equals + 1));
  }
  return keys;
}

class RegistrationTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::Run("command -v gio").exitCode, 0) << "gio (Debian package libglib2.0-bin) is needed";
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS"}) {
      saved_.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
    }
    // The machine's own programs and MIME types stay out of the answers.
    qputenv("XDG_DATA_DIRS", QByteArray::fromStdString((root_.path() / "system").string()));
    qputenv("HOME", QByteArray::fromStdString((root_.path() / "home").string()));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(DataHome().string()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(ConfigHome().string()));
    // The program that the user chose as the default for PDF files.
    WriteBytes(
        DataHome() / "applications" / kOtherViewer,
        "[Desktop Entry]\nType=Application\nName=Other viewer\nExec=true %f\nMimeType=application/pdf;\n");
  }

  void TearDown() override {
    for (const Saved& variable : saved_) {
      if (variable.set) {
        qputenv(variable.name, variable.value);
      } else {
        qunsetenv(variable.name);
      }
    }
  }

  fs::path DataHome() const { return root_.path() / "data"; }
  fs::path ConfigHome() const { return root_.path() / "config"; }
  fs::path MimeAppsList() const { return ConfigHome() / "mimeapps.list"; }
  fs::path DesktopFile() const { return DataHome() / "applications" / kDesktopId; }
  fs::path IconFile() const { return DataHome() / "icons/hicolor/scalable/apps/qalv-quv-reader.svg"; }
  fs::path MimeTypeFile() const { return DataHome() / "mime/packages/qalv-tpk.xml"; }

  // A stand-in for the reader that records the arguments it is started with,
  // at a path that needs Exec's quoting and escapes. ("%" is left out: GLib
  // checks that the program exists before it undoes the "%%".)
  QString FakeReader() {
    const fs::path folder = root_.path() / "bin";
    const fs::path program = folder / "QUV $HOME `x` \"reader\" \\ 'a'.sh";
    // Written aside and renamed, so that the record appears whole.
    const std::string record = test::ShellQuote(LaunchRecord().string());
    WriteBytes(program, QByteArray::fromStdString("#!/bin/sh\nprintf '%s\\n' \"$@\" > " + record +
                                                  ".part && mv " + record + ".part " + record + "\n"));
    fs::permissions(program, fs::perms::owner_all);
    return QString::fromStdString(program.string());
  }
  fs::path LaunchRecord() const { return root_.path() / "launched-with"; }

  // What the reader stand-in got when the desktop starts it for `file`.
  std::string LaunchFor(const fs::path& file) {
    fs::remove(LaunchRecord());
    Gio("launch " + test::ShellQuote(DesktopFile().string()) + " " + test::ShellQuote(file.string()));
    for (int i = 0; i < 100 && !fs::exists(LaunchRecord()); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return ReadBytes(LaunchRecord()).value_or("(not started)").toStdString();
  }

  struct Saved {
    const char* name;
    bool set;
    QByteArray value;
  };
  test::TempDir root_;
  std::vector<Saved> saved_;
};

// Files a user may already have.
struct MimeAppsRow {
  const char* name;
  std::optional<QByteArray> before;  // none: no file
  const char* pdfDefault;            // what must stay the PDF default; null: no other program
};

const MimeAppsRow kMimeAppsRows[] = {
    {"no file", std::nullopt, nullptr},
    {"associations and a PDF default",
     "# kept by hand\n"
     "[Default Applications]\n"
     "application/pdf=other-viewer.desktop\n"
     "text/plain=editor.desktop;\n"
     "\n"
     "[Added Associations]\n"
     "application/pdf=other-viewer.desktop;\n"
     "image/png=pictures.desktop;\n"
     "\n"
     "[Removed Associations]\n"
     "text/html=browser.desktop;\n",
     kOtherViewer},
    {"no Added Associations group and no final line break",
     "[Default Applications]\n"
     "application/pdf=other-viewer.desktop",
     kOtherViewer},
    {"carriage returns, spaces at the equals sign, a list without a final semicolon",
     "[Added Associations]\r\n"
     "application/pdf = other-viewer.desktop;pictures.desktop\r\n"
     "application/x-qalv-tpk=archive.desktop\r\n"
     "\r\n"
     "[Default Applications]\r\n"
     "application/pdf=other-viewer.desktop\r\n",
     kOtherViewer},
    {"PDF listed in Added Associations but no default",
     "[Added Associations]\n"
     "application/pdf=other-viewer.desktop;\n",
     kOtherViewer},
};

TEST_F(RegistrationTest, RegistersWithoutTakingThePdfDefaultAndUnregistersToTheSameBytes) {
  const QString reader = FakeReader();
  const fs::path package = root_.path() / "a policy.tpk";
  WriteBytes(package, "0");

  for (const MimeAppsRow& row : kMimeAppsRows) {
    SCOPED_TRACE(row.name);
    fs::remove(MimeAppsList());
    if (row.before) WriteBytes(MimeAppsList(), *row.before);

    ASSERT_EQ(RegisterReader(reader), 0);
    const std::optional<QByteArray> registered = ReadBytes(MimeAppsList());
    ASSERT_TRUE(registered.has_value());
    if (row.before) {
      // Every line the user had is still there, in its order, with at most
      // our entry added to its list.
      QByteArrayList remaining = registered->split('\n');
      for (const QByteArray& line : row.before->split('\n')) {
        const auto at = std::find_if(remaining.begin(), remaining.end(), [&line](QByteArray kept) {
          return kept.replace(QByteArray(kDesktopId) + ';', "").replace(QByteArray(";") + kDesktopId, "") ==
                 line;
        });
        ASSERT_NE(at, remaining.end()) << line.toStdString();
        remaining.erase(remaining.begin(), at + 1);
      }
    }

    const GioMime pdf = QueryMime("application/pdf");
    EXPECT_TRUE(Contains(pdf.registered, kDesktopId));
    if (row.pdfDefault) {
      EXPECT_EQ(pdf.defaultApp, row.pdfDefault);
    }
    const GioMime tpk = QueryMime("application/x-qalv-tpk");
    EXPECT_EQ(tpk.defaultApp, kDesktopId);
    EXPECT_EQ(ContentType(package), "application/x-qalv-tpk");
    EXPECT_EQ(LaunchFor(package), package.string() + "\n");

    ASSERT_EQ(RegisterReader(reader), 0);
    EXPECT_EQ(ReadBytes(MimeAppsList()), registered) << "a second registration changed mimeapps.list";

    ASSERT_EQ(UnregisterReader(), 0);
    EXPECT_EQ(ReadBytes(MimeAppsList()), row.before);
    EXPECT_FALSE(fs::exists(DesktopFile()));
    EXPECT_FALSE(fs::exists(IconFile()));
    EXPECT_FALSE(fs::exists(MimeTypeFile()));
    EXPECT_FALSE(Contains(QueryMime("application/pdf").registered, kDesktopId));
    EXPECT_NE(ContentType(package), "application/x-qalv-tpk");
  }
}

TEST_F(RegistrationTest, WritesTheDesktopEntryIconAndMimeType) {
  ASSERT_EQ(RegisterReader(FakeReader()), 0);

  const QMap<QString, QString> entry = ReadDesktopEntry(DesktopFile());
  EXPECT_EQ(entry.value("Type"), "Application");
  EXPECT_EQ(entry.value("Name"), "QALV Electronic Policy Reader");
  EXPECT_EQ(entry.value("Name[zh_TW]"), QStringLiteral("QALV 電子保單瀏覽器"));
  EXPECT_EQ(entry.value("Icon"), "qalv-quv-reader");
  EXPECT_EQ(entry.value("MimeType"), "application/x-qalv-tpk;application/pdf;");
  EXPECT_EQ(entry.value("Terminal"), "false");
  EXPECT_EQ(entry.value("Categories"), "Office;Viewer;");
  EXPECT_TRUE(entry.value("Exec").endsWith(" %f")) << entry.value("Exec").toStdString();

  const std::optional<QByteArray> icon = ReadBytes(IconFile());
  ASSERT_TRUE(icon.has_value());
  QFile resource(QString::fromLatin1(kReaderIconResource));
  ASSERT_TRUE(resource.open(QIODevice::ReadOnly));
  EXPECT_EQ(*icon, resource.readAll());
  EXPECT_FALSE(QImage(QString::fromStdString(IconFile().string())).isNull());

  // The MIME database's own tool took the type with its glob and comment.
  const std::optional<QByteArray> built = ReadBytes(DataHome() / "mime/application/x-qalv-tpk.xml");
  ASSERT_TRUE(built.has_value());
  EXPECT_TRUE(built->contains("<comment>QALV")) << built->toStdString();
  EXPECT_TRUE(ReadBytes(DataHome() / "mime/globs2").value_or("").contains("application/x-qalv-tpk:*.tpk"));
}

TEST_F(RegistrationTest, UnregisteringWhatWasNeverRegisteredChangesNothing) {
  const QByteArray before = kMimeAppsRows[1].before.value();
  WriteBytes(MimeAppsList(), before);
  ASSERT_EQ(UnregisterReader(), 0);
  EXPECT_EQ(ReadBytes(MimeAppsList()), before);
  EXPECT_FALSE(fs::exists(DesktopFile()));
}

TEST_F(RegistrationTest, UnregisteringKeepsOtherProgramsAddedToOurLinesLater) {
  ASSERT_EQ(RegisterReader(FakeReader()), 0);
  // The user adds another PDF program after ours; our entry goes, theirs stays.
  QByteArray list = ReadBytes(MimeAppsList()).value();
  list.replace(QByteArray("application/pdf=") + kDesktopId + ';',
               QByteArray("application/pdf=") + kDesktopId + ";later.desktop;");
  WriteBytes(MimeAppsList(), list);
  ASSERT_EQ(UnregisterReader(), 0);
  const QByteArray after = ReadBytes(MimeAppsList()).value_or("(no file)");
  EXPECT_TRUE(after.contains("\napplication/pdf=later.desktop;\n")) << after.toStdString();
  EXPECT_FALSE(after.contains(kDesktopId)) << after.toStdString();
}

TEST_F(RegistrationTest, FallsBackToTheHomeFoldersWhenTheVariablesAreUnsetOrRelative) {
  qunsetenv("XDG_DATA_HOME");
  qputenv("XDG_CONFIG_HOME", "relative/config");
  const fs::path home = root_.path() / "home";
  ASSERT_EQ(RegisterReader(FakeReader()), 0);
  EXPECT_TRUE(fs::exists(home / ".local/share/applications" / kDesktopId));
  EXPECT_TRUE(fs::exists(home / ".local/share/mime/packages/qalv-tpk.xml"));
  EXPECT_TRUE(fs::exists(home / ".config/mimeapps.list"));
  EXPECT_FALSE(fs::exists("relative"));
  ASSERT_EQ(UnregisterReader(), 0);
  EXPECT_FALSE(fs::exists(home / ".local/share/applications" / kDesktopId));
  EXPECT_FALSE(fs::exists(home / ".config/mimeapps.list"));
}

TEST_F(RegistrationTest, ReportsFilesThatCannotBeWrittenOrRead) {
  // A file where the data folder should be, then a folder where mimeapps.list should be.
  WriteBytes(DataHome().string() + "-file", "x");
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(DataHome().string() + "-file"));
  EXPECT_NE(RegisterReader(FakeReader()), 0);

  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(DataHome().string()));
  fs::create_directories(MimeAppsList());
  EXPECT_NE(RegisterReader(FakeReader()), 0);
  EXPECT_NE(UnregisterReader(), 0);
}

}  // namespace
}  // namespace qalv
