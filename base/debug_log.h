// Diagnostic log and printf-style formatting.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#if defined(__MINGW32__)
// MinGW-w64 formats with its C99 printf (__USE_MINGW_ANSI_STDIO), not msvcrt's.
#define VARN_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define VARN_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VARN_PRINTF(fmt, args)
#endif

// Formats into a 2048-byte buffer (longer output is cut to 2047 characters)
// and writes the text to the platform's diagnostic channel. Adds nothing.
// Where nothing would take the text (see kiv::debugLogWanted) it returns
// before formatting.
void debugLog(const char* format, ...) VARN_PRINTF(1, 2);

// Formats through a 512-byte limit (at most 511 characters).
std::string formatString(const char* format, ...) VARN_PRINTF(1, 2);

namespace kiv {

constexpr std::size_t kDebugLogBufferSize = 2048;
constexpr std::size_t kFormatStringBufferSize = 512;

// Where debugLog text goes. The default writer is the platform's diagnostic
// channel; tests and tools install their own to capture or silence it.
using LogWriter = std::function<void(const std::string&)>;
void setDebugLogWriter(LogWriter writer);  // empty writer restores the default

// False only when no writer is installed and the platform's channel drops
// every line unread; a busy path may then skip building costly arguments.
// Cheap: no lock, no system call.
bool debugLogWanted();

// The console echo of the sampler and the cloud listener (standard output by
// default). Replaceable for the same reasons as the log writer.
using ConsoleWriter = std::function<void(const char* data, std::size_t size)>;
void setConsoleWriter(ConsoleWriter writer);
void consoleWrite(const char* data, std::size_t size);
void consolePrintf(const char* format, ...) VARN_PRINTF(1, 2);

// The platform's diagnostic channel (debug_log_linux.cpp / _windows.cpp).
void writePlatformDebugOutput(const std::string& text);
// True when that channel drops everything written to it (decided once).
bool platformDebugOutputDiscarded();
// True when standard output drops everything written to it (decided once):
// the console echo is then neither formatted nor written.
bool platformConsoleDiscarded();

}  // namespace kiv
