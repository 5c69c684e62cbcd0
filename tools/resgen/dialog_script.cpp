#include "tools/resgen/dialog_script.h"

#include <sstream>

#include "shell/dialog_template.h"
#include "shell/resource_ids.h"

namespace kiv {
namespace {

constexpr const char* kDialogStyle =
    "DS_SETFONT | DS_FIXEDSYS | DS_MODALFRAME | DS_3DLOOK | DS_CENTER | WS_POPUP | WS_VISIBLE | "
    "WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX";

struct ControlClass {
    const char* windowClass;
    const char* style;
    const char* extendedStyle;  // "" for none
};

ControlClass classOf(ControlKind kind)
{
    switch (kind) {
    case ControlKind::PushButton:
        return {"Button", "BS_PUSHBUTTON | WS_TABSTOP", ""};
    case ControlKind::ListBox:
        return {"ListBox",
                "LBS_SORT | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_BORDER | WS_VSCROLL | "
                "WS_HSCROLL | WS_TABSTOP",
                ""};
    case ControlKind::Label:
        return {"Static", "SS_LEFT", ""};
    case ControlKind::Indicator:
        return {"Static", "SS_LEFT | SS_SUNKEN", "WS_EX_STATICEDGE | WS_EX_CLIENTEDGE"};
    case ControlKind::GroupBox:
        return {"Button", "BS_GROUPBOX", ""};
    case ControlKind::AddressEntry:
        return {"SysIPAddress32", "WS_TABSTOP", ""};
    case ControlKind::Picture:
        return {"Static", "SS_BITMAP", ""};
    }
    return {"Static", "SS_LEFT", ""};
}

// A picture control names its bitmap in place of a caption; only the radar
// has one.
std::string controlText(const DialogControl& control)
{
    if (control.kind == ControlKind::Picture && control.id == IDC_RADAR)
        return std::to_string(IDB_RADAR_FIRST);
    return rcStringLiteral(control.caption);
}

}  // namespace

std::string rcStringLiteral(const std::string& text)
{
    std::string literal = "\"";
    for (char c : text) {
        literal += c;
        if (c == '"')
            literal += '"';
    }
    return literal + "\"";
}

std::string mainDialogScript()
{
    std::ostringstream rc;
    rc << "// Written by varn-resgen from the control table in shell/dialog_template.cpp.\n"
       << "// Do not edit: change the table instead.\n\n";
    const DialogRect& r = kMainDialog.rect;
    rc << IDD_VARNWIN32 << " DIALOG " << r.x << ", " << r.y << ", " << r.width << ", " << r.height
       << "\n"
       << "STYLE " << kDialogStyle << "\n"
       << "CAPTION " << rcStringLiteral(kMainDialog.caption) << "\n"
       << "FONT " << kMainDialog.fontPointSize << ", " << rcStringLiteral(kMainDialog.fontName)
       << "\n"
       << "BEGIN\n";
    for (const DialogControl& control : kMainDialogControls) {
        const ControlClass cls = classOf(control.kind);
        std::string style = cls.style;
        if (control.startsTabGroup)
            style += " | WS_GROUP";
        if (!control.shown)
            style += " | NOT WS_VISIBLE";
        const DialogRect& c = control.rect;
        rc << "    CONTROL " << controlText(control) << ", " << control.id << ", "
           << rcStringLiteral(cls.windowClass) << ", " << style << ", " << c.x << ", " << c.y
           << ", " << c.width << ", " << c.height;
        if (*cls.extendedStyle != '\0')
            rc << ", " << cls.extendedStyle;
        rc << "\n";
    }
    rc << "END\n";
    return rc.str();
}

}  // namespace kiv
