#include "shell/win32/main_dialog.h"

#include <commctrl.h>

#include <vector>

#include "base/debug_log.h"
#include "base/event_text.h"
#include "net/view_endpoint.h"
#include "service/kiv_srv.h"
#include "service/view_client.h"
#include "shell/resource_ids.h"
#include "shell/status_source.h"

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

// The caption of the dialog as a view of the station's service.
constexpr wchar_t kViewCaption[] = L"VarnWin32 (service)";
constexpr wchar_t kServiceGoneCaption[] =
    L"VarnWin32 (the VarnWin32 service was removed; close VarnWin32 and start it again)";
// Every this many refreshes (3 s) the dialog looks whether the station's
// service came or went.
constexpr int kModeCheckRefreshes = 6;

HWND gDialog = nullptr;
DialogView gView(::GetModuleHandleW(nullptr));
// Where the service is viewed; whether the service manager (not a test's
// pipe) says if it is installed.
std::string gViewAddress;
bool gAskServiceManager = true;
// The view of the service: its client and what the panel reads of it; null
// for the standalone program.
std::unique_ptr<ViewClient> gClient;
std::unique_ptr<ViewStatusSource> gViewSource;
// Made at the dialog's first message, and again when it becomes the other
// kind (a new panel: nothing it shows is taken from the other).
std::unique_ptr<StatusPanel> gPanel;
std::wstring gStandaloneCaption;
int gRefreshesSinceModeCheck = 0;

void makePanel()
{
    if (gViewSource)
        gPanel = std::make_unique<StatusPanel>(gView, *gViewSource);
    else
        gPanel = std::make_unique<StatusPanel>(gView, gServiceHost);
}

void useClient(std::unique_ptr<ViewClient> client)
{
    gPanel.reset();
    gViewSource.reset();
    gClient = std::move(client);
    if (gClient)
        gViewSource = std::make_unique<ViewStatusSource>(*gClient);
}

// The service was installed while this dialog watched the station itself:
// the ports go to the service, the dialog becomes its view.
void becomeView(HWND dialog)
{
    infoLog("VarnWin32: the VarnWin32 service is installed on this station; this dialog becomes its view\n");
    delete gServiceHost;
    gServiceHost = nullptr;
    auto client = std::make_unique<ViewClient>(gViewAddress);
    client->start();
    useClient(std::move(client));
    gView.clearList(IDC_EVENT_LIST);
    makePanel();
    ::SetWindowTextW(dialog, kViewCaption);
}

// The service was removed while this dialog viewed it: the dialog watches
// the station itself, as the standalone program, once the ports are free.
void becomeStandalone(HWND dialog)
{
    try {
        gServiceHost = new KivSrv;
    } catch (...) {
        // The ports are not free yet (the service still stopping): the
        // caption says it, and the next check tries again.
        ::SetWindowTextW(dialog, kServiceGoneCaption);
        return;
    }
    infoLog("VarnWin32: the VarnWin32 service was removed from this station; this dialog watches it itself\n");
    useClient(nullptr);
    gView.clearList(IDC_EVENT_LIST);
    makePanel();
    ::SetWindowTextW(dialog, gStandaloneCaption.c_str());
}

void checkMode(HWND dialog)
{
    if (++gRefreshesSinceModeCheck < kModeCheckRefreshes)
        return;
    gRefreshesSinceModeCheck = 0;
    if (!gClient && gServiceHost != nullptr) {
        if (view::serviceInstalled(gViewAddress))
            becomeView(dialog);
    } else if (gClient && gAskServiceManager && !view::serviceInstalled(gViewAddress)) {
        // A test's pipe that is gone is only its service away.
        becomeStandalone(dialog);
    }
}

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
        gPanel->onSetPingTarget();
        return FALSE;
    case IDC_CLEAR:
        gPanel->onClearEvents();
        return FALSE;
    default:
        return FALSE;
    }
}

void onTimer(HWND dialog, WPARAM timerId)
{
    if (timerId == IDT_ANIMATION) {
        gPanel->advanceAnimation();
    } else if (timerId == IDT_REFRESH && (gServiceHost != nullptr || gClient)) {
        checkMode(dialog);
        gPanel->refreshStatusPanel();
    }
}

// Hidden or minimised, the radar stands still and nothing is drawn; the
// refresh goes on, so no event is lost meanwhile.
void followVisibility(HWND dialog, bool shown)
{
    if (shown == gPanel->viewShown())
        return;
    gPanel->setViewShown(shown);
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
    const std::optional<int> state = gPanel->indicatorState(controlId);
    if (!state)
        return FALSE;
    const COLORREF colour = indicatorColour(*state);
    if (colour != CLR_INVALID)
        ::SetBkColor(context, colour);
    const std::optional<IndicatorBrush> brush = gPanel->paintIndicator(controlId, brushForState);
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

PingAddressEntry DialogView::readPingAddress()
{
    // The control answers with the number of fields that hold a number; it
    // corrects a field above 255 itself.
    DWORD address = 0;
    const LRESULT filled = ::SendDlgItemMessageA(mDialog, IDC_PING_ADDRESS, IPM_GETADDRESS, 0,
                                                 reinterpret_cast<LPARAM>(&address));
    PingAddressEntry entry;
    entry.filledFields = static_cast<int>(filled);
    for (std::size_t i = 0; i < entry.fields.size(); ++i)
        entry.fields[i] = static_cast<int>((address >> (24 - 8 * i)) & 0xff);
    return entry;
}

void DialogView::showNotice(const std::string& caption, const std::string& text)
{
    ::MessageBoxW(mDialog, wideText(text).c_str(), wideText(caption).c_str(), MB_OK | MB_ICONWARNING);
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

void setDialogMode(const std::string& viewAddress, std::unique_ptr<ViewClient> client)
{
    gViewAddress = viewAddress;
    gAskServiceManager = viewAddress == view::defaultAddress();
    useClient(std::move(client));
}

void closeView()
{
    useClient(nullptr);
}

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        if (gDialog == nullptr) {
            gDialog = dialog;
            gView.attach(dialog);
            if (!gPanel)
                makePanel();
            ::SetTimer(dialog, IDT_REFRESH, kRefreshMilliseconds, nullptr);
            ::SetTimer(dialog, IDT_ANIMATION, kAnimationMilliseconds, nullptr);
        }
        switch (message) {
        case WM_INITDIALOG: {
            std::array<wchar_t, 256> caption{};
            ::GetWindowTextW(dialog, caption.data(), static_cast<int>(caption.size()));
            gStandaloneCaption = caption.data();
            if (gClient)
                ::SetWindowTextW(dialog, kViewCaption);
            return TRUE;
        }
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
            onTimer(dialog, wParam);
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
