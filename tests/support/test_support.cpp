#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <iterator>
#include <stdexcept>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace qalv::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qalv-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  WriteFile(path, Bytes(text.begin(), text.end()));
}

CommandResult Run(const std::string& command) {
  TempDir dir;
  const auto outPath = dir / "out";
  const auto errPath = dir / "err";
  const std::string full = "( " + command + " ) >" + ShellQuote(outPath.string()) + " 2>" +
                           ShellQuote(errPath.string()) + " </dev/null";
  const int status = std::system(full.c_str());
  CommandResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const Bytes out = ReadFile(outPath);
  const Bytes err = ReadFile(errPath);
  result.out.assign(out.begin(), out.end());
  result.err.assign(err.begin(), err.end());
  return result;
}

std::string Hex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

TpkAnswer RunTpk(const std::string& args, const std::string& environment) {
  const CommandResult run = Run(environment + " " + ShellQuote(TpkPath()) + " " + args);
  TpkAnswer answer;
  answer.exitCode = run.exitCode;
  answer.out = run.out;
  answer.err = run.err;
  if (!run.out.empty()) {
    std::istringstream in(run.out);
    std::string errors;
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &answer.json, &errors))
        << errors << "\n" << run.out << run.err;
  }
  return answer;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::filesystem::path& stderrPath) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    if (std::FILE* err = std::fopen(stderrPath.c_str(), "w")) dup2(fileno(err), STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  char c = 0;
  while (read(out[0], &c, 1) == 1 && c != '\n') firstLine_ += c;
  close(out[0]);
}

BackgroundProcess::~BackgroundProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

Bytes OpenSsl(const std::string& arguments, const Bytes& input) {
  TempDir dir;
  WriteFile(dir / "in", input);
  const auto run = Run("openssl " + arguments + " <" + ShellQuote((dir / "in").string()));
  if (run.exitCode != 0) throw std::runtime_error("openssl " + arguments + ": " + run.err);
  return Bytes(run.out.begin(), run.out.end());
}

std::string TpkPath() { return QALV_TPK_PATH; }

std::string ServicesPath() { return QALV_SERVICES_PATH; }

std::filesystem::path TestDataDir() { return QALV_TEST_DATA_DIR; }

}  // namespace qalv::test
