#include "tools/common/output.h"

#include <cstdio>
#include <ctime>

namespace kiv::tools {

std::string fieldValue(const std::string& value)
{
    bool plain = !value.empty();
    for (const char c : value) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == '"' || u == '\\' || u == 0x7F)
            plain = false;
    }
    if (plain)
        return value;
    std::string text = "\"";
    for (const char c : value) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            text += '\\';
            text += c;
        } else if (u < ' ' || u == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", u);
            text += escape;
        } else {
            text += c;
        }
    }
    return text + "\"";
}

std::string fieldsText(const Fields& fields)
{
    std::string text;
    for (const auto& [key, value] : fields)
        text += " " + key + "=" + fieldValue(value);
    return text;
}

std::string clockTime(std::chrono::system_clock::time_point when)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis < 0 ? millis + 1000 : millis));
    return text;
}

std::string secondsText(std::chrono::steady_clock::duration duration)
{
    const double seconds = std::chrono::duration<double>(duration).count();
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

void printLine(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace kiv::tools
