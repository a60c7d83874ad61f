// Helpers shared by the test programs: temporary folders, files, and running
// the project's own tools and OpenSSL's command line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <json/value.h>

#include "platform/secure_buffer.h"
#include "platform/trace.h"

namespace qalv::test {

using Bytes = WipedBytes;

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Collects the trace's log lines while it lives (from any thread), and
// silences the log again when it goes.
class CapturedLog {
 public:
  CapturedLog() {
    trace::SetLogSink([this](std::string_view line) {
      std::lock_guard<std::mutex> lock(mutex_);
      text_ += line;
    });
  }
  ~CapturedLog() { trace::SetLogSink({}); }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;

  std::string Text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.clear();
  }

 private:
  std::mutex mutex_;
  std::string text_;
};

Bytes ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const Bytes& bytes);
void WriteFile(const std::filesystem::path& path, const std::string& text);

struct CommandResult {
  int exitCode = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs `command` through /bin/sh and captures both output streams.
CommandResult Run(const std::string& command);

// Upper-case hexadecimal text of the bytes, as tpk writes byte strings.
std::string Hex(const Bytes& bytes);

// The built `tpk` run with `args`; its standard output parsed as the one JSON
// object it must be (a parse failure fails the calling test).
struct TpkAnswer {
  int exitCode = -1;
  Json::Value json;
  std::string out;
  std::string err;
};
// `environment` ("NAME=value ...", shell-quoted) is set for tpk alone.
TpkAnswer RunTpk(const std::string& args, const std::string& environment = "");

// Single-quotes `text` for /bin/sh.
std::string ShellQuote(const std::string& text);

// Runs OpenSSL's command line with `input` on its standard input and returns
// its standard output; throws when it fails.
Bytes OpenSsl(const std::string& arguments, const Bytes& input);

// A program started in the background whose first line of standard output
// is awaited (a server announcing its address); stopped with the object.
class BackgroundProcess {
 public:
  // `stderrPath` receives its standard error.
  BackgroundProcess(const std::vector<std::string>& argv, const std::filesystem::path& stderrPath);
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;
  const std::string& firstLine() const { return firstLine_; }

 private:
  int pid_ = -1;
  std::string firstLine_;
};

// The built tools and the committed test data folder.
std::string TpkPath();
std::string ServicesPath();
std::filesystem::path TestDataDir();

}  // namespace qalv::test
