// The Win32 view over a real dialog 107 (the resources are linked into this
// test program), the dialog procedure's keys, and the indicator colours.
#include "shell/win32/main_dialog.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "shell/resource_ids.h"

namespace {

using kiv::win32::DialogView;

INT_PTR CALLBACK passiveDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

class Win32View : public ::testing::Test
{
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_INTERNET_CLASSES};
        ASSERT_TRUE(::InitCommonControlsEx(&controls));
        mDialog = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_VARNWIN32),
                                       nullptr, passiveDialogProc, 0);
        ASSERT_NE(nullptr, mDialog);
        mView.attach(mDialog);
    }
    void TearDown() override
    {
        if (mDialog != nullptr)
            ::DestroyWindow(mDialog);
    }

    std::string text(int id) const
    {
        char buffer[512] = {};
        ::GetDlgItemTextA(mDialog, id, buffer, static_cast<int>(sizeof buffer));
        return buffer;
    }

    std::vector<std::string> listEntries() const
    {
        std::vector<std::string> entries;
        const LRESULT count = ::SendDlgItemMessageA(mDialog, IDC_EVENT_LIST, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            char buffer[256] = {};
            ::SendDlgItemMessageA(mDialog, IDC_EVENT_LIST, LB_GETTEXT, static_cast<WPARAM>(i),
                                  reinterpret_cast<LPARAM>(buffer));
            entries.push_back(buffer);
        }
        return entries;
    }

    HBITMAP radarImage() const
    {
        return reinterpret_cast<HBITMAP>(
            ::SendDlgItemMessageW(mDialog, IDC_RADAR, STM_GETIMAGE, IMAGE_BITMAP, 0));
    }

    HWND mDialog = nullptr;
    DialogView mView{::GetModuleHandleW(nullptr)};
};

TEST_F(Win32View, TextsGoInAsNarrowStrings)
{
    mView.setControlText(IDC_OS_DESC, "Microsoft   Windows 7 , 64-bit");
    mView.setControlText(IDC_BEACON_TEXT0, "10.0.0.9 : pump 3 : hall B : 4");
    EXPECT_EQ("Microsoft   Windows 7 , 64-bit", text(IDC_OS_DESC));
    EXPECT_EQ("10.0.0.9 : pump 3 : hall B : 4", text(IDC_BEACON_TEXT0));
    mView.setControlText(IDC_BEACON_TEXT0, "");
    EXPECT_EQ("", text(IDC_BEACON_TEXT0));

    // The panel's UTF-8, whatever the station's code page.
    mView.setControlText(IDC_BEACON_TEXT1, "Pumpe S\xC3\xBC" "d");
    wchar_t wide[64] = {};
    ::GetDlgItemTextW(mDialog, IDC_BEACON_TEXT1, wide, 64);
    EXPECT_STREQ(L"Pumpe S\u00FCd", wide);
}

TEST_F(Win32View, EventListIsSortedAndLosesOnlyTheExactEntry)
{
    mView.addListEntry(IDC_EVENT_LIST, " BEFORE new kiv::KivServer()");
    mView.addListEntry(IDC_EVENT_LIST, " AFTER new kiv::KivServer()");
    mView.addListEntry(IDC_EVENT_LIST, " after new kiv::KivServer()");
    EXPECT_EQ(3u, listEntries().size());
    EXPECT_EQ(" BEFORE new kiv::KivServer()", listEntries().back());

    // The list box's own search ignores case; the view must not.
    mView.removeListEntry(IDC_EVENT_LIST, " after new kiv::KivServer()");
    EXPECT_EQ((std::vector<std::string>{" AFTER new kiv::KivServer()", " BEFORE new kiv::KivServer()"}),
              listEntries());
    mView.removeListEntry(IDC_EVENT_LIST, " after new kiv::KivServer()");
    mView.removeListEntry(IDC_EVENT_LIST, "not there");
    EXPECT_EQ(2u, listEntries().size());

    mView.clearList(IDC_EVENT_LIST);
    EXPECT_TRUE(listEntries().empty());
}

TEST_F(Win32View, AddressEntryReadsFirstFieldFirstAndCountsTheFilledFields)
{
    EXPECT_EQ(0, mView.readPingAddress().filledFields);
    ::SendDlgItemMessageW(mDialog, IDC_PING_ADDRESS, IPM_SETADDRESS, 0, MAKEIPADDRESS(192, 168, 7, 1));
    EXPECT_EQ(4, mView.readPingAddress().filledFields);
    EXPECT_EQ((std::array<int, 4>{192, 168, 7, 1}), mView.readPingAddress().fields);
    ::SendDlgItemMessageW(mDialog, IDC_PING_ADDRESS, IPM_CLEARADDRESS, 0, 0);
    EXPECT_EQ(0, mView.readPingAddress().filledFields);
}

TEST_F(Win32View, RadarShowsTheTemplateBitmapUntilTheFramesAreLoaded)
{
    EXPECT_NE(nullptr, radarImage());  // bitmap 115 from the template
    mView.showRadarFrame(0);
    EXPECT_EQ(nullptr, radarImage());

    mView.loadStaticResources();
    EXPECT_NE(nullptr, reinterpret_cast<HICON>(::SendMessageW(mDialog, WM_GETICON, ICON_SMALL, 0)));
    for (int frame = 1; frame <= kiv::kRadarFrameCount; ++frame) {
        mView.showRadarFrame(frame);
        ASSERT_NE(nullptr, mView.radarFrame(frame));
        EXPECT_EQ(mView.radarFrame(frame), radarImage()) << frame;
    }
    EXPECT_NE(mView.radarFrame(1), mView.radarFrame(2));
}

// A key pressed in the control that has the focus, as the dialog's
// message loop hands it to the dialog manager.
void pressKey(HWND dialog, WPARAM key)
{
    MSG message{};
    message.hwnd = ::GetFocus();
    message.message = WM_KEYDOWN;
    message.wParam = key;
    message.lParam = 1;
    ASSERT_TRUE(::IsDialogMessageW(dialog, &message));
}

// The text of the message box the dialog opens, read and closed from a
// timer that runs inside the box's own message loop.
HWND gOwner = nullptr;
std::wstring gNoticeText;

BOOL CALLBACK closeOwnedBox(HWND window, LPARAM)
{
    if (::GetWindow(window, GW_OWNER) != gOwner)
        return TRUE;
    wchar_t text[256] = {};
    ::GetDlgItemTextW(window, 0xFFFF, text, 256);
    gNoticeText = text;
    ::EndDialog(window, IDOK);
    return FALSE;
}

void CALLBACK lookForBox(HWND, UINT, UINT_PTR, DWORD)
{
    ::EnumThreadWindows(::GetCurrentThreadId(), closeOwnedBox, 0);
}

// The real dialog procedure, without a service host: a ping target is shown
// and logged, and there is nothing to send it through.
TEST(Win32Dialog, EnterInTheAddressSetsThePingTargetAndEscStillEnds)
{
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_INTERNET_CLASSES};
    ASSERT_TRUE(::InitCommonControlsEx(&controls));
    const HWND dialog = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_VARNWIN32),
                                             nullptr, kiv::win32::dialogProc, 0);
    ASSERT_NE(nullptr, dialog);
    const HWND address = ::GetDlgItem(dialog, IDC_PING_ADDRESS);
    ::SendMessageW(address, IPM_SETADDRESS, 0, MAKEIPADDRESS(10, 1, 2, 3));
    const HWND field = ::GetWindow(address, GW_CHILD);  // one of its four edit fields
    ASSERT_NE(nullptr, field);
    ::SetFocus(field);
    ASSERT_EQ(field, ::GetFocus());

    pressKey(dialog, VK_RETURN);
    char shown[64] = {};
    ::GetDlgItemTextA(dialog, IDC_PING_TARGET_SHOWN, shown, static_cast<int>(sizeof shown));
    EXPECT_STREQ("10.1.2.3", shown) << "what \"Set Ping Target IP\" does";
    EXPECT_TRUE(::IsWindowVisible(dialog)) << "Enter there does not end the dialog";

    // A blank field: nothing is set, and a message box says why.
    ::SendMessageW(address, IPM_CLEARADDRESS, 0, 0);
    gOwner = dialog;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, lookForBox);
    ::SendMessageW(dialog, WM_COMMAND, IDC_SET_PING_TARGET, 0);
    ::KillTimer(nullptr, timer);
    EXPECT_NE(std::wstring::npos, gNoticeText.find(L"fill in all four fields"));
    ::GetDlgItemTextA(dialog, IDC_PING_TARGET_SHOWN, shown, static_cast<int>(sizeof shown));
    EXPECT_STREQ("10.1.2.3", shown) << "the target set before stays";

    pressKey(dialog, VK_ESCAPE);
    EXPECT_FALSE(::IsWindowVisible(dialog)) << "Esc still ends it";
    ::DestroyWindow(dialog);
}

struct ColourRow {
    int state;
    COLORREF colour;
    const char* name;
};

std::ostream& operator<<(std::ostream& out, const ColourRow& row)
{
    return out << row.name;
}

class IndicatorColours : public ::testing::TestWithParam<ColourRow>
{
};

TEST_P(IndicatorColours, BrushAndBackgroundOfEachState)
{
    const ColourRow& row = GetParam();
    EXPECT_EQ(row.colour, kiv::win32::indicatorColour(row.state));
    const HBRUSH brush = kiv::win32::indicatorBrush(row.state);
    if (row.colour == CLR_INVALID) {
        EXPECT_EQ(nullptr, brush);
        return;
    }
    LOGBRUSH logical{};
    ASSERT_NE(0, ::GetObjectW(brush, sizeof logical, &logical));
    EXPECT_EQ(static_cast<UINT>(BS_SOLID), logical.lbStyle);
    EXPECT_EQ(row.colour, logical.lbColor);
    EXPECT_EQ(brush, kiv::win32::indicatorBrush(row.state));  // one brush per colour
}

INSTANTIATE_TEST_SUITE_P(States, IndicatorColours,
                         ::testing::Values(ColourRow{-1, RGB(205, 205, 205), "grey_unknown"},
                                           ColourRow{0, RGB(0, 255, 0), "green"},
                                           ColourRow{1, RGB(255, 255, 0), "yellow"},
                                           ColourRow{2, RGB(255, 0, 0), "red"},
                                           ColourRow{3, CLR_INVALID, "none_for_3"},
                                           ColourRow{-2, CLR_INVALID, "none_for_minus_2"}),
                         [](const ::testing::TestParamInfo<ColourRow>& row) {
                             return std::string(row.param.name);
                         });

}  // namespace
