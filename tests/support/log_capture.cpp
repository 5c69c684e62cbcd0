#include "support/log_capture.h"

#include <algorithm>

#include "base/debug_log.h"

namespace kiv::test {

LogCapture::LogCapture()
{
    setDebugLogWriter([this](const std::string& text) {
        std::lock_guard<std::mutex> lock(mMutex);
        mLines.push_back(text);
    });
    setLogSink([this](LogLevel level, const std::string& text) {
        std::lock_guard<std::mutex> lock(mMutex);
        mLeveled.emplace_back(level, text);
    });
    setConsoleWriter([this](const char* data, std::size_t size) {
        std::lock_guard<std::mutex> lock(mMutex);
        mConsole.append(data, size);
    });
}

LogCapture::~LogCapture()
{
    setDebugLogWriter(nullptr);
    setLogSink(nullptr);
    setConsoleWriter(nullptr);
}

std::optional<LogLevel> LogCapture::levelOf(const std::string& line) const
{
    std::lock_guard<std::mutex> lock(mMutex);
    for (const auto& [level, text] : mLeveled) {
        if (text == line)
            return level;
    }
    return std::nullopt;
}

std::vector<std::string> LogCapture::lines() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mLines;
}

std::string LogCapture::console() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mConsole;
}

bool LogCapture::contains(const std::string& line) const
{
    return count(line) > 0;
}

int LogCapture::count(const std::string& line) const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return static_cast<int>(std::count(mLines.begin(), mLines.end(), line));
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(mMutex);
    mLines.clear();
    mLeveled.clear();
    mConsole.clear();
}

}  // namespace kiv::test
