#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
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
    if (written == 0) errno = EIO;
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

// Closes `fd` after the steps before it gave `ok`; errno keeps the reason of
// the first step that failed.
bool CloseAfter(int fd, bool ok) {
  const int reason = errno;
  const bool closed = close(fd) == 0;
  if (!ok) errno = reason;
  return ok && closed;
}

// Removes what a failed write left, keeping errno for the caller.
void RemoveAfterFailure(const char* path) {
  const int reason = errno;
  unlink(path);
  errno = reason;
}

// Writes over the file and then cuts it to length, not truncating first:
// truncating a file whose blocks are on disk waits for the file system, and
// the seals are rewritten on every opening. Closes `fd`.
bool FinishWrite(int fd, const uint8_t* bytes, size_t length) {
  const bool ok = WriteAll(fd, bytes, length) && ftruncate(fd, static_cast<off_t>(length)) == 0;
  return CloseAfter(fd, ok);
}

// A new file of `mode` beside `path`, named after it, for the bytes that will
// replace it; -1 when none can be made. The name is never one that exists,
// so nothing placed there in advance is written through.
int CreateBeside(const std::string& path, mode_t mode, std::string& temporary) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = path + ".tmp" + std::to_string(getpid()) + "." + std::to_string(serial++);
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Writes the bytes into a new file beside `path`, flushes it to the disk and
// renames it over the name: a failure at any step leaves whatever was at the
// name as it was, and no temporary file behind. `keepMode` gives the new file
// a mode of its own (else it has the mode the folder's creator would give).
int32_t ReplaceThroughTemporary(const std::string& path, const uint8_t* bytes, size_t length,
                                std::optional<mode_t> keepMode) {
  std::string temporary;
  const int fd = CreateBeside(path, keepMode.value_or(0666), temporary);
  if (fd < 0) return file_io::kFailed;
  bool ok = (!keepMode || fchmod(fd, *keepMode) == 0) && WriteAll(fd, bytes, length) &&
            fsync(fd) == 0;
  ok = CloseAfter(fd, ok);
  // rename replaces a link at the name, never its target.
  ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) RemoveAfterFailure(temporary.c_str());
  return ok ? 0 : file_io::kFailed;
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
  const int reason = errno;
  if (fd >= 0) close(fd);
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    // Nothing at the name: the open's own failure (a full disk, say) is why.
    errno = reason;
    return -1;
  }
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return -1;
  }
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
  std::error_code error;
  std::filesystem::path target = path;
  // A link named as the output is written through, as a plain open would.
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) {
    target = std::filesystem::weakly_canonical(path, error);
    if (error) return file_io::kFailed;
  }
  struct stat info {};
  if (stat(target.c_str(), &info) != 0) {
    if (errno != ENOENT) return file_io::kFailed;
    return ReplaceThroughTemporary(target.string(), bytes, length, std::nullopt);
  }
  if (S_ISREG(info.st_mode)) {
    return ReplaceThroughTemporary(target.string(), bytes, length, info.st_mode & 07777);
  }
  // A pipe or a device (standard output named as a file) takes the bytes as
  // they come: there is nothing to replace.
  const int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return file_io::kFailed;
  return CloseAfter(fd, WriteAll(fd, bytes, length)) ? 0 : file_io::kFailed;
}

int32_t WritePrivateFile(const std::filesystem::path& path, const uint8_t* bytes, size_t length) {
  const int fd = OpenPrivateFile(path);
  if (fd < 0) return file_io::kFailed;
  if (FinishWrite(fd, bytes, length)) return 0;
  // Whoever reads the name next would take a part-written file for a whole one.
  RemoveAfterFailure(path.c_str());
  return file_io::kFailed;
}

int32_t ReplacePrivateFile(const std::filesystem::path& path, const uint8_t* bytes, size_t length) {
  return ReplaceThroughTemporary(path.string(), bytes, length, 0600);
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
