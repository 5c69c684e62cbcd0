// Display text: names from the wire shown as UTF-8 when they are valid
// UTF-8, as Windows-1252 otherwise.

#include "shell/display_text.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct ShownText {
    const char* bytes;
    const char* shown;  // UTF-8
};

TEST(DisplayText, ValidUtf8AsItIsAnythingElseAsWindows1252)
{
    const std::vector<ShownText> rows = {
        {"pump 3 : hall 2", "pump 3 : hall 2"},                   // ASCII
        {"", ""},
        {"Pumpe S\xC3\xBC" "d", "Pumpe S\xC3\xBC" "d"},          // UTF-8 "Pumpe Süd"
        {"\xE2\x82\xAC 5 \xF0\x9F\x94\xA5", "\xE2\x82\xAC 5 \xF0\x9F\x94\xA5"},  // 3 and 4 bytes
        {"Pumpe S\xFC" "d", "Pumpe S\xC3\xBC" "d"},               // Windows-1252 "Pumpe Süd"
        {"\x80 \x9F \x81", "\xE2\x82\xAC \xC5\xB8 \xC2\x81"},   // 0x80-0x9F, one unassigned
        {"S\xC3\xBC" "d \xFC", "S\xC3\x83\xC2\xBC" "d \xC3\xBC"},   // one bad byte: all cp1252
        {"\xC0\xAF", "\xC3\x80\xC2\xAF"},                       // overlong "/"
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},        // a surrogate
        {"S\xC3", "S\xC3\x83"},                                 // cut short
    };
    for (const ShownText& row : rows)
        EXPECT_EQ(row.shown, kiv::displayText(row.bytes)) << row.bytes;
}

}  // namespace
