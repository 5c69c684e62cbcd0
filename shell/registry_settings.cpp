#include "shell/registry_settings.h"

#include <algorithm>

namespace kiv {

const SettingName kSettingNames[5] = {
    {"AllowConfigFrom", "--allow-config-from"},
    {"AllowStatusFrom", "--allow-status-from"},
    {"StatusRate", "--status-rate"},
    {"Spread", "--spread"},
    {"LogLevel", "--log-level"},
};

std::vector<std::string> withSettings(const std::vector<std::string>& commandLine,
                                      const std::vector<RegistrySetting>& settings)
{
    auto given = [&](const std::string& option) {
        return std::any_of(settings.begin(), settings.end(),
                           [&](const RegistrySetting& s) { return s.option == option; });
    };
    std::vector<std::string> arguments;
    std::size_t i = 0;
    for (; i < commandLine.size() && commandLine[i] != "--"; ++i) {
        const std::string& argument = commandLine[i];
        const std::string name = argument.substr(0, argument.find('='));
        if (!given(name)) {
            arguments.push_back(argument);
            continue;
        }
        // "--option value": its value goes with it.
        if (name == argument && i + 1 < commandLine.size() && commandLine[i + 1].compare(0, 2, "--") != 0)
            ++i;
    }
    // Before a "--": what follows it is no option.
    for (const RegistrySetting& setting : settings)
        arguments.push_back(setting.option + "=" + setting.text);
    arguments.insert(arguments.end(), commandLine.begin() + static_cast<std::ptrdiff_t>(i), commandLine.end());
    return arguments;
}

std::string settingsText(const std::vector<RegistrySetting>& settings)
{
    std::string text;
    for (const RegistrySetting& setting : settings) {
        if (!text.empty())
            text += ", ";
        text += "HKLM\\" + setting.key + "\\" + setting.value + "=" + setting.text;
    }
    return text;
}

}  // namespace kiv
