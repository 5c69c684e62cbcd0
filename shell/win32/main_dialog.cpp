#include "shell/win32/main_dialog.h"

#include <commctrl.h>

#include <vector>

#include "base/event_text.h"
#include "service/kiv_srv.h"
#include "shell/resource_ids.h"

namespace kiv::win32 {
namespace {

constexpr UINT kRefreshMilliseconds = 500;
constexpr UINT kAnimationMilliseconds = 100;

constexpr COLORREF kGrey = RGB(205, 205, 205);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kYellow = RGB(255, 255, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);

// The four indicator brushes exist before the entry point runs and live as
// long as the process.
const HBRUSH gGreyBrush = ::CreateSolidBrush(kGrey);
const HBRUSH gGreenBrush = ::CreateSolidBrush(kGreen);
const HBRUSH gYellowBrush = ::CreateSolidBrush(kYellow);
const HBRUSH gRedBrush = ::CreateSolidBrush(kRed);

HWND gDialog = nullptr;
DialogView gView(::GetModuleHandleW(nullptr));
StatusPanel gPanel(gView, gServiceHost);

IndicatorBrush brushForState(int state)
{
    return indicatorBrush(state);
}

// The panel's texts are UTF-8; the controls take them as UTF-16, whatever
// the station's code page.
std::wstring wideText(const std::string& text)
{
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

LPARAM textParam(const std::wstring& text)
{
    return reinterpret_cast<LPARAM>(text.c_str());
}

std::wstring listEntryText(HWND list, LRESULT index)
{
    const LRESULT length = ::SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR)
        return std::wstring();
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied = ::SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index),
                                          reinterpret_cast<LPARAM>(buffer.data()));
    if (copied == LB_ERR)
        return std::wstring();
    return std::wstring(buffer.data(), static_cast<std::size_t>(copied));
}

// Whether the keyboard focus is in the ping-target address control (one
// of the edit fields inside it).
bool focusInPingAddress(HWND dialog)
{
    const HWND address = ::GetDlgItem(dialog, IDC_PING_ADDRESS);
    const HWND focus = ::GetFocus();
    return address != nullptr && focus != nullptr &&
           (focus == address || ::IsChild(address, focus) != FALSE);
}

// "Exit", Esc and the close box: the service stops first (this blocks until
// the worker has left its loop), then the dialog ends.
INT_PTR endProgram(HWND dialog, int commandId)
{
    if (gServiceHost != nullptr) {
        delete gServiceHost;
        gServiceHost = nullptr;
    }
    ::EndDialog(dialog, commandId);
    return TRUE;
}

INT_PTR onCommand(HWND dialog, int commandId)
{
    switch (commandId) {
    case IDC_EXIT:
    case IDC_CANCEL:
        return endProgram(dialog, commandId);
    case IDC_SET_PING_TARGET:
        gPanel.onSetPingTarget();
        return FALSE;
    case IDC_CLEAR:
        gPanel.onClearEvents();
        return FALSE;
    default:
        return FALSE;
    }
}

void onTimer(WPARAM timerId)
{
    if (timerId == IDT_ANIMATION)
        gPanel.advanceAnimation();
    else if (timerId == IDT_REFRESH && gServiceHost != nullptr)
        gPanel.refreshStatusPanel();
}

// Hidden or minimised, the radar stands still and nothing is drawn; the
// refresh goes on, so no event is lost meanwhile.
void followVisibility(HWND dialog, bool shown)
{
    if (shown == gPanel.viewShown())
        return;
    gPanel.setViewShown(shown);
    if (shown)
        ::SetTimer(dialog, IDT_ANIMATION, kAnimationMilliseconds, nullptr);
    else
        ::KillTimer(dialog, IDT_ANIMATION);
}

// Indicators get the brush and background colour of their state; every
// other static (and every indicator without a watchdog server) keeps the
// default colours.
INT_PTR onCtlColorStatic(HDC context, HWND control)
{
    const int controlId = ::GetDlgCtrlID(control);
    const std::optional<int> state = gPanel.indicatorState(controlId);
    if (!state)
        return FALSE;
    const COLORREF colour = indicatorColour(*state);
    if (colour != CLR_INVALID)
        ::SetBkColor(context, colour);
    const std::optional<IndicatorBrush> brush = gPanel.paintIndicator(controlId, brushForState);
    if (!brush || *brush == nullptr)
        return FALSE;
    return reinterpret_cast<INT_PTR>(*brush);
}

}  // namespace

COLORREF indicatorColour(int state)
{
    switch (state) {
    case -1:
        return kGrey;
    case 0:
        return kGreen;
    case 1:
        return kYellow;
    case 2:
        return kRed;
    default:
        return CLR_INVALID;
    }
}

HBRUSH indicatorBrush(int state)
{
    switch (state) {
    case -1:
        return gGreyBrush;
    case 0:
        return gGreenBrush;
    case 1:
        return gYellowBrush;
    case 2:
        return gRedBrush;
    default:
        return nullptr;
    }
}

DialogView::DialogView(HINSTANCE instance) : mInstance(instance) {}

DialogView::~DialogView()
{
    for (HBITMAP& frame : mFrames)
        if (frame != nullptr)
            ::DeleteObject(frame);
}

void DialogView::setControlText(int controlId, const std::string& text)
{
    ::SendDlgItemMessageW(mDialog, controlId, WM_SETTEXT, 0, textParam(wideText(text)));
}

void DialogView::addListEntry(int controlId, const std::string& text)
{
    ::SendDlgItemMessageW(mDialog, controlId, LB_ADDSTRING, 0, textParam(wideText(text)));
}

void DialogView::removeListEntry(int controlId, const std::string& text)
{
    // The list box matches without regard to case; only an entry with
    // exactly this text goes.
    const HWND list = ::GetDlgItem(mDialog, controlId);
    if (list == nullptr)
        return;
    const std::wstring wide = wideText(text);
    const LRESULT first =
        ::SendMessageW(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), textParam(wide));
    LRESULT index = first;
    while (index != LB_ERR) {
        if (listEntryText(list, index) == wide) {
            ::SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
            return;
        }
        index = ::SendMessageW(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(index), textParam(wide));
        if (index == first)  // the search wrapped round
            return;
    }
}

void DialogView::clearList(int controlId)
{
    ::SendDlgItemMessageA(mDialog, controlId, LB_RESETCONTENT, 0, 0);
}

void DialogView::repaintIndicator(int controlId)
{
    if (const HWND control = ::GetDlgItem(mDialog, controlId))
        ::InvalidateRect(control, nullptr, TRUE);
}

void DialogView::loadStaticResources()
{
    if (const HICON icon = ::LoadIconW(mInstance, MAKEINTRESOURCEW(IDI_VARNWIN32)))
        ::SendMessageW(mDialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    for (int frame = 1; frame <= kRadarFrameCount; ++frame) {
        HBITMAP& slot = mFrames[static_cast<std::size_t>(frame - 1)];
        if (slot == nullptr)
            slot = ::LoadBitmapW(mInstance, MAKEINTRESOURCEW(radarBitmapId(frame)));
    }
}

void DialogView::showRadarFrame(int frame)
{
    const HBITMAP bitmap = radarFrame(frame);
    const auto previous = reinterpret_cast<HBITMAP>(::SendDlgItemMessageA(
        mDialog, IDC_RADAR, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
    // The bitmap the control loaded from the template is handed back once;
    // the frames stay ours until the view goes.
    if (previous != nullptr && !isRadarFrame(previous))
        ::DeleteObject(previous);
}

std::uint32_t DialogView::readPingAddress()
{
    DWORD address = 0;
    ::SendDlgItemMessageA(mDialog, IDC_PING_ADDRESS, IPM_GETADDRESS, 0,
                          reinterpret_cast<LPARAM>(&address));
    return address;
}

HBITMAP DialogView::radarFrame(int frame) const
{
    if (frame < 1 || frame > kRadarFrameCount)
        return nullptr;
    return mFrames[static_cast<std::size_t>(frame - 1)];
}

bool DialogView::isRadarFrame(HBITMAP bitmap) const
{
    for (HBITMAP frame : mFrames)
        if (frame == bitmap)
            return true;
    return false;
}

HWND mainDialog()
{
    return gDialog;
}

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        if (gDialog == nullptr) {
            gDialog = dialog;
            gView.attach(dialog);
            ::SetTimer(dialog, IDT_REFRESH, kRefreshMilliseconds, nullptr);
            ::SetTimer(dialog, IDT_ANIMATION, kAnimationMilliseconds, nullptr);
        }
        switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case DM_GETDEFID:
            // Enter with the focus in the address entry: the dialog manager
            // asks for the default button, and it is "Set Ping Target IP"
            // there. Anywhere else the dialog keeps its own answer (none,
            // so Enter on a control that is no button is IDOK, "Exit").
            if (!focusInPingAddress(dialog))
                return FALSE;
            ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT,
                                MAKELRESULT(IDC_SET_PING_TARGET, DC_HASDEFID));
            return TRUE;
        case WM_COMMAND:
            return onCommand(dialog, LOWORD(wParam));
        case WM_TIMER:
            onTimer(wParam);
            return FALSE;
        case WM_SIZE:
            if (wParam == SIZE_MINIMIZED)
                followVisibility(dialog, false);
            else if (wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED)
                followVisibility(dialog, ::IsWindowVisible(dialog) != FALSE);
            return FALSE;
        case WM_SHOWWINDOW:
            followVisibility(dialog, wParam != FALSE && !::IsIconic(dialog));
            return FALSE;
        case WM_CTLCOLORSTATIC:
            return onCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        default:
            return FALSE;
        }
    } catch (...) {
        reportException("dialogProc");
        return FALSE;
    }
}

}  // namespace kiv::win32
