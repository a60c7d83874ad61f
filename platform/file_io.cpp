#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace qalv {
namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

int32_t ReadWholeFile(const std::filesystem::path& path, SecureBuffer& bytes) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return file_io::kNotFound;
  // Folders and devices open for reading but have no size to read whole.
  if (error || status.type() != std::filesystem::file_type::regular) return file_io::kFailed;
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return file_io::kFailed;
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return file_io::kFailed;
  const long size = std::ftell(file.get());
  if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) return file_io::kFailed;
  SecureBuffer buffer;
  if (!buffer.Allocate(static_cast<size_t>(size))) return file_io::kFailed;
  if (size != 0 && std::fread(buffer.data(), 1, buffer.size(), file.get()) != buffer.size()) {
    return file_io::kFailed;
  }
  bytes = std::move(buffer);
  return 0;
}

int32_t WriteWholeFile(const std::filesystem::path& path, const uint8_t* bytes, size_t length) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return file_io::kFailed;
  // Written over and then cut to length, not truncated first: truncating a
  // file whose blocks are on disk waits for the file system, and the seals
  // are rewritten on every opening.
  bool ok = true;
  for (size_t done = 0; ok && done < length;) {
    const ssize_t written = write(fd, bytes + done, length - done);
    if (written < 0 && errno == EINTR) continue;
    ok = written > 0;
    if (ok) done += static_cast<size_t>(written);
  }
  ok = ok && ftruncate(fd, static_cast<off_t>(length)) == 0;
  ok = close(fd) == 0 && ok;
  return ok ? 0 : file_io::kFailed;
}

}  // namespace qalv
