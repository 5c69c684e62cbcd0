// Captures the log lines that pass the level, with their levels, and the
// console echo, for one test.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/debug_log.h"

namespace kiv::test {

class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;  // one entry per line that passed the level
    // The level the line was written at (the first such line); none when it
    // was not written.
    std::optional<LogLevel> levelOf(const std::string& line) const;
    std::string console() const;             // everything echoed to the console
    bool contains(const std::string& line) const;
    int count(const std::string& line) const;
    void clear();

private:
    mutable std::mutex mMutex;
    std::vector<std::string> mLines;
    std::vector<std::pair<LogLevel, std::string>> mLeveled;
    std::string mConsole;
};

}  // namespace kiv::test
