// VarnWin32Setup.dll: the installer's custom actions around the service's
// options, each ending the installation with its reason in the installer's
// log (and, with a user interface, in a message) before anything is
// removed or installed.
//
// CheckServiceOptions runs the service's own option check
// (base/service_options, the code VarnWin32Service.exe runs when it starts)
// on the arguments the installer is about to give the service: the
// installer never leaves a service that will not start.
// RefuseOtherOptions stops an installation that gives an installed service
// of the same version other options, which would not reach it.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "base/service_options.h"
#include "shell/win32/command_line.h"

namespace {

// The installer property that holds the service's arguments
// (tools/windows/varnwin32.wxs).
constexpr wchar_t kArgumentsProperty[] = L"SERVICEARGUMENTS";

std::wstring property(MSIHANDLE install, const wchar_t* name)
{
    DWORD size = 0;
    wchar_t empty[1] = {L'\0'};
    if (::MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA)
        return std::wstring();
    std::vector<wchar_t> value(size + 1, L'\0');
    size = static_cast<DWORD>(value.size());
    if (::MsiGetPropertyW(install, name, value.data(), &size) != ERROR_SUCCESS)
        return std::wstring();
    return std::wstring(value.data(), size);
}

// One message to the installer: `type` INSTALLMESSAGE_INFO goes to the log,
// INSTALLMESSAGE_ERROR to the log and, with a user interface, to the user.
void tellInstaller(MSIHANDLE install, INSTALLMESSAGE type, const std::string& text)
{
    const MSIHANDLE record = ::MsiCreateRecord(1);
    ::MsiRecordSetStringW(record, 0, L"[1]");
    ::MsiRecordSetStringW(record, 1, kiv::win32::fromUtf8(text).c_str());
    const int flags = type == INSTALLMESSAGE_ERROR ? MB_OK | MB_ICONERROR : 0;
    ::MsiProcessMessage(install, static_cast<INSTALLMESSAGE>(type | flags), record);
    ::MsiCloseHandle(record);
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall CheckServiceOptions(MSIHANDLE install)
{
    const std::wstring arguments = property(install, kArgumentsProperty);
    // Split as the service's command line is split: after the program's name.
    const kiv::CommandLineResult result =
        kiv::takeCommandLine(kiv::win32::argumentsOf(L"VarnWin32Service.exe " + arguments), "VarnWin32Service");
    std::string text = result.text;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (result.status != 0) {
        tellInstaller(install, INSTALLMESSAGE_ERROR, "The VarnWin32 service would not start: " + text);
        return ERROR_INSTALL_FAILURE;
    }
    tellInstaller(install, INSTALLMESSAGE_INFO,
                  "VarnWin32 service options checked: " + kiv::optionsText(kiv::serviceOptions()));
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall RefuseOtherOptions(MSIHANDLE install)
{
    tellInstaller(install, INSTALLMESSAGE_ERROR,
                  "VarnWin32 is installed as a service with other options, which an installation of the same "
                  "version does not change. Uninstall it and install it again with the new options, or install a "
                  "newer version with them.");
    return ERROR_INSTALL_FAILURE;
}
