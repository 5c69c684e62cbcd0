#include "shell/win32/event_log.h"

#include "service_messages.h"
#include "shell/win32/command_line.h"

namespace kiv::win32 {

EventEntry eventEntryOf(LogLevel level)
{
    switch (level) {
    case LogLevel::debug:
        break;
    case LogLevel::info:
        return {EVENTLOG_INFORMATION_TYPE, VARN_EVENT_INFORMATION};
    case LogLevel::warning:
        return {EVENTLOG_WARNING_TYPE, VARN_EVENT_WARNING};
    case LogLevel::error:
        return {EVENTLOG_ERROR_TYPE, VARN_EVENT_ERROR};
    }
    return {};
}

std::wstring eventText(const std::string& line)
{
    std::string::size_type end = line.size();
    while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r'))
        --end;
    return fromUtf8(line.substr(0, end));
}

EventLog::EventLog() : mSource(::RegisterEventSourceW(nullptr, kEventSource)) {}

EventLog::~EventLog()
{
    if (mSource != nullptr)
        ::DeregisterEventSource(mSource);
}

void EventLog::write(LogLevel level, const std::string& line) const
{
    const EventEntry entry = eventEntryOf(level);
    const std::wstring text = eventText(line);
    if (mSource == nullptr || entry.type == 0 || text.empty())
        return;
    LPCWSTR strings[] = {text.c_str()};
    // Nowhere to report an entry that could not be written: the debugger
    // channel has the line already.
    ::ReportEventW(mSource, entry.type, 0, entry.eventId, nullptr, 1, 0, strings, nullptr);
}

}  // namespace kiv::win32
