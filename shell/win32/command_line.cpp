#include "shell/win32/command_line.h"

#include <windows.h>

#include <shellapi.h>

namespace kiv::win32 {

std::string toUtf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int length = static_cast<int>(text.size());
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? static_cast<std::size_t>(size) : 0u, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, result.data(), size, nullptr, nullptr);
    return result;
}

std::wstring fromUtf8(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    // Bytes that are not UTF-8 become U+FFFD.
    const int length = static_cast<int>(text.size());
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring result(size > 0 ? static_cast<std::size_t>(size) : 0u, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, result.data(), size);
    return result;
}

std::vector<std::string> argumentsOf(const std::wstring& commandLine)
{
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(commandLine.c_str(), &count);
    if (words == nullptr)
        return arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(toUtf8(words[i]));
    ::LocalFree(words);
    return arguments;
}

std::vector<std::string> commandLineArguments()
{
    return argumentsOf(::GetCommandLineW());
}

}  // namespace kiv::win32
