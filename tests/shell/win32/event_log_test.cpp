// How the Event Viewer shows an entry of VarnWin32Service.exe: through the
// message table in the program's resources (this test program links the
// same resource object), with the entry's line as the one insertion string.
#include "shell/win32/event_log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using kiv::LogLevel;
using kiv::win32::eventEntryOf;
using kiv::win32::eventText;

// What the Event Viewer renders for an entry: the message of its event
// identifier, from the source's message file, with its strings inserted.
std::wstring rendered(DWORD eventId, const std::wstring& line)
{
    const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(line.c_str())};
    LPWSTR text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        ::GetModuleHandleW(nullptr), eventId, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
        reinterpret_cast<LPWSTR>(&text), 0, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
    std::wstring result = length > 0 ? std::wstring(text, length) : std::wstring();
    ::LocalFree(text);
    return result;
}

struct LevelRow {
    LogLevel level;
    WORD type;
};

class EventLogLevelTest : public ::testing::TestWithParam<LevelRow>
{
};

TEST_P(EventLogLevelTest, EntryShowsTheWholeLine)
{
    const std::string line = "VarnWin32: --allow-status-from: '10.1.2.0/33' is not an address (a.b.c.d) or a "
                             "network (a.b.c.d/n), 100 % sure\n";
    const kiv::win32::EventEntry entry = eventEntryOf(GetParam().level);
    EXPECT_EQ(entry.type, GetParam().type);
    const std::wstring text = eventText(line);
    EXPECT_EQ(rendered(entry.eventId, text), text + L"\r\n");
}

INSTANTIATE_TEST_SUITE_P(InformationWarningError, EventLogLevelTest,
                         ::testing::Values(LevelRow{LogLevel::info, EVENTLOG_INFORMATION_TYPE},
                                           LevelRow{LogLevel::warning, EVENTLOG_WARNING_TYPE},
                                           LevelRow{LogLevel::error, EVENTLOG_ERROR_TYPE}));

TEST(EventLogTest, DebugLinesAreNotWritten)
{
    EXPECT_EQ(eventEntryOf(LogLevel::debug).type, 0);
}

TEST(EventLogTest, TextIsTheLineWithoutItsEndInUtf16)
{
    EXPECT_EQ(eventText("All Started"), L"All Started");
    EXPECT_EQ(eventText("Address [10.1.2.5]\r\n"), L"Address [10.1.2.5]");
    EXPECT_EQ(eventText("host \xc3\xa9t\xc3\xa9\n"), L"host \u00e9t\u00e9");
}

}  // namespace
