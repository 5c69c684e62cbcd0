#include <windows.h>

#include <string>
#include <vector>

#include "shell/registry_settings.h"

namespace kiv {
namespace {

std::string utf8Of(const wchar_t* text, std::size_t length)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? static_cast<std::size_t>(size) : 0u, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), result.data(), size, nullptr, nullptr);
    return result;
}

std::wstring wideOf(const char* ascii)
{
    return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii));
}

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
        return utf8Of(text, length);
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
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, wideOf(key).c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &handle) !=
        ERROR_SUCCESS)
        return settings;
    for (const SettingName& name : kSettingNames) {
        const std::wstring valueName = wideOf(name.value);
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

}  // namespace kiv
