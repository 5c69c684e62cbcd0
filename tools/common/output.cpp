#include "tools/common/output.h"

#include <cstdint>
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

namespace {

// The length of the valid UTF-8 sequence at `at`, 0 when there is none.
std::size_t utf8Length(const std::string& text, std::size_t at)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0u) != 0x80u)
            return 0;
        code = (code << 6) | (next & 0x3Fu);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    if (overlong || surrogate || code > 0x10FFFF)
        return 0;
    return length;
}

}  // namespace

std::string jsonString(const std::string& value)
{
    std::string text = "\"";
    for (std::size_t at = 0; at < value.size();) {
        const unsigned char u = static_cast<unsigned char>(value[at]);
        char escape[8];
        if (u == '"' || u == '\\') {
            text += '\\';
            text += static_cast<char>(u);
        } else if (u < 0x20 || u == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04X", u);
            text += escape;
        } else if (u < 0x80) {
            text += static_cast<char>(u);
        } else if (const std::size_t length = utf8Length(value, at)) {
            text.append(value, at, length);
            at += length;
            continue;
        } else {
            std::snprintf(escape, sizeof escape, "\\u%04X", u);
            text += escape;
        }
        ++at;
    }
    return text + "\"";
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
