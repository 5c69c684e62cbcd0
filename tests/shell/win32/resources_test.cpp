// The compiled resources of VarnWin32.exe, read back through the Windows
// loaders: this test program links the same resource object as the program.
#include "shell/resource_ids.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "shell/art/radar_art.h"
#include "shell/dialog_template.h"

namespace {

using kiv::ControlKind;
using kiv::DialogControl;

constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

HMODULE self()
{
    return ::GetModuleHandleW(nullptr);
}

const char* expectedClass(ControlKind kind)
{
    switch (kind) {
    case ControlKind::PushButton:
    case ControlKind::GroupBox:
        return "Button";
    case ControlKind::ListBox:
        return "ListBox";
    case ControlKind::AddressEntry:
        return "SysIPAddress32";
    default:
        return "Static";
    }
}

// The raw bytes of a resource in one language; empty when it is missing.
std::vector<unsigned char> resourceBytes(LPCSTR type, LPCSTR name, WORD language)
{
    const HRSRC found = ::FindResourceExA(self(), type, name, language);
    if (found == nullptr)
        return {};
    const HGLOBAL loaded = ::LoadResource(self(), found);
    const auto* data = static_cast<const unsigned char*>(::LockResource(loaded));
    return std::vector<unsigned char>(data, data + ::SizeofResource(self(), found));
}

// Dialog 107 as the resource compiler wrote it: a classic DLGTEMPLATE
// followed by one DLGITEMTEMPLATE per control, each on a DWORD boundary.
struct TemplateItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    std::wstring windowClass;  // an ordinal class is given its name
    std::wstring text;
    int textOrdinal = -1;      // a resource id in place of the text
};

struct DialogResource {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    bool hasMenu = false;
    bool hasClass = false;
    std::wstring caption;
    WORD pointSize = 0;
    std::wstring face;
    std::vector<TemplateItem> items;
    bool extended = false;
};

class TemplateReader
{
public:
    explicit TemplateReader(const std::vector<unsigned char>& bytes) : mBytes(bytes) {}

    WORD word()
    {
        if (mAt + 2 > mBytes.size())
            throw std::out_of_range("template cut short");
        const WORD value = static_cast<WORD>(mBytes[mAt] | (mBytes[mAt + 1] << 8));
        mAt += 2;
        return value;
    }
    DWORD dword()
    {
        const DWORD low = word();
        return low | (static_cast<DWORD>(word()) << 16);
    }
    short coordinate() { return static_cast<short>(word()); }
    std::wstring string()
    {
        std::wstring text;
        for (WORD c = word(); c != 0; c = word())
            text += static_cast<wchar_t>(c);
        return text;
    }
    // A name or an ordinal (0xFFFF and the number): empty or "#n" for none.
    std::wstring nameOrOrdinal(int& ordinal)
    {
        ordinal = -1;
        const WORD first = word();
        if (first == 0xFFFF) {
            ordinal = word();
            return std::wstring();
        }
        if (first == 0)
            return std::wstring();
        std::wstring text(1, static_cast<wchar_t>(first));
        return text + string();
    }
    void alignToDword() { mAt = (mAt + 3) & ~static_cast<std::size_t>(3); }
    void skip(std::size_t count) { mAt += count; }

private:
    const std::vector<unsigned char>& mBytes;
    std::size_t mAt = 0;
};

std::wstring predefinedClass(int ordinal)
{
    switch (ordinal) {
    case 0x80: return L"Button";
    case 0x81: return L"Edit";
    case 0x82: return L"Static";
    case 0x83: return L"ListBox";
    case 0x84: return L"ScrollBar";
    case 0x85: return L"ComboBox";
    default: return L"#" + std::to_wstring(ordinal);
    }
}

DialogResource readDialog107()
{
    const std::vector<unsigned char> bytes =
        resourceBytes(RT_DIALOG, MAKEINTRESOURCEA(IDD_VARNWIN32), kEnglishUs);
    if (bytes.empty())
        throw std::runtime_error("no dialog 107 in English (US)");
    TemplateReader in(bytes);
    DialogResource dialog;
    dialog.style = in.dword();
    dialog.extended = dialog.style == 0xFFFF0001;  // DIALOGEX starts with version 1, 0xFFFF
    if (dialog.extended)
        return dialog;
    dialog.exStyle = in.dword();
    const WORD count = in.word();
    dialog.x = in.coordinate();
    dialog.y = in.coordinate();
    dialog.cx = in.coordinate();
    dialog.cy = in.coordinate();
    int ordinal = -1;
    dialog.hasMenu = !in.nameOrOrdinal(ordinal).empty() || ordinal != -1;
    dialog.hasClass = !in.nameOrOrdinal(ordinal).empty() || ordinal != -1;
    dialog.caption = in.string();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = in.word();
        dialog.face = in.string();
    }
    for (WORD i = 0; i < count; ++i) {
        in.alignToDword();
        TemplateItem item;
        item.style = in.dword();
        item.exStyle = in.dword();
        item.x = in.coordinate();
        item.y = in.coordinate();
        item.cx = in.coordinate();
        item.cy = in.coordinate();
        item.id = in.word();
        item.windowClass = in.nameOrOrdinal(ordinal);
        if (ordinal != -1)
            item.windowClass = predefinedClass(ordinal);
        item.text = in.nameOrOrdinal(item.textOrdinal);
        in.skip(in.word());  // creation data
        dialog.items.push_back(item);
    }
    return dialog;
}

std::wstring widen(const char* text)
{
    return std::wstring(text, text + std::strlen(text));
}

TEST(MainDialogTemplate, ClassicTemplateWithTheDialogsStyleFontAndCaption)
{
    const DialogResource dialog = readDialog107();
    ASSERT_FALSE(dialog.extended) << "dialog 107 must be a classic DIALOG, not DIALOGEX";
    EXPECT_EQ(static_cast<DWORD>(DS_SETFONT | DS_FIXEDSYS | DS_MODALFRAME | DS_3DLOOK | DS_CENTER |
                                 WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              dialog.style);
    EXPECT_EQ(0u, dialog.exStyle);
    EXPECT_EQ(kiv::kMainDialog.rect.x, dialog.x);
    EXPECT_EQ(kiv::kMainDialog.rect.y, dialog.y);
    EXPECT_EQ(kiv::kMainDialog.rect.width, dialog.cx);
    EXPECT_EQ(kiv::kMainDialog.rect.height, dialog.cy);
    EXPECT_FALSE(dialog.hasMenu);
    EXPECT_FALSE(dialog.hasClass);
    EXPECT_EQ(L"Varn Win32", dialog.caption);
    EXPECT_EQ(8, dialog.pointSize);
    EXPECT_EQ(L"Ms Shell Dlg", dialog.face);
    EXPECT_EQ(kiv::kMainDialogControls.size(), dialog.items.size());
}

// Control by control, in template (tab) order.
TEST(MainDialogTemplate, ControlsFollowTheTableInOrder)
{
    const DialogResource dialog = readDialog107();
    ASSERT_EQ(kiv::kMainDialogControls.size(), dialog.items.size());
    for (std::size_t i = 0; i < dialog.items.size(); ++i) {
        const DialogControl& control = kiv::kMainDialogControls[i];
        const TemplateItem& item = dialog.items[i];
        SCOPED_TRACE("control " + std::to_string(i) + ": id " + std::to_string(control.id) + " \"" +
                     control.caption + "\"");
        EXPECT_EQ(static_cast<WORD>(control.id), item.id);
        // Class names are matched without regard to case, as Windows does.
        EXPECT_EQ(0, ::_wcsicmp(widen(expectedClass(control.kind)).c_str(), item.windowClass.c_str()))
            << std::string(item.windowClass.begin(), item.windowClass.end());
        EXPECT_EQ(control.shown, (item.style & WS_VISIBLE) != 0);
        EXPECT_EQ(control.startsTabGroup, (item.style & WS_GROUP) != 0);
        EXPECT_EQ(control.rect.x, item.x);
        EXPECT_EQ(control.rect.y, item.y);
        EXPECT_EQ(control.rect.width, item.cx);
        EXPECT_EQ(control.rect.height, item.cy);

        const DWORD style = item.style;
        switch (control.kind) {
        case ControlKind::PushButton:
            EXPECT_EQ(static_cast<DWORD>(BS_PUSHBUTTON), style & BS_TYPEMASK);  // Enter stays "Exit"
            EXPECT_EQ(widen(control.caption), item.text);
            break;
        case ControlKind::GroupBox:
            EXPECT_EQ(static_cast<DWORD>(BS_GROUPBOX), style & BS_TYPEMASK);
            EXPECT_EQ(widen(control.caption), item.text);
            break;
        case ControlKind::ListBox: {
            const DWORD wanted = LBS_SORT | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_BORDER |
                                 WS_VSCROLL | WS_HSCROLL;
            EXPECT_EQ(wanted, style & wanted);
            break;
        }
        case ControlKind::Label:
            EXPECT_EQ(static_cast<DWORD>(SS_LEFT), style & SS_TYPEMASK);
            EXPECT_EQ(widen(control.caption), item.text);
            break;
        case ControlKind::Indicator:
            EXPECT_EQ(static_cast<DWORD>(SS_SUNKEN), style & SS_SUNKEN);
            EXPECT_EQ(static_cast<DWORD>(WS_EX_STATICEDGE | WS_EX_CLIENTEDGE), item.exStyle);
            EXPECT_EQ(L"", item.text);
            break;
        case ControlKind::AddressEntry:
            EXPECT_EQ(L"", item.text);
            break;
        case ControlKind::Picture:
            EXPECT_EQ(static_cast<DWORD>(SS_BITMAP), style & SS_TYPEMASK);
            EXPECT_EQ(control.id == IDC_RADAR ? IDB_RADAR_FIRST : -1, item.textOrdinal);
            break;
        }
    }
}

TEST(ProgramResources, RadarFramesAreNeutral32BitBitmaps)
{
    for (int id = kiv::kRadarFirstBitmapId; id <= kiv::kRadarLastBitmapId; ++id) {
        SCOPED_TRACE("bitmap " + std::to_string(id));
        const std::vector<unsigned char> bytes = resourceBytes(RT_BITMAP, MAKEINTRESOURCEA(id), kNeutral);
        ASSERT_EQ(40u + 106u * 107u * 4u, bytes.size());  // 45,408 bytes
        BITMAPINFOHEADER header{};
        std::memcpy(&header, bytes.data(), sizeof header);
        EXPECT_EQ(106, header.biWidth);
        EXPECT_EQ(107, header.biHeight);
        EXPECT_EQ(32, header.biBitCount);
        EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.biCompression);

        const HBITMAP loaded = ::LoadBitmapW(self(), MAKEINTRESOURCEW(id));
        EXPECT_NE(nullptr, loaded);
        ::DeleteObject(loaded);
    }
}

TEST(ProgramResources, IconGroupsHoldA256Colour16AndA24Bit32Image)
{
#pragma pack(push, 2)
    struct GroupIconEntry {
        BYTE width, height, colourCount, reserved;
        WORD planes, bitCount;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    for (int group : {IDI_VARNWIN32, IDI_VARNWIN32_LARGE}) {
        SCOPED_TRACE("icon group " + std::to_string(group));
        const std::vector<unsigned char> directory =
            resourceBytes(RT_GROUP_ICON, MAKEINTRESOURCEA(group), kEnglishUs);
        ASSERT_EQ(6u + 2u * sizeof(GroupIconEntry), directory.size());
        GroupIconEntry entries[2];
        std::memcpy(entries, directory.data() + 6, sizeof entries);
        EXPECT_EQ(16, entries[0].width);
        EXPECT_EQ(8, entries[0].bitCount);
        EXPECT_EQ(32, entries[1].width);
        EXPECT_EQ(24, entries[1].bitCount);

        for (int size : {kiv::kIconSmallSize, kiv::kIconLargeSize}) {
            const auto icon = static_cast<HICON>(
                ::LoadImageW(self(), MAKEINTRESOURCEW(group), IMAGE_ICON, size, size, 0));
            ASSERT_NE(nullptr, icon) << size;
            ICONINFO info{};
            ASSERT_TRUE(::GetIconInfo(icon, &info));
            BITMAP mask{};
            ::GetObjectW(info.hbmMask, sizeof mask, &mask);
            EXPECT_EQ(size, mask.bmWidth);
            ::DeleteObject(info.hbmMask);
            ::DeleteObject(info.hbmColor);
            ::DestroyIcon(icon);
        }
    }
}

TEST(ProgramResources, ManifestAsksForTheInvokersRightsAndNothingElse)
{
    const std::vector<unsigned char> bytes =
        resourceBytes(RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID, kEnglishUs);
    const std::string manifest(bytes.begin(), bytes.end());
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
    EXPECT_NE(std::string::npos, manifest.find("uiAccess=\"false\""));
    EXPECT_EQ(std::string::npos, manifest.find("<dependency"));
    EXPECT_EQ(std::string::npos, manifest.find("supportedOS"));
}

// What Explorer's properties and inventory tools read: the project's version
// in the fixed part and the strings, the names of the program.
TEST(ProgramResources, VersionInfoNamesTheProgramWithTheProjectsVersion)
{
    std::vector<unsigned char> bytes =
        resourceBytes(RT_VERSION, MAKEINTRESOURCEA(VS_VERSION_INFO), kEnglishUs);
    ASSERT_FALSE(bytes.empty());
    bytes.resize(bytes.size() * 2);  // VerQueryValueW may convert in place

    void* value = nullptr;
    UINT size = 0;
    ASSERT_TRUE(::VerQueryValueW(bytes.data(), L"\\", &value, &size));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    const std::string fileVersion = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
        std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
        std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(VARN_FILE_VERSION, fileVersion);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);

    auto text = [&](const wchar_t* name) {
        std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        void* found = nullptr;
        UINT length = 0;
        if (!::VerQueryValueW(bytes.data(), path.c_str(), &found, &length) || length == 0)
            return std::string();
        std::string narrow;
        for (const wchar_t* c = static_cast<const wchar_t*>(found); *c != L'\0'; ++c)
            narrow += static_cast<char>(*c);
        return narrow;
    };
    EXPECT_EQ("VarnWin32", text(L"ProductName"));
    EXPECT_EQ("VarnWin32.exe", text(L"OriginalFilename"));
    EXPECT_EQ(VARN_PROJECT_VERSION, text(L"ProductVersion"));
    EXPECT_EQ(VARN_PROJECT_VERSION, text(L"FileVersion"));
    EXPECT_FALSE(text(L"CompanyName").empty());
}

}  // namespace
