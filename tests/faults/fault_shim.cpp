// The definitions of the file calls that the fault tests fail on purpose;
// see fault_shim.h. Every call not chosen goes on to the C library's own.
#include "tests/faults/fault_shim.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMaxTracked = 1 << 16;
constexpr size_t kMaxPrefix = 4096;

std::atomic<bool> armed{false};
std::atomic<int> armedStep{0};
std::atomic<int> armedError{0};
std::atomic<int> fired{0};
char prefix[kMaxPrefix];
size_t prefixLength = 0;
int reportFd = -1;
// Descriptors opened on a chosen path: their writes and flushes can fail.
std::atomic<bool> tracked[kMaxTracked];

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

#define QALV_NEXT(name) \
  static const auto real = Next<decltype(&name)>(#name)

bool Armed(QalvFaultStep step) {
  return armed.load(std::memory_order_acquire) && armedStep.load() == step;
}

bool StartsWithPrefix(const char* path) {
  return path != nullptr && std::strncmp(path, prefix, prefixLength) == 0;
}

// An unnamed temporary file (O_TMPFILE) is opened on the folder that will
// hold it: the chosen file's folder.
bool IsPrefixFolder(const char* path) {
  const char* slash = std::strrchr(prefix, '/');
  if (path == nullptr || slash == nullptr) return false;
  size_t length = std::strlen(path);
  while (length > 1 && path[length - 1] == '/') --length;
  return length == static_cast<size_t>(slash - prefix) && std::strncmp(path, prefix, length) == 0;
}

bool Chosen(const char* path, int flags) {
  return (flags & O_TMPFILE) == O_TMPFILE ? IsPrefixFolder(path) : StartsWithPrefix(path);
}

int Fail() {
  fired.fetch_add(1);
  if (reportFd >= 0) {
    QALV_NEXT(write);
    static_cast<void>(real(reportFd, "x", 1));
  }
  errno = armedError.load();
  return -1;
}

bool FailsOn(int fd, QalvFaultStep step) {
  return fd >= 0 && fd < kMaxTracked && tracked[fd].load() && Armed(step);
}

// Opens through `open` unless the open itself is to fail; a descriptor on a
// chosen path is remembered.
template <typename Open>
int OpenChosen(const char* path, int flags, Open open) {
  const bool chosen = armed.load(std::memory_order_acquire) && Chosen(path, flags);
  if (chosen && Armed(kQalvFaultOpen)) return Fail();
  const int fd = open();
  if (fd >= 0 && fd < kMaxTracked) tracked[fd].store(chosen);
  return fd;
}

mode_t ModeOf(int flags, va_list args) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

void ArmFromEnvironment() {
  const char* spec = std::getenv("QALV_FAULT");
  if (spec == nullptr) return;
  const char* steps[] = {"open:", "write:", "fsync:", "rename:"};
  for (int step = 0; step < 4; ++step) {
    const size_t length = std::strlen(steps[step]);
    if (std::strncmp(spec, steps[step], length) != 0) continue;
    char* rest = nullptr;
    const long error = std::strtol(spec + length, &rest, 10);
    if (rest == nullptr || *rest != ':') return;
    if (const char* report = std::getenv("QALV_FAULT_REPORT")) {
      reportFd = open(report, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }
    qalv_fault_arm(static_cast<QalvFaultStep>(step), static_cast<int>(error), rest + 1);
    return;
  }
}

__attribute__((constructor)) void Start() { ArmFromEnvironment(); }

}  // namespace

extern "C" {

void qalv_fault_arm(QalvFaultStep step, int error, const char* chosen) {
  armed.store(false, std::memory_order_release);
  prefixLength = std::strlen(chosen) < kMaxPrefix ? std::strlen(chosen) : kMaxPrefix - 1;
  std::memcpy(prefix, chosen, prefixLength);
  prefix[prefixLength] = '\0';
  armedStep.store(step);
  armedError.store(error);
  fired.store(0);
  armed.store(true, std::memory_order_release);
}

void qalv_fault_disarm(void) { armed.store(false, std::memory_order_release); }

int qalv_fault_fired(void) { return fired.load(); }

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  QALV_NEXT(open);
  return OpenChosen(path, flags, [&] { return real(path, flags, mode); });
}

int openat(int dirfd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  QALV_NEXT(openat);
  return OpenChosen(path, flags, [&] { return real(dirfd, path, flags, mode); });
}

// The large-file names are the same calls on this platform.
int open64(const char* path, int flags, ...) __attribute__((alias("open")));
int openat64(int dirfd, const char* path, int flags, ...) __attribute__((alias("openat")));

// What fortified callers call for an open without a mode.
int __open_2(const char* path, int flags) { return open(path, flags); }
int __open64_2(const char* path, int flags) { return open(path, flags); }

int creat(const char* path, mode_t mode) {
  return open(path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

int close(int fd) {
  if (fd >= 0 && fd < kMaxTracked) tracked[fd].store(false);
  QALV_NEXT(close);
  return real(fd);
}

ssize_t write(int fd, const void* bytes, size_t length) {
  if (FailsOn(fd, kQalvFaultWrite)) return Fail();
  QALV_NEXT(write);
  return real(fd, bytes, length);
}

ssize_t pwrite64(int fd, const void* bytes, size_t length, off64_t offset) {
  if (FailsOn(fd, kQalvFaultWrite)) return Fail();
  QALV_NEXT(pwrite64);
  return real(fd, bytes, length, offset);
}

ssize_t pwrite(int fd, const void* bytes, size_t length, off_t offset) {
  if (FailsOn(fd, kQalvFaultWrite)) return Fail();
  QALV_NEXT(pwrite);
  return real(fd, bytes, length, offset);
}

ssize_t writev(int fd, const struct iovec* parts, int count) {
  if (FailsOn(fd, kQalvFaultWrite)) return Fail();
  QALV_NEXT(writev);
  return real(fd, parts, count);
}

int fsync(int fd) {
  if (FailsOn(fd, kQalvFaultSync)) return Fail();
  QALV_NEXT(fsync);
  return real(fd);
}

int fdatasync(int fd) {
  if (FailsOn(fd, kQalvFaultSync)) return Fail();
  QALV_NEXT(fdatasync);
  return real(fd);
}

int rename(const char* from, const char* to) {
  if (Armed(kQalvFaultRename) && StartsWithPrefix(to)) return Fail();
  QALV_NEXT(rename);
  return real(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
  if (Armed(kQalvFaultRename) && StartsWithPrefix(to)) return Fail();
  QALV_NEXT(renameat);
  return real(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
  if (Armed(kQalvFaultRename) && StartsWithPrefix(to)) return Fail();
  QALV_NEXT(renameat2);
  return real(fromDir, from, toDir, to, flags);
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
  if (Armed(kQalvFaultRename) && StartsWithPrefix(to)) return Fail();
  QALV_NEXT(linkat);
  return real(fromDir, from, toDir, to, flags);
}

}  // extern "C"
