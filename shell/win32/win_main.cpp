// VarnWin32.exe: starts the watchdog service, then runs the main dialog
// until "Exit", Esc or the close box. Where the service VarnWin32 is
// installed on the station, the dialog is its view instead and never opens
// the watchdog's ports.
#include <windows.h>

#include <commctrl.h>

#include <array>
#include <chrono>
#include <exception>
#include <memory>
#include <string>

#include "base/debug_log.h"
#include "base/service_options.h"
#include "net/view_endpoint.h"
#include "service/kiv_srv.h"
#include "service/view_client.h"
#include "shell/resource_ids.h"
#include "shell/startup_failure.h"
#include "shell/win32/command_line.h"
#include "shell/win32/main_dialog.h"

namespace {

constexpr int kLoadStringBufferSize = 100;
constexpr int kExitStartupFailed = 1;
constexpr int kExitNoDialog = 2;
constexpr char kMessageCaption[] = "VarnWin32";
// How long the start waits for the service's first answer before the dialog
// shows (and waits on, saying so, when the service is not running).
constexpr std::chrono::milliseconds kFirstAnswerWait{1000};

void tellOperator(const std::string& text)
{
    errorLog("%s\n", text.c_str());
    ::MessageBoxA(nullptr, text.c_str(), kMessageCaption, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

// The help or the refusal of the command line: to standard output or error
// when the caller gave one (a script, a console), else in a message box.
void showCommandLineText(const std::string& text, bool refusal)
{
    kiv::logAt(refusal ? kiv::LogLevel::error : kiv::LogLevel::info, "%s", text.c_str());
    const HANDLE handle = ::GetStdHandle(refusal ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        if (::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
            return;
    }
    ::MessageBoxA(nullptr, text.c_str(), kMessageCaption,
                  MB_OK | MB_SETFOREGROUND | (refusal ? MB_ICONERROR : MB_ICONINFORMATION));
}

int runProgram(HINSTANCE instance)
{
    // Before any socket is opened: a wrong command line (or --help) ends here.
    const kiv::CommandLineResult commandLine = kiv::takeCommandLine(kiv::win32::commandLineArguments());
    if (!commandLine.run) {
        showCommandLineText(commandLine.text, commandLine.status != 0);
        return commandLine.status;
    }

    std::array<wchar_t, kLoadStringBufferSize> vendor{};
    std::array<wchar_t, kLoadStringBufferSize> programClass{};
    ::LoadStringW(instance, IDS_APP_VENDOR, vendor.data(), kLoadStringBufferSize);
    ::LoadStringW(instance, IDS_APP_CLASS, programClass.data(), kLoadStringBufferSize);

    // The address entry of the dialog is a common control.
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_INTERNET_CLASSES;
    ::InitCommonControlsEx(&controls);

    const std::string viewAddress =
        kiv::serviceOptions().viewSocket.empty() ? kiv::view::defaultAddress() : kiv::serviceOptions().viewSocket;
    if (kiv::view::serviceInstalled(viewAddress)) {
        // Logged before the first answer: whatever ends the start from
        // here, the log says where the dialog looked.
        infoLog("VarnWin32: the view of the VarnWin32 service at %s\n", viewAddress.c_str());
        auto client = std::make_unique<kiv::ViewClient>(viewAddress);
        client->start();
        const kiv::ViewLink link = client->waitForFirstAnswer(kFirstAnswerWait);
        if (link == kiv::ViewLink::accessDenied || link == kiv::ViewLink::refused) {
            tellOperator(link == kiv::ViewLink::accessDenied ? kiv::view::accessDeniedAdvice() : client->problem());
            return kExitStartupFailed;
        }
        kiv::win32::setDialogMode(viewAddress, std::move(client));
    } else {
        kiv::win32::setDialogMode(viewAddress, nullptr);
        try {
            gServiceHost = new kiv::KivSrv;
        } catch (const std::exception& error) {
            tellOperator(kiv::describeStartupFailure(error));
            return kExitStartupFailed;
        } catch (...) {
            tellOperator("VarnWin32 cannot start: the service failed to start.");
            return kExitStartupFailed;
        }
    }

    const INT_PTR result = ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_VARNWIN32), nullptr,
                                             kiv::win32::dialogProc, 0);
    if (result == -1) {
        const DWORD error = ::GetLastError();
        delete gServiceHost;
        gServiceHost = nullptr;
        kiv::win32::closeView();
        tellOperator("VarnWin32 cannot show its window: dialog " + std::to_string(IDD_VARNWIN32) +
                     " could not be created (error " + std::to_string(error) + ").");
        return kExitNoDialog;
    }
    // The dialog's own exits stop the service; anything else ending it
    // (a WM_QUIT, say) must not leave the worker running.
    delete gServiceHost;
    gServiceHost = nullptr;
    kiv::win32::closeView();
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int /*show*/)
{
    return runProgram(instance);
}
