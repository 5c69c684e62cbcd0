// The Winsock host lookups, on the machine the test runs on (under Wine: the
// test's private namespace, whose one interface has 10.1.2.5).
#include "net/host_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/text_helpers.h"

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;

// Nothing in this program starts Winsock: the lookups must manage on their own.
TEST(HostNetworkWindows, NamesTheHostAndListsTheAddressesOfThatName)
{
    const kiv::HostNetwork network = kiv::platformHostNetwork();

    std::string name;
    int error = -1;
    ASSERT_TRUE(network.hostName(name, error)) << "Winsock error " << error;
    EXPECT_FALSE(name.empty());

    std::vector<std::uint32_t> addresses;
    ASSERT_TRUE(network.localAddresses(addresses));
    ASSERT_FALSE(addresses.empty());
    EXPECT_EQ(addresses.front(), network.resolveName(name));
    EXPECT_TRUE(std::none_of(addresses.begin(), addresses.end(),
                             [](std::uint32_t a) { return a == 0; }));
}

TEST(HostNetworkWindows, EmptyTextIsTheFirstAddressOfThisHost)
{
    std::vector<std::uint32_t> addresses;
    ASSERT_TRUE(kiv::localIpv4Addresses(addresses));
    ASSERT_FALSE(addresses.empty());
    EXPECT_EQ(addresses.front(), getIpAddrInt(""));
}

TEST(HostNetworkWindows, ResolvesNamesAndDottedTextToHostOrder)
{
    const kiv::HostNetwork network = kiv::platformHostNetwork();
    EXPECT_EQ(0x0A010203u, network.resolveName("10.1.2.3"));
    EXPECT_EQ(kLoopback, network.resolveName("localhost"));
    EXPECT_EQ(0u, network.resolveName("no-such-host.invalid"));
    EXPECT_EQ(0u, getIpAddrInt("no-such-host.invalid"));
}

}  // namespace
