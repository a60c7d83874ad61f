#include "platform/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace qalv::trace {
namespace {

struct Sinks {
  std::mutex lock;
  Sink log = StdoutSink();
  Sink debug = std::getenv("QALV_TRACE") ? StderrSink() : Sink();
};

Sinks& Current() {
  static Sinks sinks;
  return sinks;
}

void Emit(Sink Sinks::*which, std::string_view text) {
  Sinks& sinks = Current();
  std::lock_guard guard(sinks.lock);
  if (sinks.*which) (sinks.*which)(text);
}

bool Enabled(Sink Sinks::*which) {
  Sinks& sinks = Current();
  std::lock_guard guard(sinks.lock);
  return static_cast<bool>(sinks.*which);
}

void EmitFormatted(Sink Sinks::*which, const char* format, va_list args) {
  if (!Enabled(which)) return;
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed <= 0) return;
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(needed));
  Emit(which, text);
}

}  // namespace

void SetLogSink(Sink sink) {
  Sinks& sinks = Current();
  std::lock_guard guard(sinks.lock);
  sinks.log = std::move(sink);
}

void SetDebugSink(Sink sink) {
  Sinks& sinks = Current();
  std::lock_guard guard(sinks.lock);
  sinks.debug = std::move(sink);
}

Sink StdoutSink() {
  return [](std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  };
}

Sink StderrSink() {
  return [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); };
}

void Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  EmitFormatted(&Sinks::log, format, args);
  va_end(args);
}

void Debug(const char* format, ...) {
  va_list args;
  va_start(args, format);
  EmitFormatted(&Sinks::debug, format, args);
  va_end(args);
}

void Dump(const uint8_t* data, size_t length) {
  if (!Enabled(&Sinks::debug)) return;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(length * 3 + 3);
  text.push_back('[');
  for (size_t i = 0; i < length; ++i) {
    if (i != 0) text.push_back(',');
    text.push_back(kHex[data[i] >> 4]);
    text.push_back(kHex[data[i] & 0x0F]);
  }
  text.append("]\n");
  Emit(&Sinks::debug, text);
}

}  // namespace qalv::trace
