// The Linux OS description: one line from /etc/os-release, ending with the
// width of this build.

#include "metrics/os_description.h"

#include <climits>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string widthOfThisBuild()
{
    constexpr unsigned kBits = sizeof(void*) * CHAR_BIT;
    return kBits == 64 ? ", 64-bit" : kBits == 32 ? ", 32-bit" : "";
}

TEST(OsDescriptionLinux, IsOneLineEndingWithTheWidthOfThisBuild)
{
    const std::string description = buildOsDescription();
    const std::string width = widthOfThisBuild();
    ASSERT_GT(description.size(), width.size());
    EXPECT_EQ(width, description.substr(description.size() - width.size()));
    EXPECT_EQ(std::string::npos, description.find_first_of("\r\n"));
    EXPECT_EQ(std::string::npos, description.find('"'));
}

TEST(OsDescriptionLinux, NamesTheDistributionOfEtcOsRelease)
{
    std::ifstream in("/etc/os-release");
    if (!in)
        GTEST_SKIP() << "this host has no /etc/os-release";
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(kiv::describeOsRelease(text.str(), sizeof(void*) * CHAR_BIT), buildOsDescription());
}

}  // namespace
