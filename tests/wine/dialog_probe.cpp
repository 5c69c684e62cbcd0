// varn-dialog-probe.exe: looks at and drives a running VarnWin32 from the
// outside, the way an operator would, for the smoke test under Wine.
//
//   wait-window <caption> <ms>          a top-level dialog with this caption exists
//   wait-text <id> <text> <ms>          control <id> of the main dialog contains <text>
//   wait-colour <id> <r> <g> <b> <ms>   the centre pixel of control <id> has this colour
//   text <id>                           prints the control's text
//   texts <caption>                     prints "id<TAB>text" for each child of that window
//   list-count <id>                     prints the number of entries in list box <id>
//   set-address <a.b.c.d>               fills the IPv4 address entry
//   enter-in-address                    clicks into the address entry, then presses Enter
//   command <id>                        posts WM_COMMAND <id> to the main dialog
//   command-to <caption> <id>           posts WM_COMMAND <id> to that window
//   close                               posts WM_CLOSE to the main dialog
//
// Exit status: 0 done, 1 not found or timed out (with one line on standard
// error saying what was last seen), 2 bad arguments.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr char kMainCaption[] = "Varn Win32";
constexpr DWORD kPollMilliseconds = 100;

// The main dialog's caption: the standalone program's, or the one
// VARN_PROBE_CAPTION names (the dialog as a view of the service).
std::string mainCaption()
{
    const char* caption = std::getenv("VARN_PROBE_CAPTION");
    return caption != nullptr && *caption != '\0' ? caption : kMainCaption;
}

int usage()
{
    std::fprintf(stderr, "varn-dialog-probe: bad arguments (see the source for the commands)\n");
    return 2;
}

std::wstring widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

HWND findDialog(const std::string& caption)
{
    return ::FindWindowW(kDialogClass, widen(caption).c_str());
}

std::string windowText(HWND window)
{
    std::vector<char> buffer(1024, '\0');
    const int length = ::GetWindowTextA(window, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), static_cast<std::size_t>(length > 0 ? length : 0));
}

// Polls `check` until it is true or `milliseconds` have passed.
template <typename Check>
bool waitFor(DWORD milliseconds, Check check)
{
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (;;) {
        if (check())
            return true;
        if (::GetTickCount64() >= deadline)
            return false;
        ::Sleep(kPollMilliseconds);
    }
}

HWND mainControl(int id)
{
    const HWND dialog = findDialog(mainCaption());
    return dialog != nullptr ? ::GetDlgItem(dialog, id) : nullptr;
}

bool centrePixel(HWND control, COLORREF& colour)
{
    RECT rect{};
    if (!::GetWindowRect(control, &rect))
        return false;
    const HDC screen = ::GetDC(nullptr);
    colour = ::GetPixel(screen, (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    ::ReleaseDC(nullptr, screen);
    return colour != CLR_INVALID;
}

bool parseAddress(const std::string& text, DWORD& address)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4 || a > 255 ||
        b > 255 || c > 255 || d > 255)
        return false;
    address = MAKEIPADDRESS(a, b, c, d);
    return true;
}

int run(const std::vector<std::string>& args)
{
    if (args.empty())
        return usage();
    const std::string& command = args[0];
    const auto number = [&args](std::size_t i) { return std::atoi(args.at(i).c_str()); };

    if (command == "wait-window" && args.size() == 3) {
        if (waitFor(static_cast<DWORD>(number(2)), [&] { return findDialog(args[1]) != nullptr; }))
            return 0;
        std::fprintf(stderr, "no dialog with the caption \"%s\"\n", args[1].c_str());
        return 1;
    }
    if (command == "wait-text" && args.size() == 4) {
        std::string seen;
        if (waitFor(static_cast<DWORD>(number(3)), [&] {
                const HWND control = mainControl(number(1));
                seen = control != nullptr ? windowText(control) : "(no control)";
                return seen.find(args[2]) != std::string::npos;
            }))
            return 0;
        std::fprintf(stderr, "control %s shows \"%s\", not \"%s\"\n", args[1].c_str(), seen.c_str(),
                     args[2].c_str());
        return 1;
    }
    if (command == "wait-colour" && args.size() == 6) {
        const COLORREF wanted = RGB(number(2), number(3), number(4));
        COLORREF seen = CLR_INVALID;
        if (waitFor(static_cast<DWORD>(number(5)), [&] {
                const HWND control = mainControl(number(1));
                return control != nullptr && centrePixel(control, seen) && seen == wanted;
            }))
            return 0;
        std::fprintf(stderr, "control %s is %u %u %u, not %s %s %s\n", args[1].c_str(),
                     GetRValue(seen), GetGValue(seen), GetBValue(seen), args[2].c_str(),
                     args[3].c_str(), args[4].c_str());
        return 1;
    }
    if (command == "text" && args.size() == 2) {
        const HWND control = mainControl(number(1));
        if (control == nullptr)
            return 1;
        std::printf("%s\n", windowText(control).c_str());
        return 0;
    }
    if (command == "texts" && args.size() == 2) {
        const HWND window = findDialog(args[1]);
        if (window == nullptr)
            return 1;
        for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr;
             child = ::GetWindow(child, GW_HWNDNEXT))
            std::printf("%d\t%s\n", ::GetDlgCtrlID(child), windowText(child).c_str());
        return 0;
    }
    if (command == "list-count" && args.size() == 2) {
        const HWND list = mainControl(number(1));
        if (list == nullptr)
            return 1;
        std::printf("%ld\n", static_cast<long>(::SendMessageA(list, LB_GETCOUNT, 0, 0)));
        return 0;
    }
    if (command == "set-address" && args.size() == 2) {
        DWORD address = 0;
        if (!parseAddress(args[1], address))
            return usage();
        const HWND entry = mainControl(40026);
        if (entry == nullptr)
            return 1;
        ::SendMessageA(entry, IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
        return 0;
    }
    if (command == "enter-in-address" && args.size() == 1) {
        // Real input, as an operator gives it: a click into the first field
        // puts the focus there, then Enter goes to whatever has the focus.
        const HWND entry = mainControl(40026);
        const HWND field = entry != nullptr ? ::GetWindow(entry, GW_CHILD) : nullptr;
        RECT rect{};
        if (field == nullptr || !::GetWindowRect(field, &rect))
            return 1;
        ::SetForegroundWindow(::GetAncestor(entry, GA_ROOT));
        ::SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        INPUT inputs[4] = {};
        inputs[0].type = INPUT_MOUSE;
        inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        inputs[1].type = INPUT_MOUSE;
        inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        inputs[2].type = INPUT_KEYBOARD;
        inputs[2].ki.wVk = VK_RETURN;
        inputs[3].type = INPUT_KEYBOARD;
        inputs[3].ki.wVk = VK_RETURN;
        inputs[3].ki.dwFlags = KEYEVENTF_KEYUP;
        ::SendInput(2, inputs, sizeof(INPUT));
        const DWORD thread = ::GetWindowThreadProcessId(entry, nullptr);
        HWND focus = nullptr;
        if (!waitFor(5000, [&] {
                GUITHREADINFO info{};
                info.cbSize = sizeof info;
                focus = ::GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
                return focus != nullptr && ::IsChild(entry, focus);
            })) {
            std::fprintf(stderr, "the click left the focus on %d, not in the address entry\n",
                         focus != nullptr ? ::GetDlgCtrlID(focus) : 0);
            return 1;
        }
        return ::SendInput(2, inputs + 2, sizeof(INPUT)) == 2 ? 0 : 1;
    }
    if ((command == "command" && args.size() == 2) || (command == "command-to" && args.size() == 3)) {
        const bool toMain = command == "command";
        const HWND window = findDialog(toMain ? mainCaption() : args[1]);
        if (window == nullptr)
            return 1;
        const int id = number(toMain ? 1 : 2);
        return ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0) ? 0 : 1;
    }
    if (command == "close" && args.size() == 1) {
        const HWND dialog = findDialog(mainCaption());
        return dialog != nullptr && ::PostMessageA(dialog, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    return usage();
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    const int status = run(args);
    std::fflush(stdout);
    return status;
}
