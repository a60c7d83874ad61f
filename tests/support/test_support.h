// Helpers shared by the test programs: temporary folders, files, and running
// the project's own tools and OpenSSL's command line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/secure_buffer.h"

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

// Single-quotes `text` for /bin/sh.
std::string ShellQuote(const std::string& text);

// The built `tpk` tool and the committed test data folder.
std::string TpkPath();
std::filesystem::path TestDataDir();

}  // namespace qalv::test
