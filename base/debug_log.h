// Diagnostic log with levels, and printf-style formatting.
//
// Every line has a level. A call site gives it by the function it calls:
//   debugLog(...)    debug: per-datagram, per-tick and per-send trace lines
//   infoLog(...)     info: start-up, stop, a configuration applied, an
//                    address or host name that changed, the once-a-minute
//                    counts
//   warningLog(...)  warning: every "***" line, input ignored or refused,
//                    failed joins and sends
//   errorLog(...)    error: cannot start, fatal
//   kiv::logAt(level, ...) the same with the level as a value.
// A line below the level in force (kiv::setLogLevel) is neither formatted
// nor written: its arguments are still evaluated, so a costly argument is
// built under `if (kiv::logWanted(level))`. A warning that may repeat for
// as long as its cause lasts goes through kiv::RepeatedWarning
// (base/repeated_warning.h) and kiv::logRepeat.
//
// Where lines go: on Linux, those that pass the level (and the repeat rule)
// to standard error, one line per call; on Windows every line, whatever its
// level, to the debugger output channel. Lines that pass also reach the log
// sink when one is set (kiv::setLogSink).
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

// Each formats into a 2048-byte buffer (longer output is cut to 2047
// characters) and writes the text at its level. Adds nothing: every format
// carries its own "\n" where a line end is wanted (on standard error a line
// without one gets it).
void debugLog(const char* format, ...) VARN_PRINTF(1, 2);
void infoLog(const char* format, ...) VARN_PRINTF(1, 2);
void warningLog(const char* format, ...) VARN_PRINTF(1, 2);
void errorLog(const char* format, ...) VARN_PRINTF(1, 2);

// Formats through a 512-byte limit (at most 511 characters).
std::string formatString(const char* format, ...) VARN_PRINTF(1, 2);

namespace kiv {

constexpr std::size_t kDebugLogBufferSize = 2048;
constexpr std::size_t kFormatStringBufferSize = 512;

enum class LogLevel { debug = 0, info = 1, warning = 2, error = 3 };

// The level the programs run at unless told otherwise (--log-level). The
// process starts at debug, every line written, until an entry sets it.
constexpr LogLevel kDefaultLogLevel = LogLevel::info;

// Lines below `level` are neither formatted nor written (but on Windows'
// debugger channel, which keeps every line). Any thread, at any time.
void setLogLevel(LogLevel level);
LogLevel logLevel();

// "debug", "info", "warning", "error".
const char* logLevelName(LogLevel level);
// Reads one of those names; false for anything else.
bool parseLogLevel(const std::string& text, LogLevel& level);
// The syslog priority of a level: 7, 6, 4, 3.
int syslogPriority(LogLevel level);
// `text` as the journal takes it from a stream: each line of it starts with
// the level's priority prefix ("<4>"), and it ends with a line end.
std::string journalLine(LogLevel level, const std::string& text);

// An extra receiver of every line that passes the level and the repeat
// rule, with its level (the Windows service hands these to the Event Log).
// Empty: none. Thread-safe to call into; called on the logging thread, never
// under a lock of the log.
using LogSink = std::function<void(LogLevel level, const std::string& line)>;
void setLogSink(LogSink sink);

void logAt(LogLevel level, const char* format, ...) VARN_PRINTF(2, 3);
// A line of a repeating warning: `held` when the repeat rule holds it back,
// which then reaches only a channel that keeps every line.
void logRepeat(LogLevel level, bool held, const char* format, ...) VARN_PRINTF(3, 4);

// True when a line of `level` would be formatted. Cheap: no lock, no system
// call.
bool logWanted(LogLevel level);
// logWanted(LogLevel::debug): a busy path may skip building costly
// arguments of its trace lines.
bool debugLogWanted();

// Where the lines that pass go instead of the platform's channels: tests
// and tools install their own to capture or silence them. The writer
// replaces both platform channels; the sink still gets the lines.
using LogWriter = std::function<void(const std::string&)>;
void setDebugLogWriter(LogWriter writer);  // empty writer restores the default

// The console echo of the sampler and the cloud listener (standard output by
// default), written at debug level only. Replaceable for the same reasons as
// the log writer.
using ConsoleWriter = std::function<void(const char* data, std::size_t size)>;
void setConsoleWriter(ConsoleWriter writer);
void consoleWrite(const char* data, std::size_t size);
void consolePrintf(const char* format, ...) VARN_PRINTF(1, 2);

// The platform's channels (debug_log_linux.cpp / _windows.cpp).
// The lines that pass the level and the repeat rule, with their level.
void writePlatformDebugOutput(LogLevel level, const std::string& text);
// True when that channel drops everything written to it (decided once).
bool platformDebugOutputDiscarded();
// True where the platform has a channel that keeps every line whatever its
// level (Windows' debugger output); it then gets each line here first.
bool platformKeepsEveryLine();
void writePlatformEveryLine(const std::string& text);
// The console echo (standard output).
void writePlatformConsole(const char* data, std::size_t size);
// True when standard output drops everything written to it (decided once):
// the console echo is then neither formatted nor written.
bool platformConsoleDiscarded();

}  // namespace kiv
