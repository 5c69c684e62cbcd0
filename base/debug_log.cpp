#include "base/debug_log.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
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

// Mirror whether logWriter() and consoleWriter() are set, for the lock-free
// tests before any formatting.
std::atomic<bool> gWriterInstalled{false};
std::atomic<bool> gConsoleWriterInstalled{false};

kiv::ConsoleWriter& consoleWriter()
{
    static kiv::ConsoleWriter w;
    return w;
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

}  // namespace

void debugLog(const char* format, ...)
{
    if (!kiv::debugLogWanted())
        return;
    // On the stack: the status port logs several lines per datagram.
    char buffer[kiv::kDebugLogBufferSize];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0)
        n = 0;
    const std::string text(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));

    kiv::LogWriter writer;
    {
        std::lock_guard<std::mutex> lock(writerMutex());
        writer = logWriter();
    }
    if (writer)
        writer(text);
    else
        kiv::writePlatformDebugOutput(text);
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

void setDebugLogWriter(LogWriter writer)
{
    std::lock_guard<std::mutex> lock(writerMutex());
    gWriterInstalled.store(static_cast<bool>(writer));
    logWriter() = std::move(writer);
}

bool debugLogWanted()
{
    return gWriterInstalled.load(std::memory_order_relaxed) || !platformDebugOutputDiscarded();
}

void setConsoleWriter(ConsoleWriter writer)
{
    std::lock_guard<std::mutex> lock(writerMutex());
    gConsoleWriterInstalled.store(static_cast<bool>(writer));
    consoleWriter() = std::move(writer);
}

void consoleWrite(const char* data, std::size_t size)
{
    if (!gConsoleWriterInstalled.load(std::memory_order_relaxed) && platformConsoleDiscarded())
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
    std::fwrite(data, 1, size, stdout);
    std::fflush(stdout);
}

void consolePrintf(const char* format, ...)
{
    if (!gConsoleWriterInstalled.load(std::memory_order_relaxed) && platformConsoleDiscarded())
        return;
    va_list args;
    va_start(args, format);
    const std::string text = vformatLimited(kDebugLogBufferSize, format, args);
    va_end(args);
    consoleWrite(text.data(), text.size());
}

}  // namespace kiv
