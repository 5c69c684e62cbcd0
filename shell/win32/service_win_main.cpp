// VarnWin32Service.exe: the watchdog service without a window, the Windows
// counterpart of varnwin32-service, with the same options.
//
// Started by the Service Control Manager (its parent is services.exe), it
// runs as the service "VarnWin32": START_PENDING until the service host has
// started ("All Started"), then RUNNING until a stop, shutdown or
// preshutdown; its log lines go to the Application log as well. Started
// from a console, it runs in the foreground until Ctrl+C, Ctrl+Break or the
// console closes, with its log lines on standard error.
//
// Under the manager its options are the registry's over its command line
// (shell/registry_settings.h): Group Policy's, then the installer's, then
// its arguments; a bad value in the registry is refused as a bad argument
// is. From a console it takes its command line only, to try options by
// hand beside an installed service.
//
// Either way it serves the view channel on the server's worker: the pipe
// \\.\pipe\VarnWin32\view, or the one --view-socket names. A pipe that
// cannot be made is one error line and the service runs on without views:
// the station is watched first (a pipe of that name made by someone else
// must not keep the watchdog from starting).
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "base/service_options.h"
#include "net/view_endpoint.h"
#include "service/kiv_server.h"
#include "service/kiv_srv.h"
#include "service/view_channel.h"
#include "shell/registry_settings.h"
#include "shell/service_control.h"
#include "shell/startup_failure.h"
#include "shell/win32/command_line.h"
#include "shell/win32/event_log.h"

namespace {

constexpr wchar_t kServiceName[] = L"VarnWin32";
constexpr char kProgramName[] = "VarnWin32Service";
// The exit status of the program, and the service-specific exit code the
// service reports with STOPPED: as varnwin32-service's.
constexpr unsigned kExitStartupFailed = 1;
// How long a console's close, logoff or shutdown waits for the stop before
// Windows ends the process (it allows 5 s).
constexpr DWORD kConsoleCloseWaitMs = 4000;

// True when the Service Control Manager started this process: its parent is
// services.exe. Asking the manager instead (StartServiceCtrlDispatcherW and
// its ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) would hold up a console start
// under Wine, where that answer comes only after a 10 s wait for the
// manager's pipe.
bool startedByServiceManager()
{
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    const DWORD self = ::GetCurrentProcessId();
    DWORD parent = 0;
    std::vector<PROCESSENTRY32W> processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self)
            parent = entry.th32ParentProcessID;
        processes.push_back(entry);
    }
    ::CloseHandle(snapshot);
    for (const PROCESSENTRY32W& process : processes) {
        if (process.th32ProcessID == parent)
            return ::_wcsicmp(process.szExeFile, L"services.exe") == 0;
    }
    return false;
}

// The lines that pass the level, on standard error, one line each (the
// console run, as varnwin32-service on Linux).
void writeToStandardError(kiv::LogLevel, const std::string& line)
{
    std::string text = line;
    if (text.empty() || text.back() != '\n')
        text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

// The view channel over the host's server; null (after one error line) when
// its pipe cannot be made.
std::unique_ptr<kiv::ViewChannel> serveViews(kiv::KivSrv& host)
{
    const std::string given = kiv::serviceOptions().viewSocket;
    const std::string address = given.empty() ? kiv::view::defaultAddress() : given;
    try {
        std::unique_ptr<kiv::view::ViewListener> listener =
            kiv::view::openViewListener(host.server()->ioContext(), address);
        infoLog("View channel: listening on %s\n", listener->address().c_str());
        return std::make_unique<kiv::ViewChannel>(*host.server(), std::move(listener));
    } catch (const std::exception& error) {
        errorLog("VarnWin32 service: the view pipe %s could not be made (%s); the station is watched, "
                 "but no dialog can show it\n",
                 address.c_str(), error.what());
        return nullptr;
    }
}

// ---- Under the Service Control Manager -------------------------------------

kiv::ServiceRequest requestOf(DWORD control)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        return kiv::ServiceRequest::stop;
    case SERVICE_CONTROL_SHUTDOWN:
        return kiv::ServiceRequest::shutdown;
    case SERVICE_CONTROL_PRESHUTDOWN:
        return kiv::ServiceRequest::preshutdown;
    case SERVICE_CONTROL_INTERROGATE:
        return kiv::ServiceRequest::interrogate;
    default:
        return kiv::ServiceRequest::other;
    }
}

const char* requestName(kiv::ServiceRequest request)
{
    switch (request) {
    case kiv::ServiceRequest::stop:
        return "stop";
    case kiv::ServiceRequest::shutdown:
        return "shutdown";
    case kiv::ServiceRequest::preshutdown:
        return "preshutdown";
    default:
        return "control";
    }
}

SERVICE_STATUS statusOf(const kiv::ServiceStatusReport& report)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    switch (report.state) {
    case kiv::ServiceState::startPending:
        status.dwCurrentState = SERVICE_START_PENDING;
        break;
    case kiv::ServiceState::running:
        status.dwCurrentState = SERVICE_RUNNING;
        break;
    case kiv::ServiceState::stopPending:
        status.dwCurrentState = SERVICE_STOP_PENDING;
        break;
    case kiv::ServiceState::stopped:
        status.dwCurrentState = SERVICE_STOPPED;
        break;
    }
    // Preshutdown (Vista and later) comes first, with time to stop before
    // the shutdown itself; where it is not offered, shutdown does the same.
    status.dwControlsAccepted =
        report.acceptsStop ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN : 0;
    status.dwWin32ExitCode = report.exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = report.exitCode;
    status.dwCheckPoint = report.checkPoint;
    status.dwWaitHint = report.waitHintMs;
    return status;
}

// The service's state, for the one run of the service in this process.
// Process-wide, so that a control the manager sends while serviceMain
// returns still finds what it needs.
SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
HANDLE gServiceStop = nullptr;
kiv::ServiceControl gServiceControl(
    [](const kiv::ServiceStatusReport& report) {
        SERVICE_STATUS status = statusOf(report);
        ::SetServiceStatus(gStatusHandle, &status);
    },
    [] { ::SetEvent(gServiceStop); });

DWORD WINAPI handleServiceControl(DWORD control, DWORD /*eventType*/, LPVOID /*eventData*/, LPVOID /*context*/)
{
    const kiv::ServiceRequest request = requestOf(control);
    if (request == kiv::ServiceRequest::stop || request == kiv::ServiceRequest::shutdown ||
        request == kiv::ServiceRequest::preshutdown)
        infoLog("VarnWin32 service: %s from the service manager\n", requestName(request));
    return gServiceControl.control(request) ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

// Runs on the thread the Service Control Manager's dispatcher starts.
// `argc`/`argv`: the service's name, then the start parameters (sc start
// VarnWin32 ...); the options of the service's command line come first.
void WINAPI serviceMain(DWORD argc, LPWSTR* argv)
{
    gServiceStop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    gStatusHandle = ::RegisterServiceCtrlHandlerExW(kServiceName, handleServiceControl, nullptr);
    if (gStatusHandle == nullptr || gServiceStop == nullptr) {
        errorLog("VarnWin32 service: cannot take controls from the service manager (error %lu)\n",
                 ::GetLastError());
        return;
    }
    gServiceControl.starting();

    const kiv::win32::EventLog eventLog;
    kiv::setLogSink([&eventLog](kiv::LogLevel level, const std::string& line) { eventLog.write(level, line); });

    std::vector<std::string> arguments = kiv::win32::commandLineArguments();
    for (DWORD i = 1; i < argc; ++i)
        arguments.push_back(kiv::win32::toUtf8(argv[i]));
    const std::vector<kiv::RegistrySetting> settings = kiv::readServiceSettings();
    const kiv::CommandLineResult commandLine =
        kiv::takeCommandLine(kiv::withSettings(arguments, settings), kProgramName);
    std::unique_ptr<kiv::KivSrv> host;
    unsigned exitCode = 0;
    if (!commandLine.run) {
        // --help or --version leave nothing to run; a wrong option is the
        // reason the service did not start, and where the registry gave
        // options the next line says which.
        if (commandLine.status != 0) {
            errorLog("%s", commandLine.text.c_str());
            if (!settings.empty())
                errorLog("VarnWin32 service: options from the registry: %s\n", kiv::settingsText(settings).c_str());
        }
        exitCode = static_cast<unsigned>(commandLine.status);
    } else {
        gServiceControl.starting();
        try {
            host = std::make_unique<kiv::KivSrv>();
        } catch (const std::exception& error) {
            kiv::reportStartupFailure(error);
            exitCode = kExitStartupFailed;
        }
    }
    if (host) {
        std::unique_ptr<kiv::ViewChannel> views = serveViews(*host);
        gServiceHost = host.get();
        gServiceControl.running();
        ::WaitForSingleObject(gServiceStop, INFINITE);
        gServiceHost = nullptr;
        // The channel's close runs on the worker: before the host ends it.
        views.reset();
        host.reset();
        infoLog("VarnWin32 service stopped\n");
    }
    // The Event Log source goes with this function; nothing logs into it
    // any more (the worker has ended).
    kiv::setLogSink({});
    gServiceControl.stopped(exitCode);
}

// ---- From a console --------------------------------------------------------

HANDLE gConsoleStop = nullptr;
HANDLE gConsoleStopped = nullptr;

BOOL WINAPI handleConsoleControl(DWORD type)
{
    ::SetEvent(gConsoleStop);
    // After a close, logoff or shutdown the process ends when this handler
    // returns: let the service stop first.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        ::WaitForSingleObject(gConsoleStopped, kConsoleCloseWaitMs);
    return TRUE;
}

int runInConsole()
{
    // Before any thread or socket: a wrong command line ends here.
    const kiv::CommandLineResult commandLine =
        kiv::takeCommandLine(kiv::win32::commandLineArguments(), kProgramName);
    if (!commandLine.run) {
        std::fputs(commandLine.text.c_str(), commandLine.status == 0 ? stdout : stderr);
        return commandLine.status;
    }
    kiv::setLogSink(writeToStandardError);

    gConsoleStop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    gConsoleStopped = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(handleConsoleControl, TRUE);

    std::unique_ptr<kiv::KivSrv> host;
    try {
        host = std::make_unique<kiv::KivSrv>();
    } catch (const std::exception& error) {
        kiv::reportStartupFailure(error);
        return static_cast<int>(kExitStartupFailed);
    }
    std::unique_ptr<kiv::ViewChannel> views = serveViews(*host);
    gServiceHost = host.get();
    ::WaitForSingleObject(gConsoleStop, INFINITE);
    gServiceHost = nullptr;
    views.reset();
    host.reset();
    ::SetEvent(gConsoleStopped);
    return 0;
}

}  // namespace

int wmain()
{
    if (startedByServiceManager()) {
        SERVICE_TABLE_ENTRYW services[] = {{const_cast<LPWSTR>(kServiceName), serviceMain}, {nullptr, nullptr}};
        if (::StartServiceCtrlDispatcherW(services))
            return 0;
        if (::GetLastError() != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
            errorLog("VarnWin32 service: the service manager's dispatcher failed (error %lu)\n", ::GetLastError());
            return static_cast<int>(kExitStartupFailed);
        }
    }
    return runInConsole();
}
