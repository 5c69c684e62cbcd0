#include "shell/display_text.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace kiv {
namespace {

// Windows-1252 bytes 0x80 to 0x9F; the rest of the upper half is Latin-1.
// 0x81, 0x8D, 0x8F, 0x90 and 0x9D are unassigned: the C1 control of the
// same number, as Windows converts them.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

void appendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

bool isValidUtf8(const std::string& bytes)
{
    std::size_t i = 0;
    const std::size_t size = bytes.size();
    while (i < size) {
        const auto lead = static_cast<std::uint8_t>(bytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        // The range the first continuation byte must fall in: it rules out
        // overlong forms, surrogates and code points above U+10FFFF.
        std::uint8_t low = 0x80;
        std::uint8_t high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (size - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(bytes[i + k]);
            if (next < low || next > high)
                return false;
            low = 0x80;
            high = 0xBF;
        }
        i += length;
    }
    return true;
}

std::string displayText(const std::string& bytes)
{
    if (isValidUtf8(bytes))
        return bytes;
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte < 0x80)
            text += c;
        else if (byte < 0xA0)
            appendUtf8(text, kCp1252High[byte - 0x80]);
        else
            appendUtf8(text, byte);
    }
    return text;
}

}  // namespace kiv
