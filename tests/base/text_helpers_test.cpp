// Address text in both directions, the XML value extractor as the wire uses
// it, and the formatting helpers' cuts.

#include "base/text_helpers.h"

#include <gtest/gtest.h>

#include "base/debug_log.h"
#include "net/host_network.h"
#include "support/fake_host.h"
#include "support/log_capture.h"

namespace {

using kiv::test::FakeHostNetwork;

TEST(IpAddress, DottedTextToHostOrder)
{
    FakeHostNetwork host({"10.1.2.5", "192.168.7.20"});
    EXPECT_EQ(0x0A010203u, getIpAddrInt("10.1.2.3"));
    EXPECT_EQ(0xC0A80001u, getIpAddrInt("192.168.0.1"));
    EXPECT_EQ(0u, getIpAddrInt("255.255.255.255"));  // the broadcast text counts as failure
    EXPECT_EQ(0x0A010205u, getIpAddrInt(""));        // this host: its first address
    EXPECT_EQ(0xC0A80701u, getIpAddrInt("watchdog-1"));
    EXPECT_EQ(0u, getIpAddrInt("no-such-host"));
}

TEST(IpAddress, ZeroAddressGoesToNameLookup)
{
    // inet_addr's 0 is not taken as an answer: the text is then looked up as
    // a name, which fails.
    FakeHostNetwork host({"10.1.2.5"});
    EXPECT_EQ(0u, getIpAddrInt("0.0.0.0"));
}

TEST(IpAddress, EmptyTextWithoutHostName)
{
    FakeHostNetwork host({"10.1.2.5"}, "ws", /*nameFails=*/true);
    EXPECT_EQ(0u, getIpAddrInt(""));
    FakeHostNetwork noAddresses({});
    EXPECT_EQ(0u, getIpAddrInt(""));
}

TEST(IpAddress, HostOrderToDottedText)
{
    EXPECT_EQ("192.168.0.1", getIpAddrString(0xC0A80001u));
    EXPECT_EQ("0.0.0.0", getIpAddrString(0));
    EXPECT_EQ("255.255.255.255", getIpAddrString(0xFFFFFFFFu));
    EXPECT_EQ("10.0.0.9", getIpAddrString(getIpAddrInt("10.0.0.9")));
}

struct InetCase {
    const char* text;
    std::uint32_t expected;
};

TEST(IpAddress, ParsesTheInetAddrForms)
{
    const InetCase cases[] = {
        {"10.1.2.3", 0x0A010203u},
        {"10.1.515", 0x0A010203u},    // last part fills 16 bits
        {"10.66051", 0x0A010203u},    // last part fills 24 bits
        {"167838211", 0x0A010203u},   // one part: the whole value
        {"0x0A.1.2.3", 0x0A010203u},  // hex part
        {"012.1.2.3", 0x0A010203u},   // octal part
        {"10.1.2.3 ", 0x0A010203u},   // trailing blank accepted
        {"0.0.0.0", 0u},
        {"255.255.255.255", kiv::kInAddrNone},
        {"10.1.2.256", kiv::kInAddrNone},
        {"10.1.2.3.4", kiv::kInAddrNone},
        {"10.1.2.", kiv::kInAddrNone},
        {"", kiv::kInAddrNone},
        {"pump-3", kiv::kInAddrNone},
        {"10.1.2.3x", kiv::kInAddrNone},
        {"08.1.2.3", kiv::kInAddrNone},  // 8 is no octal digit
        {"4294967296", kiv::kInAddrNone},
    };
    for (const InetCase& c : cases)
        EXPECT_EQ(c.expected, kiv::parseInetAddr(c.text)) << '"' << c.text << '"';
}

TEST(XmlValue, FindsTheValueBetweenTags)
{
    EXPECT_EQ("10.0.0.9", getXmlValue("pingTarget", "<pingTarget>10.0.0.9</pingTarget>"));
    EXPECT_EQ(85, getXmlValueInt("cpuPercent", "<cfg><cpuPercent>85</cpuPercent></cfg>"));
    EXPECT_EQ(0, getXmlValueInt("cpuPercent", "<cfg><alarmSeconds>5</alarmSeconds></cfg>"));
    EXPECT_EQ(-12, getXmlValueInt("v", "<v> -12abc</v>"));
    EXPECT_EQ(0, getXmlValueInt("v", "<v>abc</v>"));
}

TEST(XmlValue, PlainSubstringSearchFindsTheLongerNameFirst)
{
    const std::string text =
        "<pingTargetHealth>2</pingTargetHealth><pingTarget>10.0.0.9</pingTarget>";
    EXPECT_EQ("ealth>2", getXmlValue("pingTarget", text));
    EXPECT_EQ(2, getXmlValueInt("pingTargetHealth", text));
}

TEST(XmlValue, MissingClosingTagRunsToTheEnd)
{
    EXPECT_EQ("pump 3", getXmlValue("name", "<name>pump 3"));
}

TEST(XmlValue, NameAtTheVeryEndGivesEmptyValue)
{
    std::string::size_type position = 0;
    EXPECT_EQ("", getXmlValueAt("name", "<cfg><name", position));
    EXPECT_EQ(5u, position);
    position = 0;
    EXPECT_EQ("", getXmlValueAt("name", "<name", position));  // one past the end
    EXPECT_EQ("", getXmlValue("name", "xx<name>"));            // value starts at the end
}

TEST(XmlValue, PositionAdvancesByNameLengthPlusOne)
{
    std::string::size_type position = 3;
    // The first "a" at or after 3 is the one inside "</a>".
    EXPECT_EQ("<a>b", getXmlValueAt("a", "<a>x</a><a>b</a>", position));
    EXPECT_EQ(5u, position);  // from the position passed in, not from the match
    position = 0;
    EXPECT_EQ("", getXmlValueAt("zz", "<a>x</a>", position));
    EXPECT_EQ(std::string::npos, position);
}

TEST(Formatting, DebugLogCutsAt2047Characters)
{
    kiv::test::LogCapture log;
    const std::string longText(3000, 'x');
    debugLog("%s", longText.c_str());
    ASSERT_EQ(1u, log.lines().size());
    EXPECT_EQ(std::string(2047, 'x'), log.lines()[0]);
}

TEST(Formatting, FormatStringCutsAt511Characters)
{
    const std::string longText(600, 'y');
    EXPECT_EQ(std::string(511, 'y'), formatString("%s", longText.c_str()));
    EXPECT_EQ("a=7 b=[x]", formatString("a=%d b=[%s]", 7, "x"));
}

}  // namespace
