// The registry's settings merged into the service's command line: a setting
// takes the place of its option in either form, and what follows a "--"
// stays after the settings.
#include "shell/registry_settings.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(RegistrySettings, ASettingReplacesItsOptionAndStaysBeforeTheEndOfOptions)
{
    const std::vector<kiv::RegistrySetting> settings = {
        {kiv::kPolicySettingsKey, "StatusRate", "--status-rate", "7"},
        {kiv::kInstalledSettingsKey, "AllowStatusFrom", "--allow-status-from", "10.1.2.0/24"},
    };
    const std::vector<std::string> commandLine = {"--status-rate", "9", "--spread=5",
                                                  "--allow-status-from=10.9.9.9", "--", "x"};
    const std::vector<std::string> expected = {"--spread=5", "--status-rate=7",
                                               "--allow-status-from=10.1.2.0/24", "--", "x"};
    EXPECT_EQ(expected, kiv::withSettings(commandLine, settings));
}

}  // namespace
