// VarnWin32Setup.dll: the installer's custom actions around the service's
// options, each ending the installation with its reason in the installer's
// log (and, with a user interface, in a message) before anything is
// removed or installed.
//
// CheckServiceOptions runs the service's own option check
// (base/service_options, the code VarnWin32Service.exe runs when it starts)
// on the options the installer is about to keep for the service (the
// registry values it reads at its start, as the arguments they stand for):
// the installer never leaves a service that will not start by its own
// values. It also sets the
// sources of the status rule in the firewall to the networks the service
// answers (FIREWALLREMOTEIP; "any" stays when it answers anyone).
// RefuseOtherOptions stops an installation that gives an installed service
// of the same version other options, which would not reach it.
// WaitForPort, between the service's registration and its start, waits for
// the dialogs running on their own to let go of the service's port.
#include "service/kiv_server.h"  // before windows.h: Asio takes Winsock 2 first

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/service_options.h"
#include "shell/win32/command_line.h"

namespace {

// The installer property that holds the service's options as arguments
// (tools/windows/varnwin32.wxs).
constexpr wchar_t kArgumentsProperty[] = L"SERVICEARGUMENTS";
constexpr wchar_t kRemoteIpProperty[] = L"FIREWALLREMOTEIP";

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

// Whether UDP port `port` can be bound on every address now: no other
// socket holds it, whatever its options.
bool portFree(unsigned short port)
{
    boost::asio::io_context io;
    boost::asio::ip::udp::socket socket(io);
    boost::system::error_code error;
    socket.open(boost::asio::ip::udp::v4(), error);
    if (!error)
        socket.bind(boost::asio::ip::udp::endpoint(boost::asio::ip::address_v4::any(), port), error);
    return !error;
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
    const kiv::SourceAllowList& statusFrom = kiv::serviceOptions().allowStatusFrom;
    if (!statusFrom.takesEveryone())
        ::MsiSetPropertyW(install, kRemoteIpProperty, kiv::win32::fromUtf8(statusFrom.text()).c_str());
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

extern "C" __declspec(dllexport) UINT __stdcall WaitForPort(MSIHANDLE install)
{
    using Clock = std::chrono::steady_clock;
    constexpr auto kLongest = std::chrono::seconds(30);
    const std::string port = std::to_string(kiv::kCommandPort);
    const Clock::time_point start = Clock::now();
    bool free = portFree(kiv::kCommandPort);
    if (free) {
        tellInstaller(install, INSTALLMESSAGE_INFO, "VarnWin32: UDP port " + port + " is free for the service");
        return ERROR_SUCCESS;
    }
    tellInstaller(install, INSTALLMESSAGE_INFO,
                  "VarnWin32: UDP port " + port + " is in use; waiting for the dialogs to become views of the service");
    while (!free && Clock::now() - start < kLongest) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        free = portFree(kiv::kCommandPort);
    }
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (free)
        tellInstaller(install, INSTALLMESSAGE_INFO,
                      "VarnWin32: UDP port " + port + " free for the service after " + std::to_string(waited) + " ms");
    else
        tellInstaller(install, INSTALLMESSAGE_INFO,
                      "VarnWin32: UDP port " + port + " still in use after " + std::to_string(waited) +
                          " ms, by a program that does not give it up (a dialog of an earlier version?); the "
                          "service starts by its recovery 5 s after that program ends");
    return ERROR_SUCCESS;
}
