// The main dialog's controls in template (and tab) order, with their
// rectangles in dialog units. The Qt dialog builds its widgets from this
// table; the Windows resource script's dialog is written from it.
#pragma once

#include <array>
#include <cstddef>

namespace kiv {

enum class ControlKind {
    PushButton,
    ListBox,
    Label,        // plain static text
    Indicator,    // static with a sunken edge, painted in its state's colour
    GroupBox,
    AddressEntry, // the IPv4 address control
    Picture,      // static showing a bitmap
};

struct DialogRect {
    int x, y, width, height;
};

struct DialogControl {
    int id;              // -1 for controls never addressed
    ControlKind kind;
    bool shown;
    const char* caption; // "" for none
    DialogRect rect;
    bool startsTabGroup;
};

struct DialogTemplate {
    const char* caption;
    const char* fontName;
    int fontPointSize;
    DialogRect rect;
};

extern const DialogTemplate kMainDialog;
extern const std::array<DialogControl, 38> kMainDialogControls;

// The control with this id, or null.
const DialogControl* findControl(int id);

}  // namespace kiv
