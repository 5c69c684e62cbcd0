// The OS description from the real version queries. Which Windows the test
// runs on is not known here, so only what holds for every supported one is
// checked; the decision table itself is covered row by row elsewhere.
#include "metrics/os_description.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/debug_log.h"

namespace {

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(OsDescriptionWindows, NamesMicrosoftAndTheNativeWidthWithoutPrinting)
{
    std::string console;
    kiv::setConsoleWriter([&console](const char* data, std::size_t size) { console.append(data, size); });
    const std::string description = buildOsDescription();
    kiv::setConsoleWriter(nullptr);

    EXPECT_EQ("", console);
    ASSERT_EQ(0u, description.rfind("Microsoft ", 0)) << description;
    // A 64-bit program runs only on 64-bit Windows, version 6 or later here.
    EXPECT_TRUE(endsWith(description, ", 64-bit")) << description;
    EXPECT_EQ(std::string::npos, description.find('\n'));
}

TEST(OsDescriptionWindows, SameTextOnEveryCall)
{
    EXPECT_EQ(buildOsDescription(), buildOsDescription());
}

}  // namespace
