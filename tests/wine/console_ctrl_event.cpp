// Which console control events reach another process on the same console?
// Plain Win32, nothing of the program. Run in a console of its own
// (tests/wine/console-break.sh runs it under wineconsole):
//
//   varn-console-ctrl-event.exe RESULT_FILE
//
// For Ctrl+C and then Ctrl+Break it starts itself as a child on its
// console, waits until the child's handler is in place, sends the event to
// every process of the console (GenerateConsoleCtrlEvent, group 0; its own
// handler takes it too) and writes one line per event to RESULT_FILE:
//   ctrl_c generate=1 error=0 delivered=1
// A child that gets an event ends with 100 plus the event's number; one
// that gets none within 5 s ends with 1.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kChildWaitMs = 5000;
HANDLE gEvent = nullptr;
DWORD gEventType = 0;

BOOL WINAPI takeEvent(DWORD type)
{
    gEventType = type;
    ::SetEvent(gEvent);
    return TRUE;
}

BOOL WINAPI ignoreEvent(DWORD)
{
    return TRUE;
}

int runChild(const char* readyName)
{
    gEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(takeEvent, TRUE);
    const HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName);
    ::SetEvent(ready);
    if (::WaitForSingleObject(gEvent, kChildWaitMs) != WAIT_OBJECT_0)
        return 1;
    return 100 + static_cast<int>(gEventType);
}

void sendAndReport(std::FILE* out, const char* name, DWORD event)
{
    const std::string readyName = "varn-console-ctrl-ready-" + std::to_string(event);
    const HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, readyName.c_str());
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" child " + readyName;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        std::fprintf(out, "%s child not started, error %lu\n", name, ::GetLastError());
        return;
    }
    ::WaitForSingleObject(ready, kChildWaitMs);
    const BOOL generated = ::GenerateConsoleCtrlEvent(event, 0);
    const DWORD error = generated ? 0 : ::GetLastError();
    ::WaitForSingleObject(child.hProcess, 2 * kChildWaitMs);
    DWORD status = 0;
    ::GetExitCodeProcess(child.hProcess, &status);
    std::fprintf(out, "%s generate=%d error=%lu delivered=%d\n", name, generated ? 1 : 0, error,
                 status == 100 + event ? 1 : 0);
    if (status == STILL_ACTIVE)
        ::TerminateProcess(child.hProcess, 1);
    ::CloseHandle(child.hProcess);
    ::CloseHandle(child.hThread);
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "child") == 0)
        return runChild(argv[2]);
    if (argc != 2) {
        std::fprintf(stderr, "usage: varn-console-ctrl-event RESULT_FILE\n");
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr)
        return 2;
    ::SetConsoleCtrlHandler(ignoreEvent, TRUE);
    sendAndReport(out, "ctrl_c", CTRL_C_EVENT);
    sendAndReport(out, "ctrl_break", CTRL_BREAK_EVENT);
    std::fclose(out);
    return 0;
}
