// The service's settings an administrator keeps in the registry, over its
// command line: Group Policy's (HKLM\SOFTWARE\Policies\VarnWin32) over the
// installer's (HKLM\SOFTWARE\VarnWin32, what the MSI properties wrote) over
// the arguments the service was registered or started with. They are read
// at the service's start, so a change takes effect at the next one, and
// they become arguments: the option parser checks them as it checks a
// command line, and refuses a bad value the same way.
#pragma once

#include <string>
#include <vector>

namespace kiv {

// The keys under HKEY_LOCAL_MACHINE, the stronger first.
constexpr char kPolicySettingsKey[] = "SOFTWARE\\Policies\\VarnWin32";
constexpr char kInstalledSettingsKey[] = "SOFTWARE\\VarnWin32";

// A registry value and the option it stands for.
struct SettingName {
    const char* value;   // "AllowStatusFrom"
    const char* option;  // "--allow-status-from"
};
extern const SettingName kSettingNames[5];

// One value found: where, and its text.
struct RegistrySetting {
    std::string key;     // kPolicySettingsKey or kInstalledSettingsKey
    std::string value;   // its name, "AllowStatusFrom"
    std::string option;  // "--allow-status-from"
    std::string text;    // "10.1.2.0/24,10.9.9.9"
};

// The values of kSettingNames under HKLM\`key`: a string as it is, a DWORD
// or QWORD in decimal, a value of another type as a text the option parser
// refuses. An empty string counts as no value. Windows only, with
// readServiceSettings (shell/win32/registry_reader.cpp): the Linux service
// takes its settings from its command line (/etc/default/varnwin32).
std::vector<RegistrySetting> readRegistrySettings(const char* key);

// The settings of both keys, policy's over the installer's for a value
// both give.
std::vector<RegistrySetting> readServiceSettings();

// The arguments the service parses: `commandLine` without the options that
// `settings` give, then each setting as "--option=text", then whatever
// followed a "--" of the command line.
std::vector<std::string> withSettings(const std::vector<std::string>& commandLine,
                                      const std::vector<RegistrySetting>& settings);

// "HKLM\SOFTWARE\Policies\VarnWin32\StatusRate=100001, ...": where the
// settings came from, for the refusal of a bad one.
std::string settingsText(const std::vector<RegistrySetting>& settings);

}  // namespace kiv
