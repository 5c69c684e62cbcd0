// The Windows Application log under the source "VarnWin32": under the
// Service Control Manager, every line of the log that passes its level and
// repeat rule becomes one entry (information, warning or error by the
// line's level; debug lines are not written). Each entry's message is the
// line itself, through the message table of VarnWin32Service.exe
// (service_messages.mc), so the Event Viewer shows it whole.
#pragma once

#include <windows.h>

#include <string>

#include "base/debug_log.h"

namespace kiv::win32 {

constexpr wchar_t kEventSource[] = L"VarnWin32";

// The entry a line of `level` becomes: its event type and the identifier of
// its message. Debug lines have type 0: none is written.
struct EventEntry {
    WORD type = 0;
    DWORD eventId = 0;
};
EventEntry eventEntryOf(LogLevel level);

// The entry's text: the line without its line end, in UTF-16.
std::wstring eventText(const std::string& line);

class EventLog
{
public:
    // Registers the source; where that fails nothing is written.
    EventLog();
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Thread-safe: the log calls it from any thread (kiv::LogSink).
    void write(LogLevel level, const std::string& line) const;

private:
    HANDLE mSource = nullptr;
};

}  // namespace kiv::win32
