// Captures debugLog lines (and optionally the console echo) for one test.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace kiv::test {

class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;  // one entry per debugLog call
    std::string console() const;             // everything echoed to the console
    bool contains(const std::string& line) const;
    int count(const std::string& line) const;
    void clear();

private:
    mutable std::mutex mMutex;
    std::vector<std::string> mLines;
    std::string mConsole;
};

}  // namespace kiv::test
