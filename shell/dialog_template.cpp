#include "shell/dialog_template.h"

#include "shell/resource_ids.h"

namespace kiv {

const DialogTemplate kMainDialog = {"Varn Win32", "Ms Shell Dlg", 8, {0, 0, 537, 223}};

// clang-format off
const std::array<DialogControl, 38> kMainDialogControls = {{
    {IDC_EXIT,               ControlKind::PushButton,   true,  "Exit",                               {0, 0, 24, 14},      false},
    {IDC_CLEAR,              ControlKind::PushButton,   false, "Clear",                              {57, -1, 18, 9},     false},
    {IDC_EVENT_LIST,         ControlKind::ListBox,      false, "",                                   {261, -3, 11, 12},   false},
    {-1,                     ControlKind::Label,        true,  "Total CPU:",                         {77, 10, 36, 8},     false},
    {IDC_CPU,                ControlKind::Label,        true,  "",                                   {123, 10, 19, 8},    false},
    {-1,                     ControlKind::Label,        true,  "OS Description:",                    {63, 25, 50, 8},     false},
    {IDC_OS_DESC,            ControlKind::Label,        true,  "",                                   {123, 25, 220, 8},   false},
    {-1,                     ControlKind::Label,        false, "Local IP In Common with Island IP:", {3, 44, 110, 8},     false},
    {IDC_LOCAL_IP_IN_COMMON, ControlKind::Label,        false, "",                                   {118, 44, 226, 8},   false},
    {-1,                     ControlKind::Label,        true,  "Host Name:",                         {174, 10, 38, 8},    false},
    {IDC_HOST_NAME,          ControlKind::Label,        true,  "",                                   {222, 10, 87, 8},    false},
    {-1,                     ControlKind::Label,        false, "Trigger:",                           {3, 25, 25, 8},      false},
    {IDC_TRIGGER,            ControlKind::Label,        true,  "",                                   {30, 25, 28, 8},     false},
    {-1,                     ControlKind::Label,        true,  "V1.4",                               {439, 2, 16, 8},     false},
    {-1,                     ControlKind::Label,        false, "Island:",                            {3, 35, 22, 8},      false},
    {IDC_ISLAND,             ControlKind::Label,        false, "",                                   {37, 35, 70, 8},     false},
    {-1,                     ControlKind::Label,        false, "Cloud:",                             {135, 35, 21, 8},    false},
    {IDC_CLOUD,              ControlKind::Label,        false, "",                                   {161, 35, 184, 8},   false},
    {IDC_BEACON_INDICATOR0,  ControlKind::Indicator,    true,  "",                                   {18, 77, 30, 30},    false},
    {IDC_BEACON_FRAME,       ControlKind::GroupBox,     true,  "Multicast Beacons",                  {6, 62, 337, 118},   false},
    {IDC_BEACON_INDICATOR1,  ControlKind::Indicator,    true,  "",                                   {18, 111, 30, 30},   false},
    {IDC_BEACON_INDICATOR2,  ControlKind::Indicator,    true,  "",                                   {18, 145, 30, 30},   false},
    {IDC_BEACON_TEXT0,       ControlKind::Label,        true,  "",                                   {57, 79, 272, 22},   false},
    {IDC_BEACON_TEXT1,       ControlKind::Label,        true,  "",                                   {57, 112, 272, 22},  false},
    {IDC_BEACON_TEXT2,       ControlKind::Label,        true,  "",                                   {57, 145, 272, 22},  false},
    {-1,                     ControlKind::GroupBox,     true,  "Ping IP Target",                     {349, 62, 182, 156}, false},
    {IDC_SET_PING_TARGET,    ControlKind::PushButton,   true,  "Set Ping Target IP",                 {351, 199, 63, 14},  true},
    {IDC_PING_ADDRESS,       ControlKind::AddressEntry, true,  "",                                   {423, 199, 105, 15}, false},
    {IDC_PING_INDICATOR2,    ControlKind::Indicator,    true,  "",                                   {355, 145, 30, 30},  false},
    {IDC_PING_INDICATOR1,    ControlKind::Indicator,    true,  "",                                   {355, 111, 30, 30},  false},
    {IDC_PING_INDICATOR0,    ControlKind::Indicator,    true,  "",                                   {355, 77, 30, 30},   false},
    {IDC_PING_TARGET_SHOWN,  ControlKind::Label,        true,  "",                                   {434, 183, 81, 8},   false},
    {-1,                     ControlKind::Label,        true,  "Current Ping Target:",               {354, 183, 64, 8},   false},
    {IDC_PING_TEXT0,         ControlKind::Label,        true,  "",                                   {393, 86, 133, 13},  false},
    {IDC_PING_TEXT1,         ControlKind::Label,        true,  "",                                   {393, 120, 133, 13}, false},
    {IDC_PING_TEXT2,         ControlKind::Label,        true,  "",                                   {393, 154, 133, 13}, false},
    {-1,                     ControlKind::Picture,      true,  "",                                   {304, 2, 75, 56},    false},
    {IDC_RADAR,              ControlKind::Picture,      true,  "",                                   {463, 0, 71, 66},    false},
}};
// clang-format on

const DialogControl* findControl(int id)
{
    for (const DialogControl& control : kMainDialogControls)
        if (control.id == id && id != -1)
            return &control;
    return nullptr;
}

}  // namespace kiv
