#include "base/debug_log.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

namespace {

std::mutex& writerMutex()
{
    static std::mutex m;
    return m;
}

kiv::LogWriter& logWriter()
{
    static kiv::LogWriter w;
    return w;
}

std::shared_ptr<const kiv::LogSink>& logSink()
{
    static std::shared_ptr<const kiv::LogSink> s;
    return s;
}

kiv::ConsoleWriter& consoleWriter()
{
    static kiv::ConsoleWriter w;
    return w;
}

// The level in force and whether a writer, a sink or a console writer is
// set, for the lock-free tests before any formatting.
std::atomic<int> gLevel{static_cast<int>(kiv::LogLevel::debug)};
std::atomic<bool> gWriterInstalled{false};
std::atomic<bool> gSinkInstalled{false};
std::atomic<bool> gConsoleWriterInstalled{false};

bool passesLevel(kiv::LogLevel level)
{
    return static_cast<int>(level) >= gLevel.load(std::memory_order_relaxed);
}

// The platform channel that keeps every line, when no writer replaces it.
bool everyLineKept()
{
    return !gWriterInstalled.load(std::memory_order_relaxed) && kiv::platformKeepsEveryLine();
}

// Someone takes the lines that pass.
bool passedLinesTaken()
{
    return gWriterInstalled.load(std::memory_order_relaxed) || gSinkInstalled.load(std::memory_order_relaxed) ||
           !kiv::platformDebugOutputDiscarded();
}

VARN_PRINTF(2, 0)
std::string vformatLimited(std::size_t bufferSize, const char* format, va_list args)
{
    std::string out(bufferSize, '\0');
    int n = std::vsnprintf(&out[0], bufferSize, format, args);
    if (n < 0)
        n = 0;
    out.resize(std::min<std::size_t>(static_cast<std::size_t>(n), bufferSize - 1));
    return out;
}

// Formats and writes one line; `held`: the repeat rule holds it back.
VARN_PRINTF(3, 0)
void vlog(kiv::LogLevel level, bool held, const char* format, va_list args)
{
    const bool passes = !held && passesLevel(level) && passedLinesTaken();
    const bool everyLine = everyLineKept();
    if (!passes && !everyLine)
        return;  // below the level: not even formatted
    // On the stack: the status port logs several lines per datagram at debug.
    char buffer[kiv::kDebugLogBufferSize];
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0)
        n = 0;
    const std::string text(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));

    if (everyLine)
        kiv::writePlatformEveryLine(text);
    if (!passes)
        return;
    kiv::LogWriter writer;
    std::shared_ptr<const kiv::LogSink> sink;
    {
        std::lock_guard<std::mutex> lock(writerMutex());
        if (gWriterInstalled.load(std::memory_order_relaxed))
            writer = logWriter();
        sink = logSink();
    }
    if (writer)
        writer(text);
    else
        kiv::writePlatformDebugOutput(level, text);
    if (sink)
        (*sink)(level, text);
}

}  // namespace

void debugLog(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vlog(kiv::LogLevel::debug, false, format, args);
    va_end(args);
}

void infoLog(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vlog(kiv::LogLevel::info, false, format, args);
    va_end(args);
}

void warningLog(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vlog(kiv::LogLevel::warning, false, format, args);
    va_end(args);
}

void errorLog(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vlog(kiv::LogLevel::error, false, format, args);
    va_end(args);
}

std::string formatString(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = vformatLimited(kiv::kFormatStringBufferSize, format, args);
    va_end(args);
    return text;
}

namespace kiv {

void setLogLevel(LogLevel level)
{
    gLevel.store(static_cast<int>(level));
}

LogLevel logLevel()
{
    return static_cast<LogLevel>(gLevel.load(std::memory_order_relaxed));
}

const char* logLevelName(LogLevel level)
{
    switch (level) {
    case LogLevel::debug:
        return "debug";
    case LogLevel::info:
        return "info";
    case LogLevel::warning:
        return "warning";
    case LogLevel::error:
        return "error";
    }
    return "?";
}

bool parseLogLevel(const std::string& text, LogLevel& level)
{
    for (LogLevel candidate : {LogLevel::debug, LogLevel::info, LogLevel::warning, LogLevel::error}) {
        if (text == logLevelName(candidate)) {
            level = candidate;
            return true;
        }
    }
    return false;
}

int syslogPriority(LogLevel level)
{
    switch (level) {
    case LogLevel::debug:
        return 7;  // LOG_DEBUG
    case LogLevel::info:
        return 6;  // LOG_INFO
    case LogLevel::warning:
        return 4;  // LOG_WARNING
    case LogLevel::error:
        return 3;  // LOG_ERR
    }
    return 6;
}

std::string journalLine(LogLevel level, const std::string& text)
{
    const char prefix[] = {'<', static_cast<char>('0' + syslogPriority(level)), '>'};
    std::string line;
    line.reserve(text.size() + sizeof prefix + 1);
    bool atLineStart = true;
    for (const char c : text) {
        if (atLineStart)
            line.append(prefix, sizeof prefix);
        line += c;
        atLineStart = c == '\n';
    }
    if (line.empty() || line.back() != '\n') {
        if (line.empty())
            line.append(prefix, sizeof prefix);
        line += '\n';
    }
    return line;
}

void setLogSink(LogSink sink)
{
    std::shared_ptr<const LogSink> taken = sink ? std::make_shared<const LogSink>(std::move(sink)) : nullptr;
    std::lock_guard<std::mutex> lock(writerMutex());
    gSinkInstalled.store(static_cast<bool>(taken));
    logSink().swap(taken);
    // The sink replaced (in `taken` now) is released outside the lock.
}

void logAt(LogLevel level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vlog(level, false, format, args);
    va_end(args);
}

void logRepeat(LogLevel level, bool held, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vlog(level, held, format, args);
    va_end(args);
}

bool logWanted(LogLevel level)
{
    return everyLineKept() || (passesLevel(level) && passedLinesTaken());
}

bool debugLogWanted()
{
    return logWanted(LogLevel::debug);
}

void setDebugLogWriter(LogWriter writer)
{
    std::lock_guard<std::mutex> lock(writerMutex());
    gWriterInstalled.store(static_cast<bool>(writer));
    logWriter() = std::move(writer);
}

void setConsoleWriter(ConsoleWriter writer)
{
    std::lock_guard<std::mutex> lock(writerMutex());
    gConsoleWriterInstalled.store(static_cast<bool>(writer));
    consoleWriter() = std::move(writer);
}

namespace {

// The console echo is a debug-level trace.
bool consoleWanted()
{
    if (!passesLevel(LogLevel::debug))
        return false;
    return gConsoleWriterInstalled.load(std::memory_order_relaxed) || !platformConsoleDiscarded();
}

}  // namespace

void consoleWrite(const char* data, std::size_t size)
{
    if (!consoleWanted())
        return;
    ConsoleWriter writer;
    {
        std::lock_guard<std::mutex> lock(writerMutex());
        writer = consoleWriter();
    }
    if (writer) {
        writer(data, size);
        return;
    }
    writePlatformConsole(data, size);
}

void consolePrintf(const char* format, ...)
{
    if (!consoleWanted())
        return;
    va_list args;
    va_start(args, format);
    const std::string text = vformatLimited(kDebugLogBufferSize, format, args);
    va_end(args);
    consoleWrite(text.data(), text.size());
}

}  // namespace kiv
