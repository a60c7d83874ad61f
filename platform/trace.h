// The reader's trace: printf-style log lines and hex dumps of bytes.
//
// Log lines go to the log sink (standard output by default, as the desktop
// reader writes them); hex dumps and debug lines go to the debug sink, which
// is silent unless QALV_TRACE is set in the environment. The command-line tool points both
// elsewhere so that its standard output carries only its JSON answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace qalv::trace {

using Sink = std::function<void(std::string_view)>;

// An empty sink discards what it is given.
void SetLogSink(Sink sink);
void SetDebugSink(Sink sink);

// Sinks writing to standard output and standard error.
Sink StdoutSink();
Sink StderrSink();

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A printf-style line for the debug sink, beside the hex dumps.
void Debug(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "[", the bytes as upper-case hex pairs separated by ",", "]\n"; "[]\n" when
// empty.
void Dump(const uint8_t* data, size_t length);

}  // namespace qalv::trace
