// The service's registry settings read at its start (shell/registry_settings.h).
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "shell/registry_settings.h"
#include "shell/win32/command_line.h"

namespace kiv {
namespace {

// The value's text; empty for an empty string.
std::string textOf(DWORD type, const std::vector<BYTE>& data, DWORD size)
{
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        const auto* text = reinterpret_cast<const wchar_t*>(data.data());
        std::size_t length = size / sizeof(wchar_t);
        while (length > 0 && text[length - 1] == L'\0')
            --length;
        return win32::toUtf8(std::wstring(text, length));
    }
    case REG_DWORD:
        if (size >= sizeof(DWORD))
            return std::to_string(*reinterpret_cast<const DWORD*>(data.data()));
        break;
    case REG_QWORD:
        if (size >= sizeof(unsigned long long))
            return std::to_string(*reinterpret_cast<const unsigned long long*>(data.data()));
        break;
    default:
        break;
    }
    return "(a registry value of type " + std::to_string(type) + ", not a string or a number)";
}

}  // namespace

std::vector<RegistrySetting> readRegistrySettings(const char* key)
{
    std::vector<RegistrySetting> settings;
    HKEY handle = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, win32::fromUtf8(key).c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &handle) !=
        ERROR_SUCCESS)
        return settings;
    for (const SettingName& name : kSettingNames) {
        const std::wstring valueName = win32::fromUtf8(name.value);
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExW(handle, valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            continue;
        std::vector<BYTE> data(size + sizeof(wchar_t), 0);
        if (::RegQueryValueExW(handle, valueName.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            continue;
        std::string text = textOf(type, data, size);
        if (!text.empty())
            settings.push_back({key, name.value, name.option, std::move(text)});
    }
    ::RegCloseKey(handle);
    return settings;
}

std::vector<RegistrySetting> readServiceSettings()
{
    std::vector<RegistrySetting> settings = readRegistrySettings(kPolicySettingsKey);
    for (RegistrySetting& installed : readRegistrySettings(kInstalledSettingsKey)) {
        const bool byPolicy = std::any_of(settings.begin(), settings.end(),
                                          [&](const RegistrySetting& s) { return s.option == installed.option; });
        if (!byPolicy)
            settings.push_back(std::move(installed));
    }
    return settings;
}

}  // namespace kiv
