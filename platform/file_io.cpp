#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

namespace qalv {
namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool WriteAll(int fd, const uint8_t* bytes, size_t length) {
  for (size_t done = 0; done < length;) {
    const ssize_t written = write(fd, bytes + done, length - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

// Writes over the file and then cuts it to length, not truncating first:
// truncating a file whose blocks are on disk waits for the file system, and
// the seals are rewritten on every opening. Closes `fd`.
bool FinishWrite(int fd, const uint8_t* bytes, size_t length) {
  bool ok = WriteAll(fd, bytes, length) && ftruncate(fd, static_cast<off_t>(length)) == 0;
  ok = close(fd) == 0 && ok;
  return ok;
}

// A plain file of ours with no other name: the only kind written in place.
bool OursAlone(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 &&
         info.st_uid == geteuid();
}

// Opens the file for writing without following a link at its name; whatever
// is there and is not a plain file of ours alone is removed first. A FIFO
// must not block the opening, hence O_NONBLOCK (no effect on a plain file).
int OpenPrivateFile(const std::filesystem::path& path) {
  constexpr int kFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = open(path.c_str(), kFlags, 0600);
  if (fd >= 0 && OursAlone(fd) && fchmod(fd, 0600) == 0) return fd;
  if (fd >= 0) close(fd);
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return -1;
  if (unlink(path.c_str()) != 0) return -1;
  fd = open(path.c_str(), kFlags | O_EXCL, 0600);
  if (fd >= 0 && fchmod(fd, 0600) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

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
  return FinishWrite(fd, bytes, length) ? 0 : file_io::kFailed;
}

int32_t WritePrivateFile(const std::filesystem::path& path, const uint8_t* bytes, size_t length) {
  const int fd = OpenPrivateFile(path);
  if (fd < 0) return file_io::kFailed;
  return FinishWrite(fd, bytes, length) ? 0 : file_io::kFailed;
}

int32_t ReplacePrivateFile(const std::filesystem::path& path, const uint8_t* bytes, size_t length) {
  // mkstemp replaces the six X's of its template with a name of its own and
  // makes the file 0600, exclusively, in the target's folder, so that the
  // rename cannot cross file systems.
  std::string temporary = path.string() + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return file_io::kFailed;
  bool ok = WriteAll(fd, bytes, length) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  // rename replaces a link at the name, never its target.
  ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temporary.c_str());
  return ok ? 0 : file_io::kFailed;
}

int32_t CreatePrivateFolder(const std::filesystem::path& path, std::error_code& error) {
  if (std::filesystem::is_directory(path, error)) return 0;
  error.clear();
  const std::filesystem::path folder = path.has_filename() ? path : path.parent_path();
  if (folder.has_parent_path()) {
    std::filesystem::create_directories(folder.parent_path(), error);
    if (error) return file_io::kFailed;
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = std::error_code(errno, std::generic_category());
    return file_io::kFailed;
  }
  if (!std::filesystem::is_directory(folder, error)) {
    if (!error) error = std::make_error_code(std::errc::not_a_directory);
    return file_io::kFailed;
  }
  return 0;
}

std::filesystem::path InstalledDataFolder(const std::filesystem::path& programFolder) {
  return (programFolder / ".." / "share" / "qalv").lexically_normal();
}

}  // namespace qalv
